#!/usr/bin/env python3
"""Times qev2mid against `wc -l` on the same file.

usage: bench.py QEV2MID [EVENTS] [PAIRS]

Generates EVENTS (default 3,000,000) event lines from a fixed seed, then runs
qev2mid and `wc -l` alternately PAIRS times (default 7) and prints the
medians, the median of the pairs' ratios, and the peak resident set size of qev2mid on that file
and on an empty one (/usr/bin/time -f %M). When csvmidi is installed it is
timed too, on the same events written as CSV.
"""

import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def generate(path, count, seed=1):
    rng = random.Random(seed)
    now = 0
    with open(path, "w") as f:
        lines = []
        for _ in range(count):
            now += rng.randint(0, 50)
            lines.append("%d %d %s %s %d %d\n" % (now // 1000, now % 1000, rng.choice("abcdefghijklmnop"),
                                                  rng.choice("PD"), rng.randint(0, 127), rng.randint(0, 127)))
            if len(lines) == 100000:
                f.write("".join(lines))
                lines = []
        f.write("".join(lines))


def generate_csv(qev, csv):
    """The same events as midicsv's text, for csvmidi."""
    with open(qev) as src, open(csv, "w") as dst:
        out = ["0, 0, Header, 1, 2, 500\n", "1, 0, Start_track\n", "1, 0, Tempo, 500000\n",
               "1, 0, End_track\n", "2, 0, Start_track\n"]
        now = 0
        for line in src:
            s, ms, c, k, n, v = line.split()
            now = int(s) * 1000 + int(ms)
            kind = "Note_on_c" if k == "P" else "Note_off_c"
            out.append("2, %d, %s, %d, %s, %s\n" % (now, kind, ord(c) - 97, n, v))
            if len(out) >= 100000:
                dst.write("".join(out))
                out = []
        out.append("2, %d, End_track\n0, 0, End_of_file\n" % now)
        dst.write("".join(out))


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def peak_kib(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, check=True, capture_output=True,
                       text=True)
    return int(r.stderr.strip().splitlines()[-1])


def main():
    qev2mid = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3_000_000
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    with tempfile.TemporaryDirectory() as tmp:
        qev = os.path.join(tmp, "bench.qev")
        generate(qev, count)
        size = os.path.getsize(qev)
        print("input: %d events, %.1f MB" % (count, size / 1e6))
        subprocess.run(["cat", qev], check=True, stdout=subprocess.DEVNULL)  # into the page cache
        ours, wc = [], []
        for _ in range(pairs):
            ours.append(timed([qev2mid, qev]))
            wc.append(timed(["wc", "-l", qev]))
        q, w = statistics.median(ours), statistics.median(wc)
        ratio = statistics.median(a / b for a, b in zip(ours, wc))
        print("qev2mid: median %.1f ms over %d runs (%.0f MB/s)" % (q * 1e3, pairs, size / q / 1e6))
        print("wc -l:   median %.1f ms over %d runs" % (w * 1e3, pairs))
        print("ratio:   %.2f (median of the %d pairs' ratios)" % (ratio, pairs))
        if os.path.exists("/usr/bin/time"):
            empty = os.path.join(tmp, "empty.qev")
            open(empty, "w").close()
            base, full = peak_kib([qev2mid, empty]), peak_kib([qev2mid, qev])
            print("peak RSS: %d KiB on an empty file, %d KiB on this one (%+d KiB)" %
                  (base, full, full - base))
        else:
            print("peak RSS: /usr/bin/time is not installed")
        if shutil.which("csvmidi"):
            csv = os.path.join(tmp, "bench.csv")
            generate_csv(qev, csv)
            c = statistics.median(timed(["csvmidi", csv, os.path.join(tmp, "csv.mid")])
                                  for _ in range(3))
            print("csvmidi: median %.1f ms over 3 runs on the same events as CSV, %.1f times wc -l" %
                  (c * 1e3, c / w))


if __name__ == "__main__":
    main()

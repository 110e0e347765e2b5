#!/usr/bin/env python3
"""Times qev2mid, or qevcheck, against `wc -l` on the same file.

usage: bench.py QEV2MID|QEVCHECK [EVENTS] [PAIRS]

For qevcheck the events come in note-on and note-off pairs, so that a
correct file gives no findings; random lines would give millions. Its exit
status 1 is accepted all the same.

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


def generate(path, count, seed=1, paired=False):
    rng = random.Random(seed)
    now = 0
    with open(path, "w") as f:
        lines = []
        for i in range(count):
            now += rng.randint(0, 50)
            if not paired:
                chan, kind, note = rng.choice("abcdefghijklmnop"), rng.choice("PD"), rng.randint(0, 127)
            elif i % 2 == 0:
                chan, kind, note = rng.choice("abcdefghijklmnop"), "P", rng.randint(0, 127)
            else:
                kind = "D"
            lines.append("%d %d %s %s %d %d\n" % (now // 1000, now % 1000, chan, kind, note,
                                                  rng.randint(1, 127)))
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


def timed(cmd, ok=(0,)):
    start = time.perf_counter()
    status = subprocess.run(cmd, stdout=subprocess.DEVNULL).returncode
    if status not in ok:
        sys.exit("%s exited with %d" % (" ".join(cmd), status))
    return time.perf_counter() - start


def peak_kib(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, capture_output=True, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def main():
    qev2mid = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3_000_000
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    checker = os.path.basename(qev2mid).startswith("qevcheck")
    name = "qevcheck" if checker else "qev2mid"
    with tempfile.TemporaryDirectory() as tmp:
        qev = os.path.join(tmp, "bench.qev")
        generate(qev, count, paired=checker)
        size = os.path.getsize(qev)
        print("input: %d events, %.1f MB" % (count, size / 1e6))
        subprocess.run(["cat", qev], check=True, stdout=subprocess.DEVNULL)  # into the page cache
        ours, wc = [], []
        for _ in range(pairs):
            ours.append(timed([qev2mid, qev], ok=(0, 1) if checker else (0,)))
            wc.append(timed(["wc", "-l", qev]))
        q, w = statistics.median(ours), statistics.median(wc)
        ratio = statistics.median(a / b for a, b in zip(ours, wc))
        print("%s: median %.1f ms over %d runs (%.0f MB/s)" % (name, q * 1e3, pairs, size / q / 1e6))
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
        if shutil.which("csvmidi") and not checker:
            csv = os.path.join(tmp, "bench.csv")
            generate_csv(qev, csv)
            c = statistics.median(timed(["csvmidi", csv, os.path.join(tmp, "csv.mid")])
                                  for _ in range(3))
            print("csvmidi: median %.1f ms over 3 runs on the same events as CSV, %.1f times wc -l" %
                  (c * 1e3, c / w))


if __name__ == "__main__":
    main()

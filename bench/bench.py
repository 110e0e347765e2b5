#!/usr/bin/env python3
"""Times qev2mid, qevcheck or mid2qev against `wc -l` on the same file.

usage: bench.py QEV2MID|QEVCHECK|MID2QEV [EVENTS] [PAIRS] [OTHER_QEV2MID]

Where valgrind is installed, it also counts the instructions a line takes
under callgrind, for plain lines and for lines with doubled spaces, which
take the field rules: figures that a busy machine does not disturb.

For mid2qev, the events are converted with the qev2mid beside it first, and
mid2qev is timed on that .mid against `wc -l` on the QEV it writes; midicsv
is timed on the same .mid. Ratios are given in wall time and in CPU time
(user + system, from wait4), which a shared machine disturbs less.

For qev2mid it then takes the shapes of files people have (shapes.py):
music, voices, gaps and dense, 300,000 lines each, with the instructions a
line under callgrind (start-up subtracted) and the CPU time against wc -l,
and warns where a count is more than 5% above the one stored there for the
build's plain scan (its CMake cache says which). Given OTHER_QEV2MID, a
qev2mid built with another scan, it does the same for that one, whose
outputs must be the first one's byte for byte.

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
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import shapes


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
    """Wall and CPU seconds of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode not in ok:
        sys.exit("%s exited with %d" % (" ".join(cmd), proc.returncode))
    return wall, usage.ru_utime + usage.ru_stime


def peak_kib(cmd):
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, capture_output=True, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def instructions(cmd):
    """Instructions of one run under callgrind, which do not vary from run to run."""
    r = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd,
                       capture_output=True, text=True)
    for line in r.stderr.splitlines():
        if "refs:" in line:
            return int(line.split("refs:")[1].replace(",", ""))
    sys.exit("callgrind gave no count: " + r.stderr[-300:])


def count_instructions(prog, tmp, checker, count):
    """Instructions per line for plain lines, and for the same lines with
    their spaces doubled, which no plain scan takes."""
    plain = os.path.join(tmp, "plain.qev")
    generate(plain, count, seed=2, paired=checker)
    doubled = os.path.join(tmp, "doubled.qev")
    with open(plain) as src, open(doubled, "w") as dst:
        dst.write(src.read().replace(" ", "  "))
    figures = []
    for path in (plain, doubled):
        figures.append(instructions([prog, path]) / count)
    print("callgrind: %.0f instructions a plain line, %.0f a line with doubled spaces (%d lines)"
          % (figures[0], figures[1], count))


def scan_of(prog):
    """The plain scan a build of qev2mid has: as its CMake cache says, or
    the target's own."""
    cache = os.path.join(os.path.dirname(prog), "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as f:
            for line in f:
                if line.startswith("QEV2MID_SCAN:") and line.strip().split("=", 1)[1]:
                    return line.strip().split("=", 1)[1]
    return "sse2" if platform.machine() == "x86_64" else "swar"


def shape_figures(builds, tmp, pairs):
    """qev2mid on each shape people have, for each build: (scan, path)."""
    mid2qev = os.path.join(os.path.dirname(builds[0][1]), "mid2qev")
    count = 300_000
    counting = shutil.which("valgrind") is not None
    empty = os.path.join(tmp, "empty-shape.qev")
    open(empty, "w").close()
    start_up = {prog: instructions([prog, empty]) if counting else 0 for _, prog in builds}
    for shape in shapes.SHAPES:
        path = os.path.join(tmp, shape + ".qev")
        missing = shapes.make(shape, path, count, mid2qev)
        if missing:
            print("shape %-6s: skipped, %s" % (shape, missing))
            continue
        first = None
        for scan, prog in builds:
            ratios = []
            for _ in range(pairs):
                ours, wc = timed([prog, path])[1], timed(["wc", "-l", path])[1]
                ratios.append(ours / max(wc, 1e-4))
            line = "shape %-6s %-4s: %d lines, CPU %.2f times wc -l (median of %d pairs)" % (
                shape, scan, count, statistics.median(ratios), pairs)
            if counting:
                per_line = (instructions([prog, path]) - start_up[prog]) / count
                line += ", %.0f instructions a line" % per_line
                stored = shapes.STORED.get(scan, {}).get(shape)
                if stored and per_line > stored * 1.05:
                    line += " -- WARNING: more than 5%% above the %d stored" % stored
            print(line)
            with open(path[:-4] + ".mid", "rb") as f:
                written = f.read()
            if first is None:
                first = written
            elif written != first:
                sys.exit("shape %s: the %s build's output differs from the %s build's"
                         % (shape, scan, builds[0][0]))


def report(name, ours, wc, size):
    """Medians of wall and CPU time, and of the pairs' ratios to wc -l."""
    for i, what in ((0, "wall"), (1, "CPU")):
        q = statistics.median(o[i] for o in ours)
        w = statistics.median(x[i] for x in wc)
        ratio = statistics.median(o[i] / max(x[i], 1e-4) for o, x in zip(ours, wc))
        print("%s %s: median %.1f ms (%.0f MB/s); wc -l %.1f ms; ratio %.2f (median of %d pairs)"
              % (name, what, q * 1e3, size / max(q, 1e-6) / 1e6, w * 1e3, ratio, len(ours)))


def main():
    prog = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3_000_000
    pairs = int(sys.argv[3]) if len(sys.argv) > 3 else 7
    base = os.path.basename(prog)
    checker = base.startswith("qevcheck")
    back = base.startswith("mid2qev")
    name = "qevcheck" if checker else "mid2qev" if back else "qev2mid"
    with tempfile.TemporaryDirectory() as tmp:
        qev = os.path.join(tmp, "bench.qev")
        generate(qev, count, paired=checker)
        cmd, wc_input = [prog, qev], qev
        if back:
            subprocess.run([os.path.join(os.path.dirname(prog), "qev2mid"), qev], check=True)
            mid = os.path.join(tmp, "bench.mid")
            wc_input = os.path.join(tmp, "back.qev")
            cmd = [prog, "-f", "-o", wc_input, mid]
            subprocess.run(cmd, check=True)
        size = os.path.getsize(cmd[-1])
        print("input: %d events, %.1f MB" % (count, size / 1e6))
        subprocess.run(["cat", cmd[-1], wc_input], check=True, stdout=subprocess.DEVNULL)
        ours, wc = [], []
        for _ in range(pairs):
            ours.append(timed(cmd, ok=(0, 1) if checker else (0,)))
            wc.append(timed(["wc", "-l", wc_input]))
        report(name, ours, wc, size)
        if os.path.exists("/usr/bin/time"):
            empty = os.path.join(tmp, "empty.qev")
            open(empty, "w").close()
            empty_cmd = [prog, empty]
            if back:
                subprocess.run([os.path.join(os.path.dirname(prog), "qev2mid"), empty], check=True)
                empty_cmd = [prog, "-f", "-o", os.path.join(tmp, "e.qev"), empty[:-4] + ".mid"]
            base_kib, full = peak_kib(empty_cmd), peak_kib(cmd)
            print("peak RSS: %d KiB on an empty file, %d KiB on this one (%+d KiB)" %
                  (base_kib, full, full - base_kib))
        else:
            print("peak RSS: /usr/bin/time is not installed")
        if shutil.which("valgrind") and not back:
            count_instructions(prog, tmp, checker, min(count, 300_000))
        if not checker and not back:
            builds = [prog] + [os.path.abspath(p) for p in sys.argv[4:5]]
            shape_figures([(scan_of(b), b) for b in builds], tmp, pairs)
        if shutil.which("midicsv") and back:
            out = os.path.join(tmp, "out.csv")
            c = [timed(["midicsv", mid, out]) for _ in range(3)]
            w = statistics.median(x[0] for x in wc)
            print("midicsv: median %.1f ms over 3 runs on the same .mid, %.1f times wc -l" %
                  (statistics.median(x[0] for x in c) * 1e3, statistics.median(x[0] for x in c) / w))
        if shutil.which("csvmidi") and not checker and not back:
            csv = os.path.join(tmp, "bench.csv")
            generate_csv(qev, csv)
            c = statistics.median(timed(["csvmidi", csv, os.path.join(tmp, "csv.mid")])[0]
                                  for _ in range(3))
            w = statistics.median(x[0] for x in wc)
            print("csvmidi: median %.1f ms over 3 runs on the same events as CSV, %.1f times wc -l" %
                  (c * 1e3, c / w))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Times mid2qev on the file shapes whose cost once grew with tracks times
tempo changes, and prints the figures.

usage: tempo_bench.py MID2QEV [RUNS]

- format 1: 65,535 tracks, the first with 400,000 tempo changes one tick
  apart, every other with one note after the last of them;
- format 2: 65,535 tracks, each a sequence with one tempo change and one note.

Each is converted RUNS times (default 3); the median wall and CPU time and
the file's size are printed.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

TRACKS = 65535
CHANGES = 400000


def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    return bytes(reversed(out))


def chunk(kind, body):
    return kind + len(body).to_bytes(4, "big") + body


def header(fmt):
    return chunk(b"MThd", fmt.to_bytes(2, "big") + TRACKS.to_bytes(2, "big") + (480).to_bytes(2, "big"))


def tempo(us):
    return b"\xff\x51\x03" + us.to_bytes(3, "big")


EOT = b"\x00\xff\x2f\x00"


def format1():
    tempos = b"".join(b"\x01" + tempo(400000 + i % 200000) for i in range(CHANGES))
    parts = [header(1), chunk(b"MTrk", tempos + EOT)]
    for t in range(1, TRACKS):
        note = vlq(CHANGES + t % 1000) + bytes([0x90 | t % 16, 60, 100]) + b"\x01" + bytes([0x80 | t % 16, 60, 0])
        parts.append(chunk(b"MTrk", note + EOT))
    return b"".join(parts)


def format2():
    parts = [header(2)]
    for t in range(TRACKS):
        body = b"\x00" + tempo(300000 + t) + b"\x00" + bytes([0x90 | t % 16, 60, 100]) + b"\x60" + \
            bytes([0x80 | t % 16, 60, 0])
        parts.append(chunk(b"MTrk", body + EOT))
    return b"".join(parts)


def timed(cmd):
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed" % " ".join(cmd))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    prog = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as tmp:
        for name, make in (("format 1, 65,535 tracks, 400,000 tempo changes", format1),
                           ("format 2, 65,535 tracks, a tempo change each", format2)):
            mid = os.path.join(tmp, "t.mid")
            with open(mid, "wb") as f:
                f.write(make())
            out = os.path.join(tmp, "t.qev")
            times = [timed([prog, "-f", "-o", out, mid]) for _ in range(runs)]
            print("mid2qev, %s (%.1f MB): median %.0f ms wall, %.0f ms CPU over %d runs" %
                  (name, os.path.getsize(mid) / 1e6, statistics.median(t[0] for t in times) * 1e3,
                   statistics.median(t[1] for t in times) * 1e3, runs))


if __name__ == "__main__":
    main()

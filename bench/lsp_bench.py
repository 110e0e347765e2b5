#!/usr/bin/env python3
"""Times the language server as an editor uses it, and prints the figures.

usage: lsp_bench.py QEVCHECK [CHANGES]

For documents of 10,000 and 100,000 lines (a tune in four voices, one line
in fifty with a finding), and of 10,000 lines written voice after voice
(three quarters of them out of order), the time from sending a change of one line to
receiving its diagnostics, over CHANGES changes (default 50), each of which
makes or mends a finding in the middle of the document; and the times to
open the document, to answer a hover and to offer the quick fixes of a
line. Medians and the slowest, in milliseconds, wall time as the editor
sees it, through the pipes.
"""

import os
import random
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "lsp"))
from client import Server  # noqa: E402


def tune(lines, by_voice):
    rng = random.Random(lines)
    events, t = [], 0
    for i in range(lines // 2):
        t += rng.randrange(0, 400)
        chan, note = "abcd"[i % 4], rng.randrange(36, 90)
        kind = "p" if i % 25 == 0 else "P"  # a kind letter in lower case: one finding
        events.append((t, "%s %s %d %d" % (chan, kind, note, rng.randrange(40, 110))))
        events.append((t + 200, "%s D %d" % (chan, note)))
    # Written voice after voice, every voice after the first is out of order.
    events.sort(key=lambda e: (e[1][0], e[0]) if by_voice else e[0])
    out = ["%d %d %s" % (t // 1000, t % 1000, e) for t, e in events]
    return "\n".join(out) + "\n", out


def timed(action):
    start = time.perf_counter()
    result = action()
    return (time.perf_counter() - start) * 1000, result


def measure(qevcheck, lines, changes, by_voice=False):
    text, rows = tune(lines, by_voice)
    server = Server(qevcheck)
    server.initialize()
    uri = "untitled:bench-%d" % lines
    opened, d = timed(lambda: server.open(uri, text))
    middle = lines // 2
    times = []
    for n in range(changes):
        # Alternately spoil the middle line's kind letter and mend it.
        line = rows[middle].replace(" P ", " p ") if n % 2 == 0 else rows[middle]
        change = {"range": {"start": {"line": middle, "character": 0},
                            "end": {"line": middle, "character": len(rows[middle])}},
                  "text": line}
        version = n + 2

        def send_and_wait():
            server.notify("textDocument/didChange", {
                "textDocument": {"uri": uri, "version": version}, "contentChanges": [change]})
            while True:
                p = server.diagnostics(uri)
                if p["version"] == version:
                    return p

        ms, _ = timed(send_and_wait)
        times.append(ms)
    position = {"textDocument": {"uri": uri}, "position": {"line": middle, "character": 0}}
    hover, _ = timed(lambda: server.request("textDocument/hover", position))
    actions, _ = timed(lambda: server.request("textDocument/codeAction", {
        "textDocument": {"uri": uri},
        "range": {"start": position["position"], "end": position["position"]},
        "context": {"diagnostics": []}}))
    server.request("shutdown")
    server.notify("exit")
    server.finish()
    print("%7d lines%s, %d findings: change to diagnostics %.1f ms median, %.1f ms slowest "
          "(%d changes); open %.1f ms, hover %.1f ms, quick fixes %.1f ms"
          % (lines, " voice by voice" if by_voice else "", len(d["diagnostics"]), statistics.median(times), max(times), changes,
             opened, hover, actions))


def main():
    qevcheck = sys.argv[1]
    changes = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    for lines in (10000, 100000):
        measure(qevcheck, lines, changes)
    measure(qevcheck, 10000, changes, by_voice=True)


main()

#!/usr/bin/env python3
"""Counts how many of the mistakes people make writing QEV by hand qevcheck
can repair: for each finding (notes aside), whether it has a safe fix, an
unsafe one, or none, in qevcheck --format=json.

usage: fix_counts.py QEVCHECK

Each mistake stands in a small file of its own, between a correct note and
its note off, so that one mistake's findings do not spill into another's;
of a mistake in one line, only the findings on that line count.
"""

import collections
import json
import os
import subprocess
import sys
import tempfile

# (what was meant, the line as written): one line each, but for the
# mistakes of a whole file, which are the file itself.
LINES = [
    ("1.5 s as a decimal", "1.5 a P 62 90"),
    ("three decimals", "0.250 a P 62 90"),
    ("decimal seconds and milliseconds", "1.5 0 a P 62 90"),
    ("minutes and seconds", "0:02 0 a P 62 90"),
    ("a unit after the milliseconds", "0 500ms a P 62 90"),
    ("a unit after the seconds", "2s 0 a P 62 90"),
    ("an upper-case channel", "0 0 B P 62 90"),
    ("a lower-case kind", "0 0 a p 62 90"),
    ("a kind word", "0 0 a On 62 90"),
    ("a channel number", "0 0 1 P 62 90"),
    ("a channel past p", "0 0 q P 62 90"),
    ("a note name", "0 0 a P D4 90"),
    ("a note name with a sharp", "0 0 a P F#4 90"),
    ("the letter O in the note", "0 0 a P 6O 90"),
    ("the letter O in the velocity", "0 0 a P 62 1OO"),
    ("hexadecimal", "0 0 a P 0x3E 90"),
    ("a note above 127", "0 0 a P 128 90"),
    ("a velocity above 127", "0 0 a P 62 200"),
    ("a missing velocity", "0 0 a P 62"),
    ("a velocity in words", "0 0 a P 62 loud"),
    ("a minus sign", "-1 0 a P 62 90"),
    ("an en dash for a minus", "\u20131 0 a P 62 90"),
    ("a comma after a field", "0 0 a P 62, 90"),
    ("commas for spaces", "0,0,a,P,62,90"),
    ("a decimal comma", "1,5 a P 62 90"),
    ("a no-break space", "0\u00a00 a P 62 90"),
    ("a narrow no-break space", "0 0 a P\u202f62 90"),
    ("a full-width digit", "0 0 a P \uff16\uff12 90"),
    ("a comment without '#'", "12 bars of intro"),
    ("kind and note run together", "0 0 a P62 90"),
    ("channel and kind run together", "0 0 aP 62 90"),
    ("a semicolon after the velocity", "0 0 a P 62 90;"),
]

FILES = [
    ("a byte-order mark", "\ufeff0 0 a P 60 90\n0 1 a D 60\n"),
    ("no last line feed", "0 0 a P 60 90\n0 1 a D 60"),
    ("lines ending in a CR alone", "0 0 a P 60 90\r0 1 a D 60\r"),
    ("UTF-16 text", None),
    ("a stray note off", "0 0 a P 60 90\n0 1 a D 60\n0 2 a D 61\n"),
    ("a note never ended", "0 0 a P 60 90\n0 0 b P 64 90\n0 1 a D 60\n"),
    ("a second voice after the first",
     "0 0 a P 60 90\n1 0 a D 60\n# voice two\n0 0 b P 64 90\n1 0 b D 64\n"),
]


def main():
    checker = sys.argv[1]
    tally = collections.Counter()
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        cases = [(what, "0 0 c P 60 90\n" + line + "\n9 0 a D 62\n9 0 c D 60\n", 2)
                 for what, line in LINES]
        cases += [(what, text, None) for what, text in FILES]
        for what, text, only in cases:
            path = os.path.join(tmp, "m.qev")
            data = (("0 0 a P 60 90\n0 1 a D 60\n".encode("utf-16")) if text is None
                    else text.encode("utf-8"))
            with open(path, "wb") as f:
                f.write(data)
            out = subprocess.run([checker, "--format=json", path], capture_output=True).stdout
            kinds = []
            for line in out.decode().splitlines():
                finding = json.loads(line)
                # A mistake's own line, where it has one: a note that then
                # never ends is its consequence.
                if finding["severity"] == "note" or (only and finding["line"] != only):
                    continue
                kind = finding.get("fix", {}).get("applicability", "none")
                tally[kind] += 1
                kinds.append(kind)
            rows.append((what, ", ".join(kinds) or "no finding"))
    width = max(len(w) for w, _ in rows)
    for what, kinds in rows:
        print("%-*s  %s" % (width, what, kinds))
    print("%d mistakes, %d findings: %d with a safe fix, %d with an unsafe one, %d with none"
          % (len(rows), sum(tally.values()), tally["safe"], tally["unsafe"], tally["none"]))


if __name__ == "__main__":
    main()

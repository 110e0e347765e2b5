"""Each input opened as a file: the findings on the page must be qevcheck's
JSON, with the fixes it offers, the downloaded .mid qev2mid's output byte
for byte, and for a MIDI file the editor's text mid2qev's, its .mid named
apart from the original."""
import json
import os
import shutil

from driver import run

# Each row: the file's name and bytes.
CASES = [
    ("song.qev", b"melody\n0 0 a P 60 90\n0 500 a D 60\n1 0 a P 62 90\n1 500 a D 62\n"
                 b"bass\n0 0 b P 43 70\n2 0 b D 43\n"),
    ("crlf.qev", b"0 0 a P 60 90\r\n0 500 a D 60\r\n1.5 0 a P 62 90\r\n"),
    ("mark.qev", b"0 0 a P 60 90\n0 500 a D 60\n\x1a0 0 a P 1 1 and more\n"),
    ("bom.qev", b"\xef\xbb\xbf0 0 a P 60 90\n0 500 a D 60\n"),
    ("no-final-lf.qev", b"0 0 a P 60 90\n0 500 a D 60"),
    ("text.txt", b"caf\xc3\xa9 \xff\n0 0 \xc3\xa9 P 1 1\n0 0 a P 60 1OO\n1 0 a D 60\n"),
    ("fixes.qev", b"0.5 a p 60 90\n0 0 a P C4 90\n0 500 A D 60\n"),
    ("empty.qev", b""),
]



compared = {"findings": 0, "downloads": 0}


def check_case(browser, tools, path, name):
    failures = []
    is_midi = name.endswith(".mid")
    browser.open_file(path)

    # What the page checks: the file's own bytes, or mid2qev's text.
    qev_path = path
    if is_midi:
        back = run(tools["mid2qev"], "-o", "-", path)
        text = browser.eval("window.qevStudio.text()")
        if text != back.stdout.decode():
            failures.append(f"{name}: the editor holds {text!r}, mid2qev gives {back.stdout!r}")
        qev_path = path[:-4] + ".from-midi.qev"
        with open(qev_path, "wb") as f:
            f.write(back.stdout)
    want = [json.loads(line) for line in run(tools["qevcheck"], "--format=json", qev_path).stdout.splitlines()]
    want_fixes = []
    for i, finding in enumerate(want):
        del finding["file"]
        # The page offers each fix by its title and says what an unsafe one
        # changes; its edits are seen applied, in fixes.py.
        fix = finding.pop("fix", None)
        if fix:
            want_fixes.append({"finding": i, "title": fix["title"], "applicability": fix["applicability"],
                               "change": fix.get("change", "")})
    got = browser.eval("window.qevStudio.findings()")
    if got != want:
        failures.append(f"{name}: findings {got} differ from qevcheck's {want}")
    got_fixes = browser.eval("window.qevStudio.fixes()")
    if got_fixes != want_fixes:
        failures.append(f"{name}: fixes {got_fixes} differ from qevcheck's {want_fixes}")
    compared["findings"] += len(want)

    # The download, against qev2mid's own output.
    converted = os.path.join(os.path.dirname(path), "converted.qev")
    shutil.copy(qev_path, converted)
    ok = run(tools["qev2mid"], converted).returncode == 0
    disabled = browser.eval("document.getElementById('download-mid').disabled")
    if disabled == ok:
        failures.append(f"{name}: download {'off' if disabled else 'on'}, qev2mid {'converts' if ok else 'fails'}")
    if ok:
        # A .mid made from a MIDI file holds its notes only: it must not be
        # taken for the original.
        want_name = name.rsplit(".", 1)[0] + (".notes.mid" if is_midi else ".mid")
        got_mid = browser.download("download-mid", want_name)
        with open(converted[:-4] + ".mid", "rb") as f:
            want_mid = f.read()
        compared["downloads"] += 1
        if got_mid != want_mid:
            failures.append(f"{name}: downloaded {want_name} {os.listdir(browser.downloads)} differs from qev2mid's")
    return failures

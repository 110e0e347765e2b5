"""Repairs on the page, a row for each promise: a finding's Fix mends its
line in the file's own line ends; the browser's undo takes back a fix, and
Fix all, each as one step; Fix all gives what qevcheck --fix gives for the
bytes Save writes, and leaves the unsafe fixes alone; Interleave by time
makes every event of voices written one after another convert; the .mid
after a fix is qev2mid's for the fixed text; and past the editor's lines a
fix changes the page's copy, which Save writes whole."""
import json
import os

from driver import run, run_rows

rows = {"count": 0}

# Several rounds of safe fixes, CR LF line ends, a last line with no line
# feed, and a note name, whose fix is unsafe.
ROUNDS = (b"0 0 a P C4 9\r\n1.5 A p 60 9\r\n1\xc2\xa0500 a D 60\r\n2 0 a P 62 9\r\n2 500 a D 62")
VOICES = b"0 0 a P 60 90\n1 0 a D 60\n# voice two\n0 0 b P 64 90\n1 0 b D 64\n"


def write(inputs, name, data):
    path = os.path.join(inputs, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def click_fix(browser, title):
    """Clicks the Fix of the first finding whose fix is title, and waits for
    the check after it; False where no finding offers it."""
    offered = [f["finding"] for f in browser.eval("window.qevStudio.fixes()") if f["title"] == title]
    if not offered:
        return False
    checks = browser.eval("window.qevStudio.checks()")
    browser.eval(f"showFinding({offered[0]})")
    browser.click_selector(f'#findings li[data-index="{offered[0]}"] button.fix')
    browser.wait(f"window.qevStudio.checks() > {checks}")
    return True


def undo(browser):
    """Ctrl+Z in the editor, as a person takes a step back."""
    checks = browser.eval("window.qevStudio.checks()")
    browser.eval("document.getElementById('editor').focus(); document.execCommand('undo')")
    browser.wait(f"window.qevStudio.checks() > {checks}")


def qevcheck_fix(tools, inputs, data):
    path = write(inputs, "by-qevcheck.qev", data)
    run(tools["qevcheck"], "--fix", path)
    with open(path, "rb") as f:
        return f.read()


def mid_faults(browser, tools, inputs, saved):
    """The .mid download against qev2mid's output for the saved text."""
    path = write(inputs, "fixed.qev", saved)
    run(tools["qev2mid"], path)
    with open(path[:-4] + ".mid", "rb") as f:
        want = f.read()
    got = browser.download("download-mid", browser.eval("midName()"))
    return [] if got == want else [f"the .mid after the fix is not qev2mid's for {saved!r}"]


def check_one_fix(browser, tools, inputs):
    faults = []
    before = b"0 0 a p 60 90\r\n0 500 a D 60\r\n"
    browser.open_file(write(inputs, "one.qev", before))
    if not click_fix(browser, "Write the kind letter in upper case"):
        return ["no Fix for a lower-case kind letter"]
    if browser.eval("window.qevStudio.text()") != "0 0 a P 60 90\n0 500 a D 60\n":
        faults.append(f"the editor holds {browser.eval('window.qevStudio.text()')!r}")
    if browser.eval("window.qevStudio.findings()"):
        faults.append(f"findings after the fix: {browser.eval('window.qevStudio.findings()')}")
    saved = browser.download("save", "one.qev")
    if saved != b"0 0 a P 60 90\r\n0 500 a D 60\r\n":
        faults.append(f"Save after the fix gives {saved!r}")
    undo(browser)
    if browser.download("save", "one.qev") != before:
        faults.append("after an undo, Save does not give the file as it was")
    if [f["code"] for f in browser.eval("window.qevStudio.findings()")] != ["bad-kind", "stray-note-off"]:
        faults.append(f"after an undo, the findings are {browser.eval('window.qevStudio.findings()')}")
    return faults


def check_fix_all(browser, tools, inputs):
    faults = []
    browser.open_file(write(inputs, "rounds.qev", ROUNDS))
    before = browser.download("save", "rounds.qev")
    checks = browser.eval("window.qevStudio.checks()")
    browser.click_element("fix-all")
    browser.wait(f"window.qevStudio.checks() > {checks}")
    saved = browser.download("save", "rounds.qev")
    want = qevcheck_fix(tools, inputs, before)
    if saved != want:
        faults.append(f"Fix all saves {saved!r}, qevcheck --fix makes {want!r}")
    if b"C4" not in saved:
        faults.append("Fix all applied an unsafe fix")
    faults += mid_faults(browser, tools, inputs, saved)
    undo(browser)
    if browser.download("save", "rounds.qev") != before:
        faults.append("one undo does not take back Fix all")
    return faults


def check_interleave(browser, tools, inputs):
    faults = []
    browser.open_file(write(inputs, "voices.qev", VOICES))
    change = browser.eval("(document.querySelector('#findings .change') || {}).textContent")
    if not change or not change.startswith("Unsafe: moves lines"):
        faults.append(f"the unsafe fix says {change!r}")
    if not click_fix(browser, "Interleave the lines by time"):
        return faults + ["no Interleave for voices one after the other"]
    saved = browser.download("save", "voices.qev")
    left = run(tools["qevcheck"], "--format=json", write(inputs, "interleaved.qev", saved)).stdout
    if [json.loads(line)["code"] for line in left.splitlines()]:
        faults.append(f"after Interleave, qevcheck still finds {left!r}")
    return faults + mid_faults(browser, tools, inputs, saved)


def check_past_the_editor(browser, tools, inputs):
    faults = []
    long = b"# a comment\n" * 10004 + b"0 0 a p 60 90\n0 1 a D 60\n"
    browser.open_file(write(inputs, "long-fix.qev", long))
    checks = browser.eval("window.qevStudio.checks()")
    browser.click_element("fix-all")
    browser.wait(f"window.qevStudio.checks() > {checks}")
    if browser.download("save", "long-fix.qev") != long.replace(b"a p", b"a P"):
        faults.append("Save after Fix all does not give the whole fixed file")
    if "A fix changes the page's copy" not in browser.eval("document.getElementById('source').textContent"):
        faults.append("the page does not say that a fix changes its copy")
    return faults


def check_all(browser, tools, inputs):
    return run_rows(rows, (
        ("one fix", check_one_fix, browser, tools, inputs),
        ("fix all", check_fix_all, browser, tools, inputs),
        ("interleave", check_interleave, browser, tools, inputs),
        ("past the editor", check_past_the_editor, browser, tools, inputs)))

"""Large files on the page, by the work done rather than the time taken: a
drawing of many notes goes into a pixel buffer that looks like the notes
drawn one by one, a hover looks at the few notes near the pointer, and of
many findings only those in view are in the page."""
import os

from driver import run_rows
from roll import near

rows = {"count": 0}


def events(count):
    """count event lines in note-on and note-off pairs on eight channels."""
    lines = []
    t = 0
    for i in range(count // 2):
        key = 48 + (i * 7) % 36
        chan = "abcdefgh"[i % 8]
        lines.append(f"{t // 1000} {t % 1000} {chan} P {key} {60 + i % 60}\n")
        lines.append(f"{(t + 180) // 1000} {(t + 180) % 1000} {chan} D {key}\n")
        t += 200
    return "".join(lines).encode()


def check_pixel_notes(browser, inputs):
    """The buffer draws a note where and as drawNote does."""
    faults = []
    browser.open_file(os.path.join(inputs, "song.qev"))
    browser.eval("window.threshold = roll.pixelThreshold")
    for threshold in ("Infinity", "-1"):
        browser.eval(f"roll.pixelThreshold = {threshold}; drawRoll()")
        note = browser.eval("window.qevStudio.notePoint(0)")
        pixel = browser.eval(f"window.qevStudio.pixel({note['x']}, {note['y']})")
        if not near(pixel, "#074788", 0.6 + 0.4 * 90 / 127):
            faults.append(f"with the threshold at {threshold}, note 0 at {note} is {pixel}")
    browser.eval("roll.pixelThreshold = window.threshold; drawRoll()")
    return faults


def check_many_notes(browser, inputs):
    faults = []
    path = os.path.join(inputs, "large.qev")
    with open(path, "wb") as f:
        f.write(events(400000))
    browser.open_file(path)
    browser.eval("document.getElementById('fit').click()")
    work = browser.eval("roll.work")
    if work["rects"] > 0 or work["pixelNotes"] < 150000:
        faults.append(f"a drawing of the whole file did {work}")
    box = browser.box("roll")
    most = 0
    for i in range(10):
        browser.page("Input.dispatchMouseEvent", type="mouseMoved", x=box["x"] + 100 + 70 * i,
                     y=box["y"] + 60 + 20 * i)
        most = max(most, browser.eval("roll.work.scanned"))
    if most > 64:
        faults.append(f"a hover looked at {most} notes")
    return faults


def check_many_findings(browser, inputs):
    """Of 50,000 findings only those in view are in the page, also once the
    last is selected; the list is one Tab stop, with keys to move in it."""
    faults = []
    path = os.path.join(inputs, "findings.qev")
    with open(path, "wb") as f:
        f.write(b"0 0 q P 1 1\n" * 50000)
    browser.open_file(path)
    items = "document.querySelectorAll('#findings li').length"
    if browser.eval(items) > 100:
        faults.append(f"{browser.eval(items)} findings in the page at first")
    browser.eval("selectFinding(page.count - 1)")
    current = browser.eval("(document.querySelector('#findings li.current') || {dataset: {}}).dataset.index")
    if browser.eval(items) > 100 or current != "49999":
        faults.append(f"after selecting the last, {browser.eval(items)} in the page, current {current}")
    stops = browser.eval("document.querySelectorAll('#findings button[tabindex=\"0\"]').length")
    if stops != 1:
        faults.append(f"the list has {stops} Tab stops")
    browser.eval("document.querySelector('#findings button[tabindex=\"0\"]').focus()")
    for key, code, want in (("Home", 36, "0"), ("ArrowDown", 40, "1"), ("End", 35, "49999"),
                            ("ArrowUp", 38, "49998")):
        for kind in ("keyDown", "keyUp"):
            browser.page("Input.dispatchKeyEvent", type=kind, key=key, code=key,
                         windowsVirtualKeyCode=code)
        got = browser.eval("document.activeElement.closest('li') && document.activeElement.closest('li').dataset.index")
        if got != want:
            faults.append(f"{key} put the focus on finding {got}, not {want}")
    return faults


def check_all(browser, inputs):
    return run_rows(rows, (("pixel notes", check_pixel_notes, browser, inputs),
                           ("many notes", check_many_notes, browser, inputs),
                           ("many findings", check_many_findings, browser, inputs)))

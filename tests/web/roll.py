"""The piano roll's canvas, sampled where notes and marks are drawn and
where nothing is; clicks on a note and a mark; the notes rendered through
the page's own synthesizer offline; and screenshots for a person to look at."""
import base64
import os


def near(pixel, colour, alpha):
    """Whether pixel is colour drawn at alpha over white, give or take."""
    want = [alpha * int(colour[i:i + 2], 16) + (1 - alpha) * 255 for i in (1, 3, 5)]
    return all(abs(p - w) < 40 for p, w in zip(pixel, want))


def check_roll_and_sound(browser, inputs, shots):
    failures = []
    song = os.path.join(inputs, "song.qev")
    browser.open_file(song)
    # Channel a's first note, velocity 90; the mark of the stray note off;
    # and a spot between the notes, which must stay empty.
    note = browser.eval("window.qevStudio.notePoint(0)")
    pixel = browser.eval(f"window.qevStudio.pixel({note['x']}, {note['y']})")
    if not near(pixel, "#074788", 0.6 + 0.4 * 90 / 127):
        failures.append(f"roll: note 0 at {note} is {pixel}")
    marks = browser.eval("window.qevStudio.marks()")
    for i, mark in enumerate(marks):
        point = browser.eval(f"window.qevStudio.markPoint({i})")
        pixel = browser.eval(f"window.qevStudio.pixel({point['x']}, {point['y']})")
        if not near(pixel, "#d1242f", 1):
            failures.append(f"roll: mark {i} ({mark}) at {point} is {pixel}")
    if [m["line"] for m in marks] != [7, 8]:
        failures.append(f"roll: marks at lines {[m['line'] for m in marks]}, expected 7 and 8")
    empty = browser.eval("window.qevStudio.notePoint(1)")
    pixel = browser.eval(f"window.qevStudio.pixel({empty['x']}, {empty['y']} + 30)")
    if not (near(pixel, "#ffffff", 1) or near(pixel, "#f3f4f6", 1)):
        failures.append(f"roll: the empty spot under note 1 is {pixel}")
    # A click on a note selects its lines; one on a mark, its finding.
    for point, want in ((note, "0 0 a P 60 90\n0 500 a D 60"), (marks and browser.eval(
            "window.qevStudio.markPoint(0)"), "")):
        browser.click_roll(point["x"], point["y"])
        got = browser.eval("(() => { const e = document.getElementById('editor');"
                           " return [e.value.slice(e.selectionStart, e.selectionEnd),"
                           " e.value.slice(0, e.selectionStart).split('\\n').length]; })()")
        if want and got[0] != want:
            failures.append(f"roll: a click on note 0 selects {got[0]!r}")
        if not want and got[1] != marks[0]["line"]:
            failures.append(f"roll: a click on mark 0 puts the cursor on line {got[1]}")
    peak = browser.eval("window.qevStudio.renderOffline(2)")
    if not peak > 0.01:
        failures.append(f"sound: the notes render at peak {peak}")
    if shots:
        os.makedirs(shots, exist_ok=True)
        for width, scheme in ((1200, "light"), (360, "light"), (1200, "dark")):
            browser.page("Emulation.setDeviceMetricsOverride", width=width, height=900,
                         deviceScaleFactor=1, mobile=width < 500)
            browser.page("Emulation.setEmulatedMedia",
                         features=[{"name": "prefers-color-scheme", "value": scheme}])
            browser.page("Runtime.evaluate", expression="document.getElementById('fit').click(); window.scrollTo(0, 0)")
            if browser.eval("document.documentElement.scrollWidth") > width:
                failures.append(f"page: wider than {width} px")
            shot = browser.page("Page.captureScreenshot", format="png")["data"]
            suffix = "-dark" if scheme == "dark" else ""
            with open(os.path.join(shots, f"song-{width}{suffix}.png"), "wb") as f:
                f.write(base64.b64decode(shot))
        browser.page("Emulation.setEmulatedMedia", features=[])
        browser.page("Emulation.clearDeviceMetricsOverride")
    browser.open_file(os.path.join(inputs, "empty.qev"))
    peak = browser.eval("window.qevStudio.renderOffline(1)")
    if peak != 0:
        failures.append(f"sound: an empty file renders at peak {peak}")
    return failures

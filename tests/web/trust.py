"""What a musician must be able to trust on the page, a row for each
promise: the time axis is true at every zoom; a click on the roll leaves
Space to play; a failed open changes only the error line, a good one starts
afresh, and unsaved edits are asked about; one playback state; findings past
the editor's lines; a .mid from a MIDI file named apart from it; Save; and
the salvage of a damaged MIDI file, offered only where it gives notes."""
import os
import re

from driver import run, run_rows

rows = {"count": 0}

# An 8 s melody, a note every half second.
MELODY = b"".join(b"%d %d a P %d 90\n%d %d a D %d\n" % (t // 1000, t % 1000, 60 + i % 12,
                                                          (t + 400) // 1000, (t + 400) % 1000, 60 + i % 12)
                  for i, t in enumerate(range(0, 8000, 500)))
# Line 10,005, past what the editor shows, holds the one finding.
LONG = b"# a comment\n" * 10004 + b"0 0 q P 1 1\n0 0 a P 60 90\n0 1 a D 60\n"
# A program change, which QEV drops, and one note.
PROGRAM = (b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xf4MTrk\x00\x00\x00\x10"
           b"\x00\xc0\x05\x00\x90\x3c\x64\x81\x00\x80\x3c\x00\x00\xff\x2f\x00")

# The axis's labels as drawn: fillText is wrapped for one drawing.
LABELS = """(() => {
  const seen = [];
  const g = document.getElementById('roll').getContext('2d');
  const fill = g.fillText;
  g.fillText = function (text, x, y) {
    if (y === AXIS_HEIGHT / 2) seen.push({ text, x, width: this.measureText(text).width });
    return fill.apply(this, arguments);
  };
  try { drawRoll(); } finally { delete g.fillText; }
  return { labels: seen, t0: roll.t0, msPerPx: roll.msPerPx, keys: KEYS_WIDTH,
    width: roll.canvas.clientWidth };
})()"""

# What a failed open must leave as it was.
SHOWN = """(() => ['editor', 'save', 'download-mid', 'dropped', 'summary', 'source', 'findings']
  .map((id) => { const e = document.getElementById(id); return id === 'editor' ? e.value : e.textContent; }))()"""


def label_ms(text):
    """A label's time in ms, and whether it is in the m:ss form; None where
    it is neither form."""
    m = re.fullmatch(r"(\d+(?:\.\d+)?) s", text)
    if m:
        return float(m[1]) * 1000, False
    if not re.fullmatch(r"\d+(:\d\d){1,2}(\.\d+)?", text):
        return None
    seconds = 0.0
    for part in text.split(":"):
        seconds = seconds * 60 + float(part)
    return seconds * 1000, True


def axis_faults(drawn):
    """What is wrong with the labels of one drawing of the axis."""
    labels = drawn["labels"]
    faults = []
    texts = [label["text"] for label in labels]
    if len(set(texts)) != len(texts):
        faults.append(f"labels repeat: {texts}")
    for label in labels:
        parsed = label_ms(label["text"])
        if parsed is None:
            faults.append(f"label {label['text']!r} is in no known form")
            continue
        t, colon = parsed
        x = drawn["keys"] + (t - drawn["t0"]) / drawn["msPerPx"]
        # The label stands 3 px right of its line, which is on a half pixel.
        if abs(label["x"] - 3.5 - x) > 0.6:
            faults.append(f"label {label['text']!r} stands at {label['x']}, its time at {x + 3.5:.1f}")
        if label["x"] + label["width"] > drawn["width"]:
            faults.append(f"label {label['text']!r} runs past the edge")
        if colon != (t >= 60000):
            faults.append(f"label {label['text']!r}: m:ss past a minute, seconds below")
    for a, b in zip(labels, labels[1:]):
        if b["x"] < a["x"] + a["width"] + 4:
            faults.append(f"labels {a['text']!r} and {b['text']!r} run together")
    return faults


def settles(browser, expression, seconds=5):
    try:
        browser.wait(expression, seconds)
        return True
    except RuntimeError:
        return False


def check_axis(browser, melody):
    faults = []
    browser.open_file(melody)
    views = [("after Fit", None)]
    views += [(f"from {t0} ms at {ms} ms a pixel", (t0, ms)) for t0, ms in (
        (2350, 0.05), (2300, 0.3), (0, 3), (0, 30), (55000, 30), (3590000, 300), (0, 30000),
        (0, 3.6e6))]
    for name, view in views:
        if view:
            browser.eval(f"roll.t0 = {view[0]}; roll.msPerPx = {view[1]}")
        drawn = browser.eval(LABELS)
        if len(drawn["labels"]) < 2:
            faults.append(f"{name}: {len(drawn['labels'])} labels")
        faults += [f"{name}: {fault}" for fault in axis_faults(drawn)[:3]]
    return faults


def check_space(browser, melody):
    browser.open_file(melody)
    note = browser.eval("window.qevStudio.notePoint(0)")
    browser.click_roll(note["x"], note["y"])
    before = browser.eval("window.qevStudio.text()")
    browser.press_space()
    faults = []
    if browser.eval("window.qevStudio.text()") != before:
        faults.append("Space after a click on a note changed the text")
    if not browser.eval("window.qevStudio.playing()"):
        faults.append("Space after a click on a note did not play")
    if browser.eval("document.activeElement.id") == "editor":
        faults.append("a click on a note took the keyboard to the editor")
    if browser.eval("document.getElementById('highlight').hidden"):
        faults.append("the note's lines are not shown in the editor")
    browser.press_space()
    if browser.eval("window.qevStudio.playing()"):
        faults.append("Space again did not stop")
    return faults


def check_failed_open(browser, inputs):
    faults = []
    good = write(inputs, "good.mid", PROGRAM)
    browser.open_file(good)
    shown = browser.eval(SHOWN)
    for name, data in (("picture.mid", b"\x89PNG\r\n\x1a\n" + bytes(64)), ("empty.mid", b""),
                       ("cut.mid", PROGRAM[:30])):
        browser.open_file(write(inputs, name, data), wait=False)
        if not settles(browser, "(() => { const e = document.getElementById('error');"
                                f" return e && !e.hidden && e.textContent.startsWith('{name} '); }})()"):
            faults.append(f"{name}: no error line names it")
        if browser.eval(SHOWN) != shown:
            faults.append(f"{name}: the shown file changed: {browser.eval(SHOWN)}")
        # Only a file that a salvage gives notes of is offered one.
        offered = not browser.eval("document.getElementById('salvage').hidden")
        if offered != (name == "cut.mid"):
            faults.append(f"{name}: a salvage is {'' if offered else 'not '}offered")
    return faults


def check_salvage(browser, inputs, tools):
    """The salvage the error line offers gives mid2qev --salvage's text, and
    says what it read past."""
    cut = write(inputs, "cut.mid", PROGRAM[:30])
    browser.open_file(cut, wait=False)
    browser.wait("!document.getElementById('salvage').hidden")
    opens = browser.eval("window.qevStudio.opens()")
    browser.click_element("salvage")
    browser.wait(f"window.qevStudio.opens() > {opens}")
    faults = []
    want = run(tools["mid2qev"], "--salvage", "-o", "-", cut).stdout.decode()
    if browser.eval("window.qevStudio.text()") != want:
        faults.append(f"the salvage holds {browser.eval('window.qevStudio.text()')!r}, mid2qev gives {want!r}")
    said = browser.eval("document.getElementById('dropped').textContent")
    if not said.startswith("Salvaged from the damaged cut.mid: track 1's length says 16 bytes"):
        faults.append(f"beside the downloads: {said!r}")
    if not browser.eval("document.getElementById('error').hidden"):
        faults.append("the error line stays after the salvage")
    return faults


def check_fresh_open(browser, melody, song):
    browser.open_file(melody)
    fitted = browser.eval("roll.msPerPx")
    browser.eval("document.querySelector('#legend button').click()")
    browser.click_roll(browser.eval("xOf(2000)"), 5)
    browser.eval("roll.msPerPx /= 4; drawRoll()")
    browser.open_file(song)
    browser.open_file(melody)
    faults = []
    if browser.eval("Array.from(roll.hidden).some((h) => h)"):
        faults.append("a channel hidden before stays hidden")
    if browser.eval("window.qevStudio.playhead()") != 0:
        faults.append(f"the playhead stays at {browser.eval('window.qevStudio.playhead()')}")
    if browser.eval("roll.msPerPx") != fitted or browser.eval("roll.t0") != 0:
        faults.append("the view is not fitted to the file")
    return faults


def check_unsaved_edits(browser, melody, song):
    faults = []
    browser.open_file(melody)
    browser.click_element("editor")
    browser.type_text("x")
    edited = browser.eval("window.qevStudio.text()")
    unload = ("(() => { const e = new Event('beforeunload', { cancelable: true });"
              " window.dispatchEvent(e); return e.defaultPrevented; })()")
    if not browser.eval(unload):
        faults.append("closing the page with unsaved edits is not asked about")
    for accept in (False, True):
        checks = browser.eval("window.qevStudio.checks()")
        browser.open_file(song, wait=False)
        dialog = browser.wait_event("Page.javascriptDialogOpening")
        if dialog is None:
            faults.append("opening a file over unsaved edits does not ask")
            break
        browser.page("Page.handleJavaScriptDialog", accept=accept)
        if not accept and browser.eval("window.qevStudio.text()") != edited:
            faults.append("declining to open still replaced the edits")
        if accept and not settles(browser, f"window.qevStudio.checks() > {checks}"):
            faults.append("accepting to open did not open the file")
    if browser.eval(unload):
        faults.append("a freshly opened file is taken for edited")
    return faults


def check_playback(browser, melody, song):
    faults = []
    browser.open_file(melody)
    browser.click_element("play")
    if not settles(browser, "window.qevStudio.playing()"):
        return ["Play does not play"]
    before = browser.eval("[synth.playing, roll.t0, roll.msPerPx, xOf(4000), window.scrollY]")
    browser.click_roll(browser.eval("xOf(4000)"), 5)
    settles(browser, "Math.abs(synth.from - 4000) < 100")
    after = browser.eval("[synth.playing, synth.from, roll.playhead, window.scrollY]")
    if not browser.eval("window.qevStudio.playing()"):
        faults.append("a click on the axis while playing stopped the sound")
    if browser.eval("document.getElementById('play').textContent") != "Stop":
        faults.append("a click on the axis while playing shows Play while it plays")
    if abs(browser.eval("synth.from") - 4000) > 3 * browser.eval("roll.msPerPx"):
        faults.append(f"the seek plays from {browser.eval('synth.from')}, not 4 s: {before} {after}")
    browser.click_element("play")
    browser.click_roll(browser.eval("xOf(roll.end) + 4"), 5)
    browser.click_element("play")
    if not browser.eval("window.qevStudio.playing()") or browser.eval("synth.from") != 0:
        faults.append("Play with the playhead at the end does not play from the start")
    browser.open_file(song)
    if browser.eval("window.qevStudio.playing()"):
        faults.append("opening a file does not stop playback")
    if browser.eval("document.getElementById('play').textContent") != "Play":
        faults.append("after opening a file, the button does not say Play")
    return faults


def check_long_file(browser, inputs):
    faults = []
    browser.open_file(write(inputs, "long.qev", LONG))
    browser.eval("document.querySelector('#findings li').click()")
    beyond = browser.eval("(() => { const b = document.querySelector('#findings li .beyond');"
                          " return b ? b.textContent : ''; })()")
    if "10,005" not in beyond or "0 0 q P 1 1" not in beyond:
        faults.append(f"a finding at line 10,005 says {beyond!r}")
    if browser.download("save", "long.qev") != LONG:
        faults.append("Save does not give the whole file past the editor's lines")
    return faults


def check_midi_names(browser, inputs):
    faults = []
    browser.open_file(write(inputs, "program.mid", PROGRAM))
    label = browser.eval("document.getElementById('download-mid').textContent")
    if label != "Download program.notes.mid":
        faults.append(f"the .mid button says {label!r}")
    dropped = browser.eval("document.getElementById('dropped').textContent")
    if dropped != "The notes of program.mid only: QEV dropped 1 program change.":
        faults.append(f"beside it: {dropped!r}")
    return faults


def check_save(browser, inputs):
    faults = []
    crlf = b"0 0 a P 60 90\r\n0 500 a D 60\r\n\x1a"
    browser.open_file(write(inputs, "dos.qev", crlf))
    if browser.eval("(document.getElementById('save') || {}).textContent") != "Save dos.qev":
        return ["there is no Save dos.qev"]
    if browser.download("save", "dos.qev") != crlf:
        faults.append("Save before an edit does not give the file's own bytes")
    browser.click_element("editor")
    browser.type_text("é")
    text = browser.eval("window.qevStudio.text()")
    if browser.download("save", "dos.qev") != text.encode("utf-8"):
        faults.append("Save after an edit does not give the editor's text")
    return faults


def write(inputs, name, data):
    path = os.path.join(inputs, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def check_all(browser, inputs, tools):
    melody = write(inputs, "melody.qev", MELODY)
    song = os.path.join(inputs, "song.qev")
    return run_rows(rows, (
        ("axis", check_axis, browser, melody), ("space", check_space, browser, melody),
        ("failed open", check_failed_open, browser, inputs), ("fresh open", check_fresh_open, browser, melody, song),
        ("unsaved edits", check_unsaved_edits, browser, melody, song),
        ("playback", check_playback, browser, melody, song), ("long file", check_long_file, browser, inputs),
        ("MIDI names", check_midi_names, browser, inputs), ("save", check_save, browser, inputs),
        ("salvage", check_salvage, browser, inputs, tools)))

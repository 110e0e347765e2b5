"""The page for people who do not use a mouse, who use a phone, or who
read in the dark: the roll's keys and wheel, the zoom buttons, the editor's
name, focus that shows, every C named, colours that reach 3:1 in both
themes, the dark theme itself, a long name on a phone, and a view that
follows the playhead."""
import os

from driver import run_rows

rows = {"count": 0}


def luminance(hex_colour, alpha=1.0, background="#ffffff"):
    def channel(c, b):
        v = (alpha * c + (1 - alpha) * b) / 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    rgb = [int(hex_colour[i:i + 2], 16) for i in (1, 3, 5)]
    bg = [int(background[i:i + 2], 16) for i in (1, 3, 5)]
    r, g, b = (channel(c, k) for c, k in zip(rgb, bg))
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(colour, background, alpha=1.0):
    a, b = luminance(colour, alpha, background), luminance(background)
    return (max(a, b) + 0.05) / (min(a, b) + 0.05)


def key(browser, name, code, text=""):
    for kind in ("keyDown", "keyUp"):
        browser.page("Input.dispatchKeyEvent", type=kind, key=name, code=code, windowsVirtualKeyCode=ord(name)
                     if len(name) == 1 else {"ArrowRight": 39, "Tab": 9}[name], text=text if kind == "keyDown" else "")


def wheel(browser, delta, modifiers):
    box = browser.box("roll")
    browser.page("Input.dispatchMouseEvent", type="mouseWheel", x=box["x"] + 300, y=box["y"] + 150,
                 deltaX=0, deltaY=delta, modifiers=modifiers)


def check_roll_keys(browser, melody):
    faults = []
    browser.open_file(melody)
    browser.eval("document.getElementById('roll').focus()")
    before = browser.eval("roll.msPerPx")
    key(browser, "+", "Equal", "+")
    if browser.eval("roll.msPerPx") != before / 2:
        faults.append("+ on the roll does not zoom in")
    t0 = browser.eval("roll.t0")
    key(browser, "ArrowRight", "ArrowRight")
    if not browser.eval("roll.t0") > t0:
        faults.append("the right arrow does not move on in time")
    key(browser, "0", "Digit0", "0")
    if browser.eval("roll.t0") != 0 or browser.eval("roll.msPerPx") != before:
        faults.append("0 does not fit the file")
    browser.eval("document.getElementById('zoom-in').click()")
    if browser.eval("roll.msPerPx") != before / 2:
        faults.append("the + button does not zoom in")
    return faults


def check_wheel(browser, melody):
    faults = []
    browser.open_file(melody)
    browser.eval("window.scrollTo(0, 0)")
    zoom, low = browser.eval("roll.msPerPx"), browser.eval("roll.low")
    wheel(browser, 120, 0)
    browser.eval("new Promise((r) => requestAnimationFrame(() => r()))")
    if browser.eval("roll.msPerPx") != zoom:
        faults.append("a plain wheel zooms the roll")
    if browser.eval("window.scrollY") == 0:
        faults.append("a plain wheel does not scroll the page")
    wheel(browser, -120, 2)
    if not browser.eval("roll.msPerPx") < zoom:
        faults.append("Ctrl+wheel does not zoom in")
    wheel(browser, 120, 8)
    if not browser.eval("roll.low") < low:
        faults.append("Shift+wheel down does not move down through the pitches")
    return faults


def check_names(browser):
    faults = []
    name = browser.eval("(() => { const id = document.getElementById('editor').getAttribute('aria-labelledby');"
                        " return id && document.getElementById(id).textContent; })()")
    if not name:
        faults.append("the editor has no name")
    # A click on the heading starts the Tab order from the top.
    browser.eval("document.activeElement.blur(); window.scrollTo(0, 0)")
    heading = browser.eval("(() => { const r = document.querySelector('h1').getBoundingClientRect();"
                           " return {x: r.left + 2, y: r.top + r.height / 2}; })()")
    browser.click(heading["x"], heading["y"])
    key(browser, "Tab", "Tab")
    outline = browser.eval("(() => { const s = getComputedStyle(document.querySelector('label.button'));"
                           " return [document.activeElement.id, s.outlineStyle, s.outlineColor]; })()")
    if outline[0] != "open" or outline[1] == "none":
        faults.append(f"the focused Open control shows no outline: {outline}")
    labels = browser.eval("""(() => {
      roll.low = 0; roll.high = 127;
      const seen = [];
      const g = document.getElementById('roll').getContext('2d');
      const fill = g.fillText;
      g.fillText = function (text) { seen.push(text); return fill.apply(this, arguments); };
      try { drawRoll(); } finally { delete g.fillText; }
      return seen; })()""")
    cs = [label for label in labels if label.startswith("C") and not label.startswith("C#")]
    if len(cs) != 11:
        faults.append(f"with every key in view, the keyboard names {cs}")
    return faults


def check_themes(browser, melody):
    faults = []
    browser.open_file(melody)
    for scheme in ("light", "dark"):
        browser.page("Emulation.setEmulatedMedia", features=[{"name": "prefers-color-scheme", "value": scheme}])
        theme = browser.eval(f"THEMES.{scheme}")
        low = browser.eval("velocityAlpha(0)")
        for chan, colour in enumerate(theme["palette"]):
            ratio = contrast(colour, theme["background"], low)
            if ratio < 3:
                faults.append(f"{scheme}: channel {chr(97 + chan)} {colour} reaches {ratio:.2f}:1")
        if len(set(theme["palette"])) != 16:
            faults.append(f"{scheme}: channels share a colour")
        accent = browser.eval("getComputedStyle(document.documentElement).getPropertyValue('--accent').trim()")
        background = browser.eval("getComputedStyle(document.documentElement).getPropertyValue('--bg').trim()")
        if contrast(accent, background) < 3:
            faults.append(f"{scheme}: the focus colour {accent} reaches {contrast(accent, background):.2f}:1")
        browser.eval("drawRoll()")
        corner = browser.eval("window.qevStudio.pixel(rollSize().w - 3, 1)")
        if abs(luminance("#%02x%02x%02x" % tuple(corner[:3])) - luminance(theme["background"])) > 0.05:
            faults.append(f"{scheme}: the roll's background is {corner}")
    browser.page("Emulation.setEmulatedMedia", features=[])
    browser.eval("drawRoll()")
    return faults


def check_phone(browser, inputs):
    faults = []
    long_name = os.path.join(inputs, "a-song-with-a-name-far-too-long-for-a-phone-" + "x" * 60 + ".qev")
    with open(long_name, "wb") as f:
        f.write(b"0 0 a P 60 90\n1 0 a D 60\n")
    browser.page("Emulation.setDeviceMetricsOverride", width=360, height=800, deviceScaleFactor=1, mobile=True)
    browser.open_file(long_name)
    width = browser.eval("document.documentElement.scrollWidth")
    if width > 360:
        faults.append(f"with a long name the page is {width} px wide on a 360 px screen")
    browser.page("Emulation.clearDeviceMetricsOverride")
    return faults


def check_follow(browser, melody):
    faults = []
    browser.open_file(melody)
    browser.eval("roll.msPerPx = 1; drawRoll()")
    browser.click_element("play")
    browser.eval("movePlayhead(5000)")
    x = browser.eval("xOf(5000)")
    width = browser.eval("rollSize().w")
    if not browser.eval("KEYS_WIDTH") <= x <= width:
        faults.append(f"the playhead at 5 s stands at {x}, out of the view")
    browser.click_element("play")
    return faults


def check_all(browser, inputs, melody):
    return run_rows(rows, (("roll keys", check_roll_keys, browser, melody), ("wheel", check_wheel, browser, melody),
                           ("names and focus", check_names, browser), ("themes", check_themes, browser, melody),
                           ("phone", check_phone, browser, inputs), ("follow", check_follow, browser, melody)))

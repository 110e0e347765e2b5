"""Drums and channels, seen and heard, rendered offline through the page's
own synthesizer: one drum setting for the checker, the roll and the sound;
a bar for each note on; no clipping on a dense file; sixteen channels with
sixteen spectra; and a kick low and a hat high."""
import cmath
import math
import os

from driver import run_rows

rows = {"count": 0}

RATE = 44100


def fft(x):
    n = len(x)
    if n == 1:
        return [x[0]]
    even, odd = fft(x[0::2]), fft(x[1::2])
    twiddled = [cmath.exp(-2j * math.pi * k / n) * odd[k] for k in range(n // 2)]
    return [even[k] + twiddled[k] for k in range(n // 2)] + [even[k] - twiddled[k] for k in range(n // 2)]


def band_share(samples, low, high):
    """The share of the energy of the first 8,192 samples between low and high Hz."""
    spectrum = fft(list(samples[:8192]) + [0.0] * (8192 - len(samples[:8192])))
    power = [abs(v) ** 2 for v in spectrum[:4096]]
    hz = RATE / 8192
    inside = sum(p for k, p in enumerate(power) if low <= k * hz < high)
    return inside / max(sum(power), 1e-12)


def render(browser, notes, seconds, drums=0):
    """The samples of notes [(chan, key, velocity, start ms, end ms)], as the page plays them."""
    flat = []
    for chan, key, velocity, start, end in notes:
        flat += [start, end, 1, 2, chan << 16 | key << 8 | velocity, 0]
    return browser.eval(f"""(async () => {{
      const saved = [roll.notes, roll.count, roll.marks, roll.drums];
      roll.drums = {drums};
      setRollData(new Uint32Array({flat}), {len(notes)}, []);
      try {{ return Array.from(await renderSamples({seconds})); }}
      finally {{ roll.drums = saved[3]; setRollData(saved[0], saved[1], saved[2]); }}
    }})()""")


def harmonics(samples, f0):
    """The magnitudes of the first eight harmonics of f0, the loudest as 1."""
    part = samples[4410:4410 + 8192]
    mags = []
    for h in range(1, 9):
        w = 2 * math.pi * h * f0 / RATE
        re = sum(v * math.cos(w * i) for i, v in enumerate(part))
        im = sum(v * math.sin(w * i) for i, v in enumerate(part))
        mags.append(math.hypot(re, im))
    top = max(mags) or 1
    return [m / top for m in mags]


def check_drum_setting(browser, inputs):
    faults = []
    path = os.path.join(inputs, "beat.qev")
    with open(path, "wb") as f:
        f.write(b"0 0 a P 36 100\n0 500 a P 42 100\n")
    browser.open_file(path)
    if not any(f["code"] == "still-sounding" for f in browser.eval("window.qevStudio.findings()")):
        faults.append("channel a's notes without note offs are not found before it is a drum channel")
    checks = browser.eval("window.qevStudio.checks()")
    browser.eval("(() => { const d = document.getElementById('drums'); d.value = 'a';"
                 " d.dispatchEvent(new Event('change')); })()")
    browser.wait(f"window.qevStudio.checks() > {checks}")
    if browser.eval("window.qevStudio.findings()"):
        faults.append("with drums on a, the checker still finds notes sounding there")
    if browser.eval("roll.drums") != 1:
        faults.append(f"with drums on a, the roll takes {browser.eval('roll.drums')}")
    if "Kick (36)" not in browser.eval("noteText(0)"):
        faults.append(f"a drum's hit is named {browser.eval('noteText(0)')!r}")
    browser.eval("(() => { const d = document.getElementById('drums'); d.value = 'z';"
                 " d.dispatchEvent(new Event('change')); })()")
    if browser.eval("document.getElementById('error').hidden") or browser.eval("roll.drums") != 1:
        faults.append("drums on z is taken, or said nothing")
    browser.eval("(() => { const d = document.getElementById('drums'); d.value = 'j';"
                 " d.dispatchEvent(new Event('change')); })()")
    return faults


def check_bars(browser, inputs):
    path = os.path.join(inputs, "repeat.qev")
    with open(path, "wb") as f:
        f.write(b"0 0 a P 60 90\n0 500 a D 60\n0 500 a P 60 90\n1 0 a D 60\n")
    browser.open_file(path)
    point = browser.eval("window.qevStudio.notePoint(0)")
    # The pixel just before the second note, which the first leaves clear.
    x = browser.eval("Math.round(xOf(500)) - 1")
    pixel = browser.eval(f"window.qevStudio.pixel({x}, {point['y']})")
    if pixel[:3] != [255, 255, 255] and pixel[:3] != [243, 244, 246]:
        return [f"two notes on one key run together: {pixel} where the second begins"]
    return []


def check_no_clipping(browser):
    dense = [(chan, 40 + 5 * k + chan % 5, 127, t, t + 150) for chan in range(16) for k in range(8)
             for t in range(0, 1000, 100)]
    peak = max(abs(v) for v in render(browser, dense, 1.3, drums=1 << 9))
    return [] if peak <= 1.0 else [f"a dense file peaks at {peak:.2f}"]


def check_channels(browser):
    faults = []
    spectra = [harmonics(render(browser, [(chan, 60, 100, 0, 600)], 0.6), 261.6256) for chan in range(16)]
    for a in range(16):
        for b in range(a + 1, 16):
            distance = sum(abs(x - y) for x, y in zip(spectra[a], spectra[b]))
            if distance < 0.15:
                faults.append(f"channels {chr(97 + a)} and {chr(97 + b)} sound alike ({distance:.2f})")
    return faults


def check_drum_sounds(browser):
    faults = []
    kick = band_share(render(browser, [(9, 36, 110, 0, 100)], 0.3, drums=1 << 9), 0, 200)
    if kick < 0.5:
        faults.append(f"the kick has {kick:.0%} of its energy below 200 Hz")
    hat = band_share(render(browser, [(9, 42, 110, 0, 100)], 0.3, drums=1 << 9), 5000, 22050)
    if hat < 0.5:
        faults.append(f"the closed hat has {hat:.0%} of its energy above 5 kHz")
    return faults


def check_all(browser, inputs):
    return run_rows(rows, (("drum setting", check_drum_setting, browser, inputs),
                           ("bars", check_bars, browser, inputs), ("no clipping", check_no_clipping, browser),
                           ("channels", check_channels, browser), ("drum sounds", check_drum_sounds, browser)))

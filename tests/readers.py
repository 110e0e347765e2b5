"""Checks qev2mid's output with MIDI software we did not write.

usage: readers.py QEV2MID EXAMPLE.qev TOOL    (TOOL: midicsv, mido, smfsh, fluidsynth)

The event file is generated from a fixed seed, and the generator records what
each line means; the readers must find exactly the events that survive the
skip rules. A missing tool skips the test (exit 77) unless
QEV2MID_REQUIRE_TOOLS=1.
"""

import array
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import wave

MAX_DELTA = 0x0FFFFFFF
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
CHANNELS = "abcdefghijklmnop"
WHITE = [" ", "  ", "\t", " \t ", "\v", "\f"]


def number(rng, value):
    """A field as a person or a program might write it."""
    r = rng.random()
    if r < 0.05:
        return "+%d" % value
    if r < 0.10:
        return "0" * rng.randint(1, 20) + str(value)
    return str(value)


def event_line(rng, time, chan, kind, note, vel):
    """A valid event line for these values; vel None leaves it out."""
    sec, ms = divmod(time, 1000)
    carry = rng.randint(0, min(sec, 3))
    sec, ms = sec - carry, ms + 1000 * carry
    ws = lambda: rng.choice(WHITE)
    letters = chan + kind if rng.random() < 0.2 else chan + ws() + kind
    text = rng.choice(["", " ", "\t"]) + number(rng, sec) + ws() + number(rng, ms)
    text += (ws() if rng.random() < 0.8 else "") + letters
    text += (ws() if rng.random() < 0.8 else "") + number(rng, note)
    if vel is not None:
        text += ws() + number(rng, vel)
    if rng.random() < 0.05:
        text += rng.choice([" ; held", "\tlegato", " x"])
    return text


def invalid_line(rng, time):
    """A line the skip rules must drop, whatever the time."""
    sec, ms = divmod(time, 1000)
    return rng.choice([
        "%d %d q P 60 100" % (sec, ms),
        "%d %d A P 60 100" % (sec, ms),
        "%d %d a p 60 100" % (sec, ms),
        "%d %d a d 60" % (sec, ms),
        "%d %d a P 60" % (sec, ms),
        "%d %d a P 128 1" % (sec, ms),
        "%d %d a P 1 200" % (sec, ms),
        "%d %d a D 1 128" % (sec, ms),
        "-%d %d a P 1 1" % (sec, ms),
        "%d %d a P 1 -1" % (sec, ms),
        "4294967 296 a P 1 1",
        "%d 99999999999999999999 a P 1 1" % sec,
        "tempo allegro",
        "",
        "   \t",
        "# %d %d a P 60 100" % (sec, ms),
    ])


def generate(seed, count):
    """Returns the file's bytes and the events a reader must find in it."""
    rng = random.Random(seed)
    lines, expected = [], []
    now = 0
    gaps = {count // 3: MAX_DELTA + 545, 2 * count // 3: 2 * MAX_DELTA + 7}
    while len(expected) < count:
        r = rng.random()
        if r < 0.04:
            lines.append(invalid_line(rng, now + rng.randint(0, 100)))
        elif r < 0.07 and now > 0:
            # Earlier than the last accepted event: dropped.
            t = rng.randint(0, now - 1)
            lines.append(event_line(rng, t, "a", "P", 60, 100))
        else:
            step = gaps.get(len(expected))
            if step is None:
                step = 0 if rng.random() < 0.2 else rng.randint(1, 400)
            now += step
            chan = rng.choice(CHANNELS)
            kind = rng.choice("PD")
            note = rng.randint(0, 127)
            vel = rng.randint(0, 127)
            if kind == "D" and rng.random() < 0.5:
                lines.append(event_line(rng, now, chan, kind, note, None))
                vel = 0
            else:
                lines.append(event_line(rng, now, chan, kind, note, vel))
            expected.append((now, "on" if kind == "P" else "off", CHANNELS.index(chan), note, vel))
    text = "".join(line + rng.choice(["\n", "\n", "\n", "\r\n"]) for line in lines)
    return text.encode("ascii"), expected


def example_events(path):
    """The example holds plain lines only; read them the simple way."""
    events = []
    for line in open(path, encoding="ascii"):
        m = re.fullmatch(r"(\d+) (\d+) ([a-p]) ([PD]) (\d+)(?: (\d+))?\n", line)
        if m:
            t = int(m[1]) * 1000 + int(m[2])
            events.append((t, "on" if m[4] == "P" else "off", ord(m[3]) - ord("a"), int(m[5]),
                           int(m[6] or 0)))
    return events


def convert(qev2mid, path):
    r = subprocess.run([qev2mid, path], capture_output=True)
    if r.returncode != 0 or r.stdout or r.stderr:
        sys.exit("qev2mid failed on %s: %d %r" % (path, r.returncode, r.stderr))
    mid = path[:-4] + ".mid"
    data = open(mid, "rb").read()
    length = int.from_bytes(data[37:41], "big")
    if length != len(data) - 41:
        sys.exit("track length field %d, but %d bytes follow" % (length, len(data) - 41))
    return mid


def read_midicsv(mid):
    out = subprocess.run(["midicsv", mid], capture_output=True, text=True, check=True).stdout
    events = []
    for row in out.splitlines():
        f = [x.strip() for x in row.split(",")]
        if f[0] == "2" and f[2] in ("Note_on_c", "Note_off_c"):
            kind = "on" if f[2] == "Note_on_c" else "off"
            events.append((int(f[1]), kind, int(f[3]), int(f[4]), int(f[5])))
    return events


def read_mido(mid):
    import mido
    events, now = [], 0
    for msg in mido.MidiFile(mid).tracks[1]:
        now += msg.time
        if msg.type in ("note_on", "note_off"):
            kind = "on" if msg.type == "note_on" else "off"
            events.append((now, kind, msg.channel, msg.note, msg.velocity))
    return events


def read_smfsh(mid):
    r = subprocess.run(["smfsh", mid], input="track 2\nevents\nexit\n", capture_output=True,
                       text=True)
    # smfsh reports on standard error, complaints and listing alike.
    text = r.stdout + r.stderr
    complaints = re.findall(r"(?im)^.*(?:warning|critical|error).*$", text)
    if r.returncode != 0 or complaints or "' loaded." not in text:
        sys.exit("smfsh complained: %s" % (complaints[:5] or text[:500]))
    events = []
    pattern = r"Event: Note (On|Off), channel (\d+), note \S+, velocity (\d+), \S+ seconds, (\d+) pulses"
    for m in re.finditer(pattern, text):
        events.append((int(m[4]), m[1].lower(), int(m[2]) - 1, None, int(m[3])))
    return events


def compare(name, got, want):
    if got == want:
        print("%s: %d events as expected" % (name, len(want)))
        return
    for i, (g, w) in enumerate(zip(got, want)):
        if g != w:
            sys.exit("%s: event %d is %r, expected %r" % (name, i, g, w))
    sys.exit("%s: %d events, expected %d" % (name, len(got), len(want)))


def check_fluidsynth(qev2mid, example, tmp):
    """The example, rendered, must be audible and last about as long as the tune."""
    if not os.path.exists(SOUNDFONT):
        skip("no soundfont at " + SOUNDFONT)
    path = os.path.join(tmp, "tune.qev")
    shutil.copy(example, path)
    mid = convert(qev2mid, path)
    wav = os.path.join(tmp, "tune.wav")
    subprocess.run(["fluidsynth", "-ni", "-q", "-g", "1", "-r", "22050", "-F", wav, SOUNDFONT,
                    mid], check=True, capture_output=True)
    w = wave.open(wav)
    rate, width = w.getframerate(), w.getsampwidth()
    samples = array.array("h", w.readframes(w.getnframes()))
    if width != 2:
        sys.exit("unexpected sample width %d" % width)
    peak = max(abs(s) for s in samples)
    if peak < 1000:
        sys.exit("the rendering is silent (peak %d)" % peak)
    loud = [i for i, s in enumerate(samples) if abs(s) > peak // 100]
    end = loud[-1] / w.getnchannels() / rate
    last = max(e[0] for e in example_events(example)) / 1000
    if abs(end - last) > 1.2:
        sys.exit("sound ends at %.2f s, the tune at %.2f s" % (end, last))
    print("fluidsynth: peak %d, sound ends at %.2f s, last event at %.2f s" % (peak, end, last))


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(1 if os.environ.get("QEV2MID_REQUIRE_TOOLS") == "1" else 77)


def main():
    qev2mid, example, tool = sys.argv[1:4]
    if tool == "mido":
        try:
            import mido  # noqa: F401
        except ImportError:
            skip("python3-mido is not installed")
    elif shutil.which(tool) is None:
        skip(tool + " is not installed")
    with tempfile.TemporaryDirectory() as tmp:
        if tool == "fluidsynth":
            check_fluidsynth(qev2mid, example, tmp)
            return
        data, expected = generate(seed=20261207, count=12000)
        # libsmf keeps times in a signed int: the whole file stays below 2^31 ms.
        assert expected[-1][0] < 2**31
        path = os.path.join(tmp, "random.qev")
        open(path, "wb").write(data)
        mid = convert(qev2mid, path)
        if tool == "midicsv":
            compare("midicsv", read_midicsv(mid), expected)
        elif tool == "mido":
            compare("mido", read_mido(mid), expected)
        else:
            want = [(t, k, c, None, v) for t, k, c, n, v in expected]
            compare("smfsh", read_smfsh(mid), want)


if __name__ == "__main__":
    main()

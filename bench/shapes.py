"""The shapes of QEV files people have, for qev2mid's benchmark:

- music: the note events of real MIDI files (Debian's openttd-openmsx), as
  mid2qev writes them, the files joined one after another, each shifted
  past the end of the one before;
- voices: the same files, each written channel by channel, one channel's
  lines for the whole piece, then the next, as hand-written files often are;
  qev2mid skips every line earlier than the one before;
- gaps: random lines with gaps of 0 to 400 ms, most of whose deltas take
  two bytes;
- dense: random lines with gaps of 0 to 50 ms, each delta one byte.
"""
import os
import random
import subprocess

MUSIC = "/usr/share/games/openttd/baseset/openmsx"


def random_lines(count, most_gap, seed):
    rng = random.Random(seed)
    now, lines = 0, []
    for _ in range(count):
        now += rng.randint(0, most_gap)
        lines.append("%d %d %s %s %d %d\n" % (now // 1000, now % 1000, rng.choice("abcdefghijklmnop"),
                                              rng.choice("PD"), rng.randint(0, 127), rng.randint(1, 127)))
    return lines


def pieces(mid2qev, music):
    """Each MIDI file's events as (ms, channel, rest of the line), in order."""
    out = []
    for name in sorted(os.listdir(music)):
        if not name.lower().endswith(".mid"):
            continue
        run = subprocess.run([mid2qev, "-o", "-", os.path.join(music, name)], capture_output=True)
        events = []
        for line in run.stdout.decode().splitlines():
            f = line.split()
            if run.returncode == 0 and len(f) == 6 and not line.startswith("#"):
                events.append((int(f[0]) * 1000 + int(f[1]), f[2], " ".join(f[2:])))
        if events:
            out.append(events)
    return out


def joined(pieces_, count, by_voice):
    """The pieces one after another, again from the first until count lines;
    by_voice writes each piece channel by channel."""
    lines, start = [], 0
    while len(lines) < count:
        for events in pieces_:
            if by_voice:
                events = sorted(events, key=lambda e: e[1])  # stable: each channel in time order
            for ms, _, rest in events:
                t = start + ms
                lines.append("%d %d %s\n" % (t // 1000, t % 1000, rest))
            start += max(e[0] for e in events) + 1000
            if len(lines) >= count:
                break
    return lines[:count]


def make(shape, path, count, mid2qev):
    """Writes count lines of the shape to path. Returns why not where the
    shape needs MIDI music, or mid2qev to read it, and either is missing."""
    if shape in ("music", "voices"):
        for needed in (MUSIC, mid2qev):
            if not os.path.exists(needed):
                return needed + " is not there"
        lines = joined(pieces(mid2qev, MUSIC), count, shape == "voices")
    else:
        lines = random_lines(count, 400 if shape == "gaps" else 50, seed=3)
    with open(path, "w") as f:
        f.write("".join(lines))
    return ""


SHAPES = ("music", "voices", "gaps", "dense")

# qev2mid's instructions a line on each shape, on x86-64 with each scan, as
# last measured: the benchmark warns where a run is more than 5% above.
STORED = {
    "sse2": {"music": 156, "voices": 136, "gaps": 164, "dense": 155},
    "swar": {"music": 220, "voices": 199, "gaps": 229, "dense": 220},
}

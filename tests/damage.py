#!/usr/bin/python3
"""Damages real MIDI files as collections of them are damaged, with a fixed
seed, and holds mid2qev --salvage to its promise: every note on it gives
stands in the undamaged file's conversion with that time, channel, key and
velocity. A flipped byte can change a note before any fault shows, so that
kind is counted, not held to it.

usage: damage.py MID2QEV [--sample N] [--seed S] DIR-OR-FILE...

RUNNER in the environment, where set, starts mid2qev (qemu, Wine).

Prints, for each kind, the copies made, how mid2qev --salvage ended (0, 3
or 1), the share of the note ons recovered and the count invented. Exits 1
where a kind other than a flipped byte invented a note.
"""
import collections
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile


def chunks(data):
    """The chunks after the header: (start, type, length), start at the type."""
    out, pos = [], 8 + struct.unpack(">I", data[4:8])[0]
    while pos + 8 <= len(data):
        length = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        out.append((pos, data[pos:pos + 4], length))
        pos += 8 + length
    return out


def tracks(data):
    return [c for c in chunks(data) if c[1] == b"MTrk"]


def set_length(data, track, length):
    pos = track[0] + 4
    return data[:pos] + struct.pack(">I", length) + data[pos + 4:]


def set_count(data, count):
    return data[:10] + struct.pack(">H", count) + data[12:]


def riff(data, lie):
    size = len(data) + 4 + 8 + (lie if lie else 0)
    return (b"RIFF" + struct.pack("<I", size) + b"RMID" + b"LIST" + struct.pack("<I", 0xFFFF if lie else 0)
            + b"data" + struct.pack("<I", len(data)) + data)


# Each kind: a name and a function of (data, random) that gives the damaged
# bytes, or None where the file does not lend itself to it.
def cut_in_track(d, r):
    t = r.choice(tracks(d))
    return d[:t[0] + 8 + r.randrange(1, max(2, t[2]))]


def cut_at_track(d, r):
    ts = tracks(d)
    return d[:ts[r.randrange(1, len(ts))][0]] if len(ts) > 1 else None


def length(change):
    def damage(d, r):
        t = r.choice(tracks(d))
        return set_length(d, t, max(0, change(t[2], r)))
    return damage


def junk_between(d, r):
    ts = tracks(d)
    t = r.choice(ts[1:]) if len(ts) > 1 else None
    return d[:t[0]] + bytes(r.randrange(256) for _ in range(r.randrange(1, 40))) + d[t[0]:] if t else None


def flip_byte(d, r):
    at = r.randrange(14, len(d))
    return d[:at] + bytes([d[at] ^ (1 << r.randrange(8))]) + d[at + 1:]


def flip_length_bit(d, r):
    t = r.choice(tracks(d))
    at = t[0] + 4 + r.randrange(4)
    return d[:at] + bytes([d[at] ^ (1 << r.randrange(8))]) + d[at + 1:]


KINDS = [
    ("cut inside a track", cut_in_track),
    ("cut at a track's start", cut_at_track),
    ("cut inside the header", lambda d, r: d[:r.randrange(1, 14)]),
    ("track length 0", length(lambda n, r: 0)),
    ("track length too short", length(lambda n, r: r.randrange(n))),
    ("track length too long", length(lambda n, r: n + r.randrange(1, 1000))),
    ("track length far too long", length(lambda n, r: n + r.randrange(1 << 20, 1 << 31))),
    ("a bit flipped in a track length", flip_length_bit),
    ("header length 7", lambda d, r: d[:4] + struct.pack(">I", 7) + d[8:]),
    ("header length with a high bit", lambda d, r: d[:4] + struct.pack(">I", 6 | 1 << r.randrange(8, 31)) + d[8:]),
    ("more tracks announced", lambda d, r: set_count(d, len(tracks(d)) + r.randrange(1, 4))),
    ("fewer tracks announced", lambda d, r: set_count(d, r.randrange(1, len(tracks(d)))) if len(tracks(d)) > 1 else None),
    ("junk between tracks", junk_between),
    ("junk at the end", lambda d, r: d + bytes(r.randrange(256) for _ in range(r.randrange(1, 200)))),
    ("zeros at the end", lambda d, r: d + bytes(r.randrange(1, 600))),
    ("a MacBinary header", lambda d, r: bytes(r.randrange(256) for _ in range(128)) + d),
    ("a RIFF whose sizes lie", lambda d, r: riff(d, True)),
    ("a flipped byte", flip_byte),
]
UNCHECKED = {"a flipped byte"}


def note_ons(text):
    """The note ons of a QEV text: (ms, channel, key, velocity), velocity above 0."""
    out = collections.Counter()
    for line in text.splitlines():
        f = line.split()
        if len(f) == 6 and not line.startswith("#") and f[3] == "P" and f[5] != "0":
            out[(int(f[0]) * 1000 + int(f[1]), f[2], int(f[4]), int(f[5]))] += 1
    return out


def convert(mid2qev, name, salvage, scratch):
    """mid2qev on a file in scratch, by its name there, as an emulated
    program takes a relative name best."""
    runner = os.environ.get("RUNNER", "").split()
    run = subprocess.run(runner + [mid2qev] + (["--salvage"] if salvage else []) + ["-o", "-", name],
                         capture_output=True, timeout=120, cwd=scratch, stdin=subprocess.DEVNULL)
    return run.returncode, run.stdout.decode("utf-8", "replace")


def midi_files(places):
    for place in places:
        if os.path.isdir(place):
            for root, _, names in sorted(os.walk(place)):
                yield from (os.path.join(root, n) for n in sorted(names) if n.lower().endswith(".mid"))
        elif os.path.exists(place):
            yield place


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    # The programs run in a scratch folder, so a relative path is made whole.
    mid2qev, sample, seed, places = os.path.abspath(args[0]), None, 1, []
    i = 1
    while i < len(args):
        if args[i] in ("--sample", "--seed"):
            value = int(args[i + 1])
            sample, seed = (value, seed) if args[i] == "--sample" else (sample, value)
            i += 2
        else:
            places.append(args[i])
            i += 1
    files = list(midi_files(places))
    if not files:
        print("SKIP: no MIDI files in " + " ".join(places))
        sys.exit(1 if os.environ.get("QEV2MID_REQUIRE_TOOLS") == "1" else 77)
    rng = random.Random(seed)
    if sample is not None:
        files = rng.sample(files, min(sample, len(files)))
    table = collections.OrderedDict((name, collections.Counter()) for name, _ in KINDS)
    scratch = tempfile.mkdtemp()
    path = os.path.join(scratch, "damaged.mid")
    for source in files:
        whole = open(source, "rb").read()
        with open(path, "wb") as f:
            f.write(whole)
        status, text = convert(mid2qev, "damaged.mid", False, scratch)
        if status != 0:
            continue
        original = note_ons(text)
        for name, damage in KINDS:
            damaged = damage(whole, rng)
            if damaged is None or damaged == whole:
                continue
            with open(path, "wb") as f:
                f.write(damaged)
            status, text = convert(mid2qev, "damaged.mid", True, scratch)
            got = note_ons(text) if status != 1 else collections.Counter()
            row = table[name]
            row["copies"] += 1
            row[f"exit {status}"] += 1
            row["notes"] += sum(original.values())
            row["recovered"] += sum((got & original).values())
            row["invented"] += sum((got - original).values())
    shutil.rmtree(scratch, ignore_errors=True)
    faults = 0
    print(f"{len(files)} files; for each kind: copies, exit 0/3/1, note ons recovered, invented")
    for name, row in table.items():
        share = 100.0 * row["recovered"] / row["notes"] if row["notes"] else 0.0
        print(f"  {name:34} {row['copies']:4}  {row['exit 0']:4} {row['exit 3']:4} {row['exit 1']:4}"
              f"  {share:5.1f}%  {row['invented']}")
        if row["invented"] and name not in UNCHECKED:
            faults += 1
    total = sum(r["copies"] for r in table.values())
    print(f"damage: {total - faults} passed, {faults} failed")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

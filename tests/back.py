"""Checks mid2qev: the round trip with qev2mid, and files from MIDI writers
we did not write.

usage: back.py QEV2MID MID2QEV CHECK    (CHECK: roundtrip, mido, csvmidi, abc2midi)

Expected times are computed here with integers from each file's ticks and
tempos, as an outside reader sees them: python3-mido reads formats 0 and 1
with ticks per quarter note; the csvmidi case is written so that its times
are known. A missing tool skips the test (exit 77) unless
QEV2MID_REQUIRE_TOOLS=1.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from readers import CHANNELS, compare, generate, skip  # noqa: E402


def run(cmd):
    r = subprocess.run(cmd, capture_output=True)
    if r.returncode != 0 or r.stderr:
        sys.exit("%s failed: %d %r" % (" ".join(cmd), r.returncode, r.stderr))
    return r.stdout


def to_qev(mid2qev, mid, tmp):
    """mid2qev's comment lines and note lines for a MIDI file."""
    out = os.path.join(tmp, "back.qev")
    if os.path.exists(out):
        os.remove(out)
    run([mid2qev, "-o", out, mid])
    lines = open(out, "rb").read().decode("utf-8").split("\n")
    assert lines[-1] == "", "no final line feed"
    comments = [line for line in lines[:-1] if line.startswith("#")]
    notes = [line for line in lines[:-1] if not line.startswith("#")]
    return comments, notes, out


def line(ms, status, note, velocity):
    kind = "P" if status & 0xF0 == 0x90 else "D"
    return "%d %d %s %s %d %d" % (ms // 1000, ms % 1000, CHANNELS[status & 15], kind, note, velocity)


def round_ms(at, den):
    q, r = divmod(at, den)
    return q + (2 * r >= den)


def expected_from_mido(path):
    """Note lines of a format 0 or 1 file read by mido, timed with integers."""
    import mido
    f = mido.MidiFile(path)
    assert f.type in (0, 1) and f.ticks_per_beat > 0
    tempos, notes = [], []
    for t, track in enumerate(f.tracks):
        tick = 0
        for i, msg in enumerate(track):
            tick += msg.time
            if msg.type == "set_tempo":
                tempos.append((tick, msg.tempo))
            elif msg.type in ("note_on", "note_off"):
                status = (0x90 if msg.type == "note_on" else 0x80) | msg.channel
                notes.append((tick, t, i, status, msg.note, msg.velocity))
    tempos.sort(key=lambda x: x[0])  # stable: track order, then file order
    segments = [(0, 0, 500000)]
    for tick, tempo in tempos:
        last_tick, last_at, rate = segments[-1]
        if tick == last_tick:
            segments[-1] = (tick, last_at, tempo)
        else:
            segments.append((tick, last_at + (tick - last_tick) * rate, tempo))

    def at(tick):
        seg = [s for s in segments if s[0] <= tick][-1]
        return seg[1] + (tick - seg[0]) * seg[2]

    den = 1000 * f.ticks_per_beat
    timed = sorted((at(tick), t, i, status, note, vel) for tick, t, i, status, note, vel in notes)
    return [line(round_ms(a, den), s, n, v) for a, t, i, s, n, v in timed]


def check_roundtrip(qev2mid, mid2qev, tmp):
    """qev2mid then mid2qev gives back the accepted events in the plain form;
    converting that again gives the same bytes and the same lines."""
    data, expected = generate(seed=20261208, count=12000)
    path = os.path.join(tmp, "random.qev")
    open(path, "wb").write(data)
    run([qev2mid, path])
    mid = os.path.join(tmp, "random.mid")
    want = [line(t, (0x90 if k == "on" else 0x80) | c, n, v) for t, k, c, n, v in expected]
    comments, notes, back = to_qev(mid2qev, mid, tmp)
    compare("qev2mid, then mid2qev", notes, want)
    if any("dropped" in c for c in comments):
        sys.exit("a file qev2mid wrote should drop nothing: %r" % comments)
    again = os.path.join(tmp, "again.qev")
    shutil.copy(back, again)
    run([qev2mid, again])
    if open(os.path.join(tmp, "again.mid"), "rb").read() != open(mid, "rb").read():
        sys.exit("qev2mid(mid2qev(qev2mid(q))) differs from qev2mid(q)")
    print("roundtrip: the same bytes again")


def check_mido(qev2mid, mid2qev, tmp):
    """A format 1 file with tempo changes, several tracks and much that QEV
    drops, written by mido; and back through qev2mid, read by mido."""
    import mido
    rng = random.Random(7)
    f = mido.MidiFile(type=1, ticks_per_beat=384)
    meta = mido.MidiTrack([mido.MetaMessage("set_tempo", tempo=500000, time=0),
                           mido.MetaMessage("set_tempo", tempo=312500, time=1000),
                           mido.MetaMessage("set_tempo", tempo=700001, time=999),
                           mido.MetaMessage("set_tempo", tempo=250000, time=0)])
    f.tracks.append(meta)
    for chan in (0, 9):
        track = mido.MidiTrack([mido.Message("program_change", program=5, channel=chan),
                                mido.Message("control_change", control=7, value=90, channel=chan),
                                mido.MetaMessage("text", text="verse")])
        for _ in range(400):
            kind = rng.choice(["note_on", "note_on", "note_off", "pitchwheel", "sysex"])
            dt = rng.choice([0, 0, 1, 7, 96, 385])
            if kind == "pitchwheel":
                track.append(mido.Message(kind, pitch=rng.randint(-8192, 8191), channel=chan, time=dt))
            elif kind == "sysex":
                track.append(mido.Message(kind, data=[1, 2, 3], time=dt))
            else:
                track.append(mido.Message(kind, note=rng.randint(0, 127), channel=chan, time=dt,
                                          velocity=rng.choice([0, 1, 64, 127])))
        f.tracks.append(track)
    mid = os.path.join(tmp, "mido.mid")
    f.save(mid)
    want = expected_from_mido(mid)
    comments, notes, back = to_qev(mid2qev, mid, tmp)
    compare("mido's file through mid2qev", notes, want)
    if not any("dropped" in c for c in comments):
        sys.exit("no dropped line: %r" % comments)
    run([qev2mid, back])
    compare("mid2qev, then qev2mid, read by mido", expected_from_mido(back[:-4] + ".mid"), want)


def check_csvmidi(qev2mid, mid2qev, tmp):
    """Format 2 with SMPTE timing (25 frames of 40 ticks: a tick is 1 ms), a
    Set Tempo that means nothing there, and each track after the one before."""
    csv = os.path.join(tmp, "f2.csv")
    open(csv, "w").write("\n".join([
        "0, 0, Header, 2, 2, %d" % 0xE728,
        "1, 0, Start_track", "1, 0, Tempo, 100000", "1, 10, Note_on_c, 0, 60, 90",
        "1, 20, System_exclusive, 3, 1, 2, 247", "1, 1010, Note_off_c, 0, 60, 64",
        "1, 2000, End_track",
        "2, 0, Start_track", "2, 0, Text_t, \"two\"", "2, 5, Note_on_c, 3, 61, 0",
        "2, 5, End_track", "0, 0, End_of_file", ""]))
    mid = os.path.join(tmp, "f2.mid")
    run(["csvmidi", csv, mid])
    comments, notes, _ = to_qev(mid2qev, mid, tmp)
    compare("csvmidi's file through mid2qev", notes,
            ["0 10 a P 60 90", "1 10 a D 60 64", "2 5 d P 61 0"])
    if "25 frames per second, 40 ticks per frame" not in comments[0]:
        sys.exit("timing not named: %r" % comments)


def check_abc2midi(qev2mid, mid2qev, tmp):
    """A real writer's habits: a tune with chords, a tempo and two voices."""
    abc = os.path.join(tmp, "tune.abc")
    open(abc, "w").write("X:1\nT:Test\nM:3/4\nL:1/8\nQ:1/4=132\nK:G\n"
                         "V:1\n|:GABc d2|[DG]2 [EB]2 d>c|B2 A2 G2:|\n"
                         "V:2\n|:G,4 D,2|C,4 D,2|G,6:|\n")
    mid = os.path.join(tmp, "tune.mid")
    run(["abc2midi", abc, "-o", mid, "-silent"])
    want = expected_from_mido(mid)
    _, notes, _ = to_qev(mid2qev, mid, tmp)
    if len(want) < 20:
        sys.exit("abc2midi wrote only %d notes" % len(want))
    compare("abc2midi's file through mid2qev", notes, want)


def main():
    qev2mid, mid2qev, check = sys.argv[1:4]
    if check in ("mido", "abc2midi"):
        try:
            import mido  # noqa: F401
        except ImportError:
            skip("python3-mido is not installed")
    if check in ("csvmidi", "abc2midi") and shutil.which(check) is None:
        skip(check + " is not installed")
    with tempfile.TemporaryDirectory() as tmp:
        if check == "roundtrip":
            check_roundtrip(qev2mid, mid2qev, tmp)
        elif check == "mido":
            check_mido(qev2mid, mid2qev, tmp)
        elif check == "csvmidi":
            check_csvmidi(qev2mid, mid2qev, tmp)
        else:
            check_abc2midi(qev2mid, mid2qev, tmp)


if __name__ == "__main__":
    main()

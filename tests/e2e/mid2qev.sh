#!/bin/bash
# mid2qev end to end: its command line, its input read once, and an output
# that never loses a .qev. See common.sh for the environment it needs.
table=mid2qev
source "$(dirname "$0")/common.sh"

# mid2qev: the way back. Each row: the case, the command line after the
# program (song.mid holds one note, made by qev2mid), the status, the
# message, and what song.qev then holds: ONE is that note with the comment
# that names song.mid, ANON the same from standard input.
back() {
  timeout 60 "${runner[@]}" "$back" "$@" >"$root/out" 2>"$root/err"
  status=$?
}
one_note=$'Standard MIDI File, format 1, 2 tracks, 500 ticks per quarter note\n1 250 c P 60 100'
while IFS='|' read -r case args want_status want_err want; do
  start "mid2qev-$case"
  printf '1 250 c P 60 100\n' >one.qev && "${runner[@]}" "$bin" one.qev && mv one.mid song.mid
  rm one.qev && printf 'x\n' >one.txt
  [ "$case" = exists ] || [ "$case" = force ] && printf '# mine\n' >song.qev
  read -ra words <<<"$args"
  if [ "$case" = stdin ]; then
    back "${words[@]}" <song.mid
  else
    back "${words[@]}"
  fi
  if [ "$case" = stdout ]; then
    mv "$root/out" song.qev
    : >"$root/out"
  fi
  expect "$want_status" "${want_err//PROG/$backprog}"
  want=${want//ONE/# song.mid: $one_note}
  [ "$(text_of song.qev 2>/dev/null)" = "${want//ANON/# $one_note}" ] ||
    bad "song.qev holds: $(cat song.qev 2>/dev/null)"
done <<'TABLE'
beside|song.mid|0||ONE
exists|song.mid|1|PROG: song.qev exists; use -f to replace it|# mine
force|-f song.mid|0||ONE
named|-o song.qev song.mid|0||ONE
stdout|-o - song.mid|0||ONE
stdin|-o song.qev -|0||ANON
stdin-needs-o|-|1|Usage: PROG [-f] [--salvage] [-o OUT] MIDI-FILE...|
usage|-o two.qev song.mid song.mid|1|Usage: PROG [-f] [--salvage] [-o OUT] MIDI-FILE...|
salvage-whole|--salvage song.mid|0||ONE
missing|nothere.mid|1|PROG: File nothere.mid not found|
is-input|-o song.mid song.mid|1|PROG: Output file song.mid is the input file|
not-midi|-o song.qev one.txt|1|PROG: one.txt is not a Standard MIDI File: no MThd at the start at byte 0|
TABLE

# --salvage: of a damaged file, what can be read, with status 3 and one line
# that names the damage; of one that gives no note, nothing, with status 1;
# and a MacBinary file on standard input, whose first bytes are not MIDI.
# Each row: the case, the command that makes the file, the status, the
# message, and what out.qev then holds.
while IFS='|' read -r case make want_status want_err want; do
  start "mid2qev-$case"
  printf '0 0 a P 60 100\n1 0 a D 60\n' >song.qev && "${runner[@]}" "$bin" song.qev
  bash -c "$make" >damaged.mid
  if [ "$case" = salvage-macbinary ]; then
    back --salvage -o out.qev - <damaged.mid
  else
    back --salvage -o out.qev damaged.mid
  fi
  expect "$want_status" "${want_err//PROG/$backprog}"
  [ "$(text_of out.qev 2>/dev/null | tail -n +2)" = "$(printf '%b' "$want")" ] ||
    bad "out.qev holds: $(cat out.qev 2>/dev/null)"
done <<'TABLE'
salvage-cut|head -c -5 song.mid|3|PROG: damaged.mid is damaged: track 2's length says 13 bytes, 5 more than the file holds at byte 37; 1 note salvaged|# damaged at byte 37: track 2's length says 13 bytes, 5 more than the file holds; the notes of track 2 after 0.000 s are lost\n0 0 a P 60 100\n# added: a note off for a note left sounding where the file is damaged\n0 0 a D 60 0
salvage-nothing|head -c 30 song.mid|1|PROG: damaged.mid: no note can be salvaged: track 1's length says 11 bytes, 3 more than the file holds at byte 18|
salvage-macbinary|head -c 128 /dev/zero; cat song.mid|3|PROG: - is damaged: an MThd after 128 bytes of something else, such as a MacBinary header at byte 128; 2 notes salvaged|# damaged at byte 128: an MThd after 128 bytes of something else, such as a MacBinary header\n0 0 a P 60 100\n1 0 a D 60 0
TABLE

# A collection: each file beside itself, going on after a failure; one line
# for each that is not whole, then the summary, and the worst status.
collection() {
  start "$1"
  printf '0 0 a P 60 100\n1 0 a D 60\n' >a.qev && "${runner[@]}" "$bin" a.qev
  head -c -5 a.mid >b.mid && printf 'x\n' >c.txt && rm a.qev
}
collection mid2qev-collection
back --salvage a.mid b.mid c.txt
expect 1 "$backprog: b.mid is damaged: track 2's length says 13 bytes, 5 more than the file holds at byte 37; 1 note salvaged
$backprog: c.txt is not a Standard MIDI File: no MThd at the start at byte 0
$backprog: 3 files: 1 converted, 1 salvaged (1 note kept), 1 refused (1 not a Standard MIDI File: no MThd at the start)"
[ -s a.qev ] && [ -s b.qev ] || bad "a.qev or b.qev is missing"
collection mid2qev-collection-salvaged
back --salvage a.mid b.mid
expect 3 "$backprog: b.mid is damaged: track 2's length says 13 bytes, 5 more than the file holds at byte 37; 1 note salvaged
$backprog: 2 files: 1 converted, 1 salvaged (1 note kept), 0 refused"

# mid2qev's input is read once, whole, before the output is touched; what
# does not start like MIDI is refused after its first bytes, since it may
# never end, and a stream is refused past a cap. Each row: the case, FILE
# and a file to read, STDIN and a file to read as -, or PIPE and a command
# whose output is read as -, and the status and message.
while IFS='|' read -r case how input want_status want_err; do
  start "mid2qev-$case"
  : >empty.mid
  if [ "$how" = STDIN ]; then
    unix_only "mid2qev-$case" "Wine reads no directory as standard input" || continue
    back -o out.qev - <"$input"
  elif [ "$how" = FILE ]; then
    [ "$input" = /dev/zero ] && { unix_only "mid2qev-$case" "Windows has no /dev/zero" || continue; }
    back -o out.qev "$input"
  else
    bash -c "$input" | timeout 60 "${runner[@]}" "$back" -o out.qev - >"$root/out" 2>"$root/err"
    status=${PIPESTATUS[1]}
  fi
  expect "$want_status" "${want_err//PROG/$backprog}"
  gone out.qev
done <<'TABLE'
empty-file|FILE|empty.mid|1|PROG: empty.mid is not a Standard MIDI File: no MThd at the start at byte 0
empty-pipe|PIPE|true|1|PROG: - is not a Standard MIDI File: no MThd at the start at byte 0
endless-text|PIPE|yes|1|PROG: - is not a Standard MIDI File: no MThd at the start at byte 0
endless-device|FILE|/dev/zero|1|PROG: /dev/zero is not a Standard MIDI File: no MThd at the start at byte 0
endless-midi|PIPE|printf MThd; cat /dev/zero|1|PROG: - is longer than 256 MiB, the most read from a pipe
stdin-unreadable|STDIN|.|1|PROG: Error reading -
TABLE

# song.mid with one note on and, once the case has written its line to
# descriptor 3, one note off, as qev2mid writes it; and what mid2qev makes
# of the whole.
whole_song=$'# song.mid: Standard MIDI File, format 1, 2 tracks, 500 ticks per quarter note\n0 0 a P 60 100\n1 0 a D 60 0'
if unix_only "mid2qev-waits-for-writer" "Windows reads no FIFO to hold a run mid-way; a case of its own holds the lock"; then
  # qev2mid is mid-way through song.mid, a valid file that holds no note
  # yet: mid2qev waits for it to be complete, then converts every note.
  start mid2qev-waits-for-writer
  feed song
  "${runner[@]}" "$back" -o back.qev song.mid >"$root/out" 2>"$root/err" 3>&- &
  back_pid=$!
  wait_until waits_for_lock "$back_pid"
  printf '1 0 a D 60\n' >&3
  exec 3>&-
  wait "$pid"
  wait "$back_pid"
  status=$?
  expect 0
  [ "$(cat back.qev)" = "$whole_song" ] || bad "back.qev holds: $(cat back.qev)"
  # A run without -f creates song.qev, and another run locks it first and
  # fills it: the first then keeps it, as if it had come second.
  start mid2qev-filled-while-waiting
  printf '0 0 a P 60 100\n' >one.qev && "${runner[@]}" "$bin" one.qev && mv one.mid song.mid
  failing_cmd slow-flock "$back"
  "${cmd[@]}" song.mid >"$root/out" 2>"$root/err" &
  pid=$!
  wait_until test -e song.qev
  exec 5>>song.qev && flock 5 && printf '# theirs\n' >&5
  wait_until waits_for_lock "$pid" "$(stat -c %i song.qev)"
  exec 5>&-
  wait "$pid"
  status=$?
  expect 1 "$backprog: song.qev exists; use -f to replace it"
  bytes song.qev 23207468656972730a
fi
if [ -n "$windows" ]; then
  start mid2qev-waits-for-writer
  printf '0 0 a P 60 100\n1 0 a D 60\n' >song.qev && "${runner[@]}" "$bin" song.qev && rm song.qev
  exec 4> >(exec "${runner[@]}" "$HOLD_LOCK" song.mid >locked)
  wait_until grep -q locked locked
  "${runner[@]}" "$back" song.mid >"$root/out" 2>"$root/err" 4>&- &
  back_pid=$!
  sleep 1
  kill -0 "$back_pid" 2>/dev/null || bad "mid2qev did not wait for the lock"
  exec 4>&-
  wait "$back_pid"
  status=$?
  expect 0
  [ "$(text_of song.qev)" = "$whole_song" ] || bad "song.qev holds: $(cat song.qev)"
fi

# mid2qev -f replaces the .qev only once the new one is complete: whatever
# fails, the old file is left byte for byte, with nothing beside it. The new
# file keeps the old one's mode; a symbolic link stays a link to it, and a
# hard link keeps the old contents.
# big.mid: 6000 notes, some 90 KB of QEV.
make_big() {
  awk 'BEGIN { for (i = 0; i < 6000; i++) printf "%d %d a P 60 100\n", i / 1000, i % 1000 }' >big.qev
  "${runner[@]}" "$bin" big.qev && rm big.qev
}
start mid2qev-replace-keeps-links
make_big && printf '# mine\n' >real.qev && chmod 640 real.qev
ln -s real.qev song.qev && ln real.qev hard.qev
back -f big.mid -o song.qev
expect 0
[ -L song.qev ] || bad "song.qev is no longer a link"
[ -n "$windows" ] || [ "$(stat -c %a real.qev)" = 640 ] || bad "real.qev has mode $(stat -c %a real.qev)"
[ "$(grep -c ' P ' real.qev)" = 6000 ] || bad "real.qev holds $(grep -c ' P ' real.qev) notes"
bytes hard.qev 23206d696e650a
[ "$(ls)" = "$(printf 'big.mid\nhard.qev\nreal.qev\nsong.qev')" ] || bad "left: $(ls)"
if unix_only "mid2qev-replace" "Windows has no file-size limit, tmpfs or preload"; then
  start mid2qev-replace-past-size-limit
  make_big && printf '# mine\n' >song.qev
  (ulimit -f 8 && exec timeout 60 "${runner[@]}" "$back" -f -o song.qev big.mid >"$root/out" 2>"$root/err")
  status=$?
  expect 1 "$backprog: Error writing song.qev"
  bytes song.qev 23206d696e650a
  [ "$(ls)" = "$(printf 'big.mid\nsong.qev')" ] || bad "left: $(ls)"
  # A step that fails, and the message: no stream, no sync, no rename.
  for row in "fdopen|Error creating" "fsync|Error writing" "rename|Error writing"; do
    start "mid2qev-replace-${row%%|*}-fails"
    make_big && printf '# mine\n' >song.qev
    failing_cmd "${row%%|*}" "$back"
    "${cmd[@]}" -f -o song.qev big.mid >"$root/out" 2>"$root/err"
    status=$?
    expect 1 "$backprog: ${row#*|} song.qev"
    bytes song.qev 23206d696e650a
    [ "$(ls)" = "$(printf 'big.mid\nsong.qev')" ] || bad "left: $(ls)"
  done
  start mid2qev-replace-full-disk
  mkdir disk
  if mount -t tmpfs -o size=64k tmpfs disk 2>/dev/null; then
    make_big && printf '# mine\n' >disk/song.qev
    back -f -o disk/song.qev big.mid
    expect 1 "$backprog: Error writing disk/song.qev"
    bytes disk/song.qev 23206d696e650a
    [ "$(ls disk)" = song.qev ] || bad "left: $(ls disk)"
    umount disk
  else
    echo "SKIP [mid2qev-replace-full-disk]: no tmpfs can be mounted here"
    [ "${QEV2MID_REQUIRE_TOOLS:-}" = 1 ] && bad "no tmpfs can be mounted"
  fi
fi

# Without -f, a failed write removes the new .qev; on standard output, a
# write that fails in a stream's buffer, at its end or at its close is
# reported.
if unix_only "mid2qev-write-fails" "Windows has no file-size limit, /dev/full or preload"; then
  start mid2qev-past-size-limit
  make_big
  (ulimit -f 8 && exec timeout 60 "${runner[@]}" "$back" big.mid >"$root/out" 2>"$root/err")
  status=$?
  expect 1 "$backprog: Error writing big.qev"
  gone big.qev
  start mid2qev-stdout-full
  # 1000 notes: past the stream's own buffer, within mid2qev's.
  awk 'BEGIN { for (i = 0; i < 1000; i++) printf "0 %d a P 60 100\n", i }' >some.qev
  "${runner[@]}" "$bin" some.qev
  timeout 60 "${runner[@]}" "$back" -o - some.mid >/dev/full 2>"$root/err"
  status=$?
  expect 1 "$backprog: Error writing standard output"
  start mid2qev-stdout-close-fails
  printf '0 0 a P 60 100\n' >one.qev && "${runner[@]}" "$bin" one.qev
  failing_cmd fclose-stdout "$back"
  "${cmd[@]}" -o - one.mid >one.txt 2>"$root/err"
  status=$?
  expect 1 "$backprog: Error writing standard output"
fi

# The comment line cuts a long name where a character ends.
start mid2qev-long-name
long=a$(printf 'é%.0s' $(seq 100))
printf '0 0 a P 60 100\n' >"$long.qev" && "${runner[@]}" "$bin" "$long.qev"
back -o - "$long.mid"
mv "$root/out" got.qev && : >"$root/out"
expect 0
[ "$(head -c 163 got.qev)" = "# a$(printf 'é%.0s' $(seq 79)): " ] || bad "comment: $(head -1 got.qev)"
# A name written on Windows may reach a Unix system whole, backslashes and all.
if unix_only "mid2qev-backslash-in-name" "Windows reads a backslash as a directory's end"; then
  start mid2qev-backslash-in-name
  printf '0 0 a P 60 100\n' >one.qev && "${runner[@]}" "$bin" one.qev && mv one.mid 'dir\one.mid'
  back -o - 'dir\one.mid'
  mv "$root/out" got.qev && : >"$root/out"
  expect 0
  [ "$(head -c 10 got.qev)" = "# one.mid:" ] || bad "comment: $(head -1 got.qev)"
fi

finish

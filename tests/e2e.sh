#!/bin/bash
# End-to-end cases for the built program. Each case runs it in a fresh scratch
# directory and checks the exit status, standard error, standard output (which
# must always be empty) and the files it leaves behind.
#
# usage: e2e.sh QEV2MID    (QEVCHECK and MID2QEV name the other programs, ARGC0 and FAIL_OUTPUT the
# test helpers; RUNNER, when set, is the emulator command that starts a
# program built for another machine; WINDOWS=1 when that is Windows, whose
# HOLD_LOCK helper holds an output's lock)
set -u
bin=$(realpath "$1")
checker=$(realpath "$QEVCHECK")
back=$(realpath "$MID2QEV")
read -ra runner <<<"${RUNNER:-}"
# Programs name themselves in messages as they were invoked: under Wine, by
# a Windows path to the Unix file.
windows=${WINDOWS:-}
if [ -n "$windows" ]; then
  prog="Z:${bin//\//\\}"
  checkprog="Z:${checker//\//\\}"
  backprog="Z:${back//\//\\}"
else
  prog=$bin
  checkprog=$checker
  backprog=$back
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
passed=0
failed=0
name=

# The header block up to the event track's length field.
head37=4d546864000000060001000201f44d54726b0000000b00ff510307a12000ff2f004d54726b
eot=00ff2f00

# unix_only NAME REASON: whether the cases that follow can run; under Windows
# they cannot, for the reason printed.
unix_only() {
  [ -z "$windows" ] && return 0
  echo "SKIP [$1]: $2"
  return 1
}

# Windows ends each line of its messages in CR LF.
text_of() {
  tr -d '\r' <"$1"
}

bad() {
  echo "FAIL [$name] $*"
  failed=$((failed + 1))
}

start() {
  name=$1
  mkdir "$root/$name" && cd "$root/$name" || exit 2
}

# run [ARG...]: runs the program; its results land in status, err and out.
# A run that should end but hangs fails after a minute rather than never.
run() {
  timeout 60 "${runner[@]}" "$bin" "$@" >"$root/out" 2>"$root/err"
  status=$?
}

# failing_cmd STEP [PROGRAM]: sets cmd to start the program (qev2mid unless
# named) with the preload that makes STEP fail, with SIGINT as a shell's
# background job would not have it. An emulator takes the preload as an
# option, not for itself.
failing_cmd() {
  if [ -n "${RUNNER:-}" ]; then
    cmd=(env --default-signal=INT QEV2MID_FAIL="$1" "${runner[@]}" -E LD_PRELOAD="$FAIL_OUTPUT" "${2:-$bin}")
  else
    cmd=(env --default-signal=INT QEV2MID_FAIL="$1" LD_PRELOAD="$FAIL_OUTPUT" ASAN_OPTIONS=verify_asan_link_order=0
      "${2:-$bin}")
  fi
}

# failing STEP ARG: runs the program with the preload that makes STEP fail.
failing() {
  failing_cmd "$1"
  "${cmd[@]}" "$2" >"$root/out" 2>"$root/err"
  status=$?
}

# wait_until CMD...: polls for a state another process reaches, for at most 20 s.
wait_until() {
  local i
  for i in $(seq 200); do
    "$@" && return 0
    sleep 0.1
  done
  bad "never: $*"
  return 1
}
has_size() { [ "$(stat -c %s "$1" 2>/dev/null)" = "$2" ]; }
# waits_for_lock PID [INODE]: PID waits for a flock, shared or exclusive, on
# that file if given.
waits_for_lock() { grep -Eq -- "-> FLOCK +ADVISORY +(READ|WRITE) +$1 [0-9a-f:]*:${2:-[0-9]*} " /proc/locks; }

# feed NAME [ENV-ARG...]: starts the program in the background on NAME.qev, a
# FIFO, and holds it mid-run: its header is written and it waits for lines
# that the case writes to descriptor 3. Sets pid.
feed() {
  local qev=$1.qev
  shift
  mkfifo "$qev"
  env "$@" "${runner[@]}" "$bin" "$qev" >"$root/out" 2>"$root/err" &
  pid=$!
  exec 3>"$qev"
  printf '0 0 a P 60 100\n' >&3
  wait_until has_size "${qev%.qev}.mid" 41
}

# expect STATUS [STDERR]: the last run's status and standard error.
expect() {
  local want_err=${2:-}
  [ -n "$want_err" ] && want_err+=$'\n'
  [ "$status" = "$1" ] || bad "exit status $status, expected $1"
  [ "$(text_of "$root/err"; echo .)" = "$want_err." ] || bad "stderr: $(cat "$root/err")"
  [ -s "$root/out" ] && bad "stdout: $(cat "$root/out")"
  passed=$((passed + 1))
}

# bytes FILE HEX: FILE holds exactly these bytes.
bytes() {
  local got
  got=$(od -An -v -tx1 "$1" 2>/dev/null | tr -d ' \n')
  [ "$got" = "$2" ] || bad "$1 holds ${got:-nothing}, expected $2"
}

gone() {
  [ -e "$1" ] || [ -L "$1" ] && bad "$1 is still there"
}

# Command lines.
start no-argument
run
expect 1 "Usage: $prog QEV-FILE"
start two-arguments
printf '' >a.qev
run a.qev a.qev
expect 1 "Usage: $prog QEV-FILE"
gone a.mid
if [ -n "${RUNNER:-}" ]; then
  echo "SKIP [no-words-at-all]: the emulator cannot start a program with no arguments"
else
  start no-words-at-all
  "$ARGC0" "$bin" >"$root/out" 2>"$root/err"
  status=$?
  expect 1 "Usage: qev2mid QEV-FILE"
fi
if unix_only "name-as-invoked" "Windows names a program by its full path"; then
start name-as-invoked
mkdir bin && ln -s "$bin" bin/qev2mid
"${runner[@]}" ./bin/qev2mid missing.qev >"$root/out" 2>"$root/err"
status=$?
expect 1 "./bin/qev2mid: File missing.qev not found"
fi

# Opening and creating.
start missing-input
run nothere.qev
expect 1 "$prog: File nothere.qev not found"
gone nothere.mid
start directory-input
mkdir d && printf 'keep' >d.mid
run d
expect 1 "$prog: File d not found"
bytes d.mid 6b656570
start cannot-create
printf '0 0 a P 60 100\n' >song.qev && mkdir song.mid
run song.qev
expect 1 "$prog: Error creating song.mid"
[ -d song.mid ] || bad "song.mid directory was touched"

# Whole files.
start empty-input
printf '' >empty.qev
run empty.qev
expect 0
bytes empty.mid "${head37}00000004$eot"
start comments-only
printf 'tune\n\n  \n0 0 a P\n' >c.qev
run c.qev
expect 0
bytes c.mid "${head37}00000004$eot"
start one-event
printf '0 0 a P 60 100\n' >one.qev
run one.qev
expect 0
bytes one.mid "${head37}0000000800903c64$eot"
start typical
printf '1 0 a P 60 100\r\n2 250 c P 60 100\r\n0 0 c D 1 1\n2 250 c D 60\n' >t.qev
run t.qev
expect 0
bytes t.mid "${head37}000000128768903c648962923c6400823c00$eot"
start replaces-output
printf '0 0 a P 60 100\n' >r.qev && head -c 5000 /dev/zero >r.mid
run r.qev
expect 0
bytes r.mid "${head37}0000000800903c64$eot"
start long-gap
printf '0 0 a P 60 100\n268436 0 a D 60\n' >g.qev
run g.qev
expect 0
bytes g.mid "${head37}0000001400903c64ffffff7fff01008421803c00$eot"

# Read errors remove the output, even one that was there before.
start no-final-newline
printf '0 0 a P 60 100' >n.qev && printf 'old' >n.mid
run n.qev
expect 1 "$prog: Error reading n.qev"
gone n.mid
start nul-in-line
printf '0 0 a P 60 100\n0 0 a\0P 60 100\n' >z.qev
run z.qev
expect 1 "$prog: Error reading z.qev"
gone z.mid
start overlong-line
{ head -c 999 /dev/zero | tr '\0' x; echo; } >o.qev
run o.qev
expect 1 "$prog: Error reading o.qev"
gone o.mid

if unix_only "file-size limits" "Windows has no ulimit"; then
# Write errors remove the output too. A file-size limit makes the disk fail
# where it is wanted; the program itself ignores SIGXFSZ.
limited() {
  local kib=$1
  shift
  # Standard error goes through a pipe: the limit would stop a file too.
  (ulimit -f "$kib"; exec "${runner[@]}" "$bin" "$@" 2>&1 >"$root/out") | cat >"$root/err"
  status=${PIPESTATUS[0]}
}
start header-fails
printf '0 0 a P 60 100\n' >h.qev
limited 0 h.qev
expect 1 "$prog: Error writing h.mid"
gone h.mid
start stream-fails
# Far more than any buffer holds: the limit is met while events still come.
seq 1 100000 | sed 's/.*/& 0 a P 60 100/' >m.qev
limited 64 m.qev
expect 1 "$prog: Error writing m.mid"
gone m.mid
start stream-fails-stops-there
# A failed write ends the run where it happens, before the input's own fault.
{ seq 1 100000 | sed 's/.*/& 0 a P 60 100/'; printf '0 0'; } >m.qev
limited 64 m.qev
expect 1 "$prog: Error writing m.mid"
gone m.mid
start flush-fails
# Small enough to stay buffered until the file is finished, large enough to
# pass the 1 KiB limit: only the final flush can notice.
for i in $(seq 1 300); do echo "0 $i a P 60 100"; done >f.qev
limited 1 f.qev
expect 1 "$prog: Error writing f.mid"
gone f.mid
fi
if unix_only "close, flush and rewind fail" "Windows has no preload to make them fail"; then
# Each check against a lost write, alone: a close that reports it, a final
# flush that fails while nothing else does, and a rewind that does not
# reach the start, which would put a second header at the end.
for step in fclose fflush rewind; do
  start "$step-fails"
  printf '0 0 a P 60 100\n' >c.qev
  failing "$step" c.qev
  expect 1 "$prog: Error writing c.mid"
  gone c.mid
done
fi
if unix_only "symlink-target-emptied" "a Unix symbolic link is no Windows link"; then
start symlink-target-emptied
printf '0 0 a P 60 100' >bad.qev && mkdir keep && printf 'old' >keep/real.mid
ln -s keep/real.mid bad.mid
run bad.qev
expect 1 "$prog: Error reading bad.qev"
gone bad.mid
bytes keep/real.mid ""
start dangling-symlink
# The run made the link's target, so a failed run removes it again.
printf '0 0 a P 60 100' >bad.qev && mkdir keep && ln -s keep/new.mid bad.mid
run bad.qev
expect 1 "$prog: Error reading bad.qev"
gone bad.mid
gone keep/new.mid
fi
if unix_only "stderr-reader-gone" "Windows has no SIGPIPE"; then
start stderr-reader-gone
printf '0 0 a P 60 100' >n.qev
exec 4> >(:)
wait $!
"${runner[@]}" "$bin" n.qev 2>&4 >"$root/out"
status=$?
exec 4>&-
: >"$root/err"
expect 1
gone n.mid
fi

if unix_only "FIFO and device outputs" "Windows has no FIFOs or device nodes"; then
# Outputs that cannot be rewound are refused and left as they stand; seekable
# devices are written.
start fifo-output
printf '0 0 a P 60 100\n' >s.qev && mkfifo s.mid
run s.qev
expect 1 "$prog: Error creating s.mid"
[ -p s.mid ] || bad "the FIFO s.mid is gone"
start fifo-output-with-reader
printf '0 0 a P 60 100\n' >s.qev && mkfifo s.mid
cat s.mid >got &
reader=$!
run s.qev
expect 1 "$prog: Error creating s.mid"
kill "$reader"
[ -s got ] && bad "the FIFO's reader got $(od -An -tx1 got)"
start pipe-output
printf '0 0 a P 60 100\n' >s.qev && ln -s /dev/stdout s.mid
timeout 60 "${runner[@]}" "$bin" s.qev 2>"$root/err" | cat >"$root/out"
status=${PIPESTATUS[0]}
expect 1 "$prog: Error creating s.mid"
[ -L s.mid ] || bad "the link s.mid is gone"
start device-output
printf '0 0 a P 60 100\n' >s.qev && ln -s /dev/null s.mid
run s.qev
expect 0
[ -L s.mid ] || bad "the link s.mid is gone"
start device-output-failed-run
printf '0 0 a P 60 100' >s.qev && ln -s /dev/null s.mid
run s.qev
expect 1 "$prog: Error reading s.qev"
[ -L s.mid ] || bad "the link s.mid is gone"
fi

if unix_only "stream-fails" "Windows has no preload to make the stream fail"; then
# Nothing is emptied before the run is sure to write, and a file it made
# goes again.
start stream-fails-keeps-old
printf '0 0 a P 60 100\n' >s.qev && printf 'old' >s.mid
failing fdopen s.qev
expect 1 "$prog: Error creating s.mid"
bytes s.mid 6f6c64
start stream-fails-new
printf '0 0 a P 60 100\n' >s.qev
failing fdopen s.qev
expect 1 "$prog: Error creating s.mid"
gone s.mid
fi

# Two runs on one output: the second waits for the first, untouched, then
# writes its own file, or removes it when it fails. Each row: the case, the
# second run's input, and its event track (none when it fails).
two_runs='two-runs-second-wins|0 0 b P 61 100\n|0000000800913d6400ff2f00
two-runs-second-fails|0 0 b P 61 100|'
second_ends() {
  if [ -n "$1" ]; then
    expect 0
    bytes song.mid "${head37}$1"
  else
    expect 1 "$prog: Error reading song.txt"
    gone song.mid
  fi
}
if unix_only "two-runs" "Windows reads no FIFO to hold a run mid-way; a case of its own holds the lock"; then
while IFS='|' read -r case second final; do
  start "$case"
  printf "$second" >song.txt
  feed song
  "${runner[@]}" "$bin" song.txt >"$root/out2" 2>"$root/err2" 3>&- &
  second_pid=$!
  wait_until waits_for_lock "$second_pid"
  bytes song.mid "${head37}00000000"
  printf '1 0 a D 60\n' >&3
  exec 3>&-
  wait "$pid"
  status=$?
  expect 0
  wait "$second_pid"
  status=$?
  mv "$root/err2" "$root/err"
  second_ends "$final"
done <<<"$two_runs"
fi

if unix_only "lock-passed-on" "Windows has no flock(1) to hold the lock"; then
# Another process holds the lock and replaces the file nine times, locking
# each new file before it lets go of the old: every retry follows a real
# wait, so the run keeps going, however often it must open again.
start lock-passed-on
printf '0 0 b P 61 100\n' >song.txt
exec 5>song.mid && flock 5
"${runner[@]}" "$bin" song.txt >"$root/out" 2>"$root/err" 5>&- &
pid=$!
for i in $(seq 9); do
  wait_until waits_for_lock "$pid" "$(stat -c %i song.mid)"
  exec 6>new.mid && flock 6 && mv new.mid song.mid
  exec 5>&- 5>&6 6>&-
done
wait_until waits_for_lock "$pid" "$(stat -c %i song.mid)"
exec 5>&-
wait "$pid"
status=$?
expect 0
bytes song.mid "${head37}0000000800913d64$eot"
fi

if unix_only "signals" "Wine cannot deliver a Ctrl-C to a program started from a shell"; then
# A signal between creating the output and locking it waits until the run
# can remove what it made; one while waiting for another's lock ends the
# wait, and the file is the other's.
start signal-before-lock
printf '0 0 a P 60 100\n' >s.qev
failing_cmd slow-flock
"${cmd[@]}" s.qev >"$root/out" 2>"$root/err" &
pid=$!
wait_until test -e s.mid
kill -INT "$pid"
wait "$pid"
status=$?
expect 130
gone s.mid
start signal-while-waiting
printf '0 0 a P 60 100\n' >s.qev
exec 5>s.mid && flock 5
env --default-signal=INT "${runner[@]}" "$bin" s.qev >"$root/out" 2>"$root/err" 5>&- &
pid=$!
wait_until waits_for_lock "$pid"
kill -INT "$pid"
wait "$pid"
status=$?
exec 5>&-
expect 130
bytes s.mid ""
# An interrupt removes the output, and the run dies by that signal. A signal
# ignored from the start stays ignored.
for sig in INT TERM HUP; do
  start "signal-$sig"
  feed s --default-signal="$sig"
  kill -"$sig" "$pid"
  wait "$pid"
  status=$?
  exec 3>&-
  expect $((128 + $(kill -l "$sig")))
  gone s.mid
done
start signal-ignored
feed s --ignore-signal=INT
kill -INT "$pid"
printf '1 0 a D 60\n' >&3
exec 3>&-
wait "$pid"
status=$?
expect 0
bytes s.mid "${head37}0000000d00903c648768803c00$eot"
fi

# The input is never the output.
start input-named-mid
printf '0 0 a P 60 100\n' >song.mid
run song.mid
expect 1 "$prog: Output file song.mid is the input file"
bytes song.mid 30203020612050203630203130300a
start hard-link
printf '0 0 a P 60 100\n' >orig.qev && ln orig.qev song.qev && ln orig.qev song.mid
run song.qev
expect 1 "$prog: Output file song.mid is the input file"
bytes orig.qev 30203020612050203630203130300a
start symbolic-link
printf '0 0 a P 60 100\n' >orig.qev && ln -s orig.qev song.mid && ln -s orig.qev song.qev
run song.qev
expect 1 "$prog: Output file song.mid is the input file"
bytes orig.qev 30203020612050203630203130300a
[ -L song.mid ] || bad "song.mid link was removed"

# Where the output goes: the extension after the last "." is replaced,
# unless a directory or drive separator follows that ".".
row=0
while IFS='|' read -r input output; do
  row=$((row + 1))
  # On Windows a backslash and a colon mean what they say there, and a name
  # loses its final dot: those rows have a setup of their own below.
  case $input in *\\* | *:* | *.) [ -n "$windows" ] && continue ;; esac
  start "path-$row"
  case $input in */*) mkdir -p "${input%/*}" ;; esac
  printf '' >"$input"
  run "$input"
  expect 0
  bytes "$output" "${head37}00000004$eot"
done <<'TABLE'
song.txt|song.mid
song|song.mid
a.b.c|a.b.mid
song.|song.mid
.txt|.mid
dir.x/song|dir.x/song.mid
dir.x\song|dir.x\song.mid
c:song|c:song.mid
d.e:song|d.e:song.mid
SONG.TXT|SONG.mid
TABLE

# Windows's own cases: its paths, a file system that ignores case, its
# text files, names beyond ASCII, and two runs on one output.
if [ -n "$windows" ]; then
  start windows-paths
  # A drive whose root and current directory are this case's folder.
  drive="${WINEPREFIX:-$HOME/.wine}/dosdevices/q:"
  ln -sfn "$PWD" "$drive"
  mkdir dir.x && printf '' >dir.x/song && printf '' >song
  run 'dir.x\song'
  expect 0
  bytes dir.x/song.mid "${head37}00000004$eot"
  run 'q:song'
  expect 0
  bytes song.mid "${head37}00000004$eot"
  run 'd.e:song'
  expect 1 "$prog: File d.e:song not found"
  rm -f "$drive" song.mid
  run 'song.'
  expect 0
  bytes song.mid "${head37}00000004$eot"
  start windows-ignores-case
  printf '0 0 a P 60 100\n' >song.MID
  run song.MID
  expect 1 "$prog: Output file song.mid is the input file"
  bytes song.MID 30203020612050203630203130300a
  start windows-text-file
  printf '0 0 a P 60 100\r\n1 0 a D 60\r\n\x1A\x1A' >dos.qev
  run dos.qev
  expect 0
  bytes dos.mid "${head37}0000000d00903c648768803c00$eot"
  start windows-name-beyond-ascii
  printf '0 0 a P 60 100\n' >chanson-été.qev && printf '0 0' >été.qev
  run chanson-été.qev
  expect 0
  bytes chanson-été.mid "${head37}0000000800903c64$eot"
  run été.qev
  expect 1 "$prog: Error reading été.qev"
  # Another process holds the output's lock as a run would: the run waits,
  # untouched, then writes its own file, or removes it when it fails. In the
  # last row the holder removes the file as a failed run does, and the run
  # must write a file that is still there afterwards.
  while IFS='|' read -r case second final; do
    start "windows-$case"
    printf "$second" >song.txt
    holder=("$HOLD_LOCK")
    [ "$case" = two-runs-first-fails ] && holder+=(--remove)
    exec 4> >(exec "${runner[@]}" "${holder[@]}" song.mid >locked)
    wait_until grep -q locked locked
    "${runner[@]}" "$bin" song.txt >"$root/out" 2>"$root/err" 4>&- &
    second_pid=$!
    sleep 1
    kill -0 "$second_pid" 2>/dev/null || bad "the run did not wait for the lock"
    bytes song.mid ""
    exec 4>&-
    wait "$second_pid"
    status=$?
    second_ends "$final"
  done <<<"$two_runs
two-runs-first-fails|0 0 b P 61 100\n|0000000800913d6400ff2f00"
fi

# qevcheck: one finding per line, on standard output, in the compilers' form
# with the column in characters, and exit status 1 when qev2mid still
# converts the file and 2 when it cannot. One row per code and hint.
check() {
  timeout 60 "${runner[@]}" "$checker" "$@" >"$root/out" 2>"$root/err"
  status=$?
}
# says STATUS TEXT: the last check's status, its output (printf escapes
# allowed), and nothing on standard error but the summary.
says() {
  local want
  want=$(printf "$2")
  [ "$status" = "$1" ] || bad "exit status $status, expected $1"
  # Standard error too, which a lost line of output may explain.
  [ "$(text_of "$root/out")" = "$want" ] || bad "stdout: $(cat "$root/out") (stderr: $(cat "$root/err"))"
  text_of "$root/err" | grep -Ev '^[^ ]+: [0-9]+ errors?, [0-9]+ warnings?[;,]' | grep . &&
    bad "stderr: $(cat "$root/err")"
  passed=$((passed + 1))
}
row=0
while IFS='|' read -r input want_status want; do
  row=$((row + 1))
  start "check-$row"
  # The argument fills a %0Nd in the input: a line of N zeros.
  printf "$input" 0 >c.qev
  check c.qev
  says "$want_status" "$want"
done <<'TABLE'
0 0 a P 60 100\n1 0 a D 60\n|0|
comment\n12 bars of intro\n|1|c.qev:2:4: warning: line skipped: 'b' where the milliseconds should be; a line that starts with a number is an event: begin a comment with '#' [not-a-number]
0 0\n|1|c.qev:1:4: warning: line skipped: the line ends before the channel letter [missing-field]
0 0 a\n|1|c.qev:1:6: warning: line skipped: the line ends before the kind letter [missing-field]
0 0 a P x\n|1|c.qev:1:9: warning: line skipped: 'x' where the note should be [not-a-number]
0 0 a P 60\n|1|c.qev:1:11: warning: line skipped: the note on has no velocity; write one from 1 to 127, or D for a note off [missing-field]
0 0 a P -60 1\n|1|c.qev:1:9: warning: line skipped: the note -60 is negative [minus-sign]
4294967296 0 a P 1 1\n|1|c.qev:1:1: warning: line skipped: the seconds 4294967296 are above 4294967295 [number-too-large]
0 0 q P 1 1\n|1|c.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]
0 0 a p 1 1\n|1|c.qev:1:7: warning: line skipped: 'p' is not a kind letter, P (note on) or D (note off); kind letters are upper case: write 'P' [bad-kind]
0 0 a P 128 1\n|1|c.qev:1:9: warning: line skipped: note 128 is above 127, the highest note (G9) [above-127]
0 0 a D 1 0200\n|1|c.qev:1:11: warning: line skipped: velocity 0200 is above 127; write 127 for the loudest [above-127]
4294968 0 q P 1 1\n|1|c.qev:1:9: warning: line skipped: the time 4294968.000 s is later than 4294967.295 s, the latest a MIDI file holds [time-too-late]
4 250 a D 1\n0 500 a D 1\n|1|c.qev:1:11: warning: note off for note 1 (C#-1) on channel a, which is not sounding [stray-note-off]\nc.qev:2:1: warning: line skipped: 0.500 s is earlier than 4.250 s on line 1 [out-of-order]
\xEF\xBB\xBF0 0 a D 1\n|1|c.qev:1:1: warning: line skipped: a byte-order mark (U+FEFF) at the start of the file hides this event; save the file without one [byte-order-mark]
0 0 a P 1 1\n0 0 a P 1 1\n0 0 a D 1\n|1|c.qev:2:9: warning: note on for note 1 (C#-1) on channel a, which is already sounding [already-sounding]\nc.qev:1:9: note: note 1 (C#-1) on channel a began to sound here [already-sounding]
0 0 c P 9 1\n0 0 c P 9 0\n0 0 c D 9\n|1|c.qev:3:9: warning: note off for note 9 (A-1) on channel c, which is not sounding [stray-note-off]
0 0 a P 2 1\n0 0 a P 1 1\n|1|c.qev:1:9: warning: note 2 (D-1) on channel a is still sounding at the end of the file [still-sounding]\nc.qev:2:9: warning: note 1 (C#-1) on channel a is still sounding at the end of the file [still-sounding]
0 0 a P 1 1\n\x1A0 0 a D 1 but no more\n|1|c.qev:2:1: note: byte 0x1A, the old end-of-file mark, ends the input here; 22 bytes after it are ignored [end-mark]\nc.qev:1:9: warning: note 1 (C#-1) on channel a is still sounding at the end of the file [still-sounding]
0 0 a D 1 0\n\x1A\x1A\r\n|1|c.qev:1:9: warning: note off for note 1 (C#-1) on channel a, which is not sounding [stray-note-off]
0 0 a P 1 1\n%01000d\n|2|c.qev:2:999: error: the line is longer than 998 characters [line-too-long]
0 0 a P 1 1\n0 0 a\0P 1 1\n|2|c.qev:2:6: error: a NUL byte, which is not text, stops the conversion here [nul-byte]
0 0 a P 1 1\n0 0 a\x1AP 1 1\n|2|c.qev:2:6: error: byte 0x1A, the old end-of-file mark, ends the input inside this line [end-mark-in-line]
0 0 a P 1 1\n0 1 a D 1|2|c.qev:2:10: error: the last line has no line feed; end the file with a new line [no-final-line-feed]
MThd\0\0\0\6\0\0\0\0\1\364|2|c.qev:1:1: error: this is a Standard MIDI File, not QEV text; mid2qev converts it to QEV [midi-file]
\xFF\xFE0\0 \0000\0|2|c.qev:1:1: error: this file is UTF-16 text; save it as UTF-8 or as plain text [utf-16]
0\0 \0000\0|2|c.qev:1:1: error: this file is UTF-16 text; save it as UTF-8 or as plain text [utf-16]
\0\0\0\0\n|2|c.qev:1:1: error: a NUL byte, which is not text, stops the conversion here [nul-byte]
0 0 a P 6\xC2\x9B0 1\n|1|c.qev:1:10: warning: line skipped: U+009B right after the note 6 [glued-text]
1.5 0 a P 64 90\n|1|c.qev:1:2: warning: line skipped: '.' right after the seconds 1; seconds are whole numbers: write 1 500 for 1.5 s [glued-text]
0:02 a P 60 90\n|1|c.qev:1:2: warning: line skipped: ':' right after the seconds 0; seconds are whole numbers: write 1 500 for 1.5 s [glued-text]
0 500ms a P 60 1\n|1|c.qev:1:7: warning: line skipped: 'm' right after the milliseconds 500; write the number alone, without a unit [glued-text]
0,0,a,P,60,90\n|1|c.qev:1:2: warning: line skipped: ',' right after the seconds 0; separate the fields with spaces, not commas [glued-text]
0\xC2\xA00 a P 60 90\n|1|c.qev:1:2: warning: line skipped: ' ' (U+00A0, no-break space) right after the seconds 0; write a plain space [glued-text]
0 0 a P 60 1OO\n0 1 a D 60\n|1|c.qev:1:13: warning: 'O' right after the velocity 1, which is read as 1; the letter O is not the digit 0 [glued-text]
0 0 a P 62 0x7f\n|1|c.qev:1:13: warning: 'x' right after the velocity 0, which is read as 0; write numbers in decimal: 0x7f is 127 [glued-text]\nc.qev:1:9: warning: note off for note 62 (D4) on channel a, which is not sounding [stray-note-off]
0 0 \xC3\xA9 P 1 1\n|1|c.qev:1:5: warning: line skipped: 'é' (U+00E9) is not a channel letter, a to p [bad-channel]
0 0 A P 1 1\n|1|c.qev:1:5: warning: line skipped: 'A' is not a channel letter, a to p; channel letters are lower case: write 'a' [bad-channel]
0 0 16 P 60 90\n|1|c.qev:1:5: warning: line skipped: '1' is not a channel letter, a to p; channels 1–16 are the letters a–p: 16 is 'p' [bad-channel]
0 0 a P C4 90\n|1|c.qev:1:9: warning: line skipped: 'C' where the note should be; write note numbers: C4 is 60 [not-a-number]
0 0 a P \xEF\xBC\x96 1\n|1|c.qev:1:9: warning: line skipped: '６' (U+FF16, full-width digit) where the note should be; write the digits 0–9 [not-a-number]
0 0 a P 60 90\n0 1 b D 60\n|1|c.qev:2:9: warning: note off for note 60 (C4) on channel b, which is not sounding [stray-note-off]\nc.qev:1:9: note: note 60 (C4) on channel a sounds from here; is the note off on the wrong channel? [stray-note-off]\nc.qev:1:9: warning: note 60 (C4) on channel a is still sounding at the end of the file [still-sounding]
0 0 a P 60 200\n0 1 a D 60\n|1|c.qev:1:12: warning: line skipped: velocity 200 is above 127; write 127 for the loudest [above-127]\nc.qev:2:9: warning: note off for note 60 (C4) on channel a, which is not sounding [stray-note-off]\nc.qev:1:9: note: the note on for note 60 (C4) on channel a was skipped here [stray-note-off]
0 0 a P 1 1\n\xC3\xA9\0\n|2|c.qev:2:2: error: a NUL byte, which is not text, stops the conversion here [nul-byte]
0 0 a P 1 1\n\xEF\xBB\xBF0 1 a D 1\n|1|c.qev:2:1: warning: line skipped: a byte-order mark (U+FEFF) at the start of this line hides its event; were two files joined here? [byte-order-mark]\nc.qev:1:9: warning: note 1 (C#-1) on channel a is still sounding at the end of the file [still-sounding]
TABLE

# Whole files and the command line.
start check-two-voices
printf 'melody\n0 0 a P 60 90\n0 500 a D 60\n1 0 a P 62 90\n1 500 a D 62\nbass\n0 0 b P 43 70\n1 0 b D 43\n# a comment does not end the run\n1 0 b P 45 70\n2 0 b D 45\n' >song.qev
check song.qev
says 1 "song.qev:7:1: warning: line skipped: 0.000 s is earlier than 1.500 s on line 5 [out-of-order]
song.qev:8:1: warning: line skipped: 1.000 s is earlier than 1.500 s on line 5 [out-of-order]
song.qev:10:1: warning: line skipped: 1.000 s is earlier than 1.500 s on line 5 [out-of-order]
song.qev:7:1: note: 2 more out-of-order lines follow, to line 10; a voice that starts again at 0 s? Interleave the voices by time [out-of-order]
song.qev:11:9: warning: note off for note 45 (A2) on channel b, which is not sounding [stray-note-off]
song.qev:10:9: note: the note on for note 45 (A2) on channel b was skipped here [stray-note-off]"
# JSON Lines, read back by a JSON parser: a file name that is not UTF-8,
# columns in characters and in bytes, and lines that end in LF alone. Wine
# passes no byte that is not UTF-8 in a name.
start check-json
name=$'\xFFc.qev'
[ -n "$windows" ] && name=c.qev
printf '0 0 a P 1 1\n\xC3\xA9\0\n' >"$name"
check --format=json "$name"
[ "$status" = 2 ] || bad "exit status $status"
grep -q $'\r' "$root/out" && bad "a CR in the JSON"
/usr/bin/python3 -c '
import json, re, sys
[f] = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
want = {"file": re.sub("[\udc80-\udcff]", "\ufffd", sys.argv[2]), "line": 2, "column": 2, "byte_column": 3, "severity": "error",
        "code": "nul-byte", "message": "a NUL byte, which is not text, stops the conversion here"}
sys.exit(f != want)' "$root/out" "$name" || bad "JSON: $(cat "$root/out")"
passed=$((passed + 1))
# The command line: several files, standard input, the summary on standard
# error, drums, colour. Each row: the case, the words after the program
# (TTY runs it on a terminal, with the VAR=VALUE words after it in its
# environment), the status, standard output and standard
# error, with printf escapes and PROG for the program's name.
while IFS='|' read -r case args want_status want_out want_err; do
  start "check-$case"
  printf '0 0 a P 60 90\n1 0 a D 60\n' >clean.qev
  printf '0 0 j P 36 100\n0 250 j P 36 100\n' >drums.qev
  printf '0 0 q P 1 1\n' >bad.qev
  if [ "$case" = control-in-name ]; then
    unix_only "check-$case" "Windows names hold no control characters" || continue
    cp bad.qev $'\e[1m.qev'
  fi
  read -ra words <<<"${args//ESC/$'\e[1m'}"
  if [ "${words[0]}" = TTY ]; then
    unix_only "check-$case" "Wine gives no terminal to a program started from a shell" || continue
    command -v script >/dev/null || { bad "script is not installed"; continue; }
    # Words such as NO_COLOR=1 right after TTY go to the environment.
    set -- "${words[@]:1}"
    assign=()
    while [ $# -gt 0 ] && [[ $1 == [A-Z_]*=* ]]; do assign+=("$1"); shift; done
    TERM=xterm timeout 60 script -qec "$(printf '%q ' env "${assign[@]}" "${runner[@]}" "$checker" "$@") 2>$(printf %q "$root/err")" /dev/null </dev/null |
      tr -d '\r' >"$root/out"
    status=${PIPESTATUS[0]}
  elif [ "$case" = stdin ]; then
    check "${words[@]}" <bad.qev
  else
    check "${words[@]}"
  fi
  [ "$status" = "$want_status" ] || bad "exit status $status, expected $want_status"
  [ "$(text_of "$root/out")" = "$(printf "$want_out")" ] || bad "stdout: $(cat -v "$root/out")"
  want_err=$(printf "$want_err")
  [ "$(text_of "$root/err")" = "${want_err//PROG/$checkprog}" ] || bad "stderr: $(cat "$root/err")"
  passed=$((passed + 1))
done <<'TABLE'
drums|drums.qev|0||
drums-none|--drums=none drums.qev|1|drums.qev:2:11: warning: note on for note 36 (C2) on channel j, which is already sounding [already-sounding]\ndrums.qev:1:9: note: note 36 (C2) on channel j began to sound here [already-sounding]\ndrums.qev:2:11: warning: note 36 (C2) on channel j is still sounding at the end of the file [still-sounding]|drums.qev: 0 errors, 2 warnings, 1 note; 2 of 2 events convert
two-files|clean.qev bad.qev|1|bad.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
missing-among-others|nothere.qev clean.qev|2||PROG: File nothere.qev not found
stdin|-|1|<stdin>:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|<stdin>: 0 errors, 1 warning; 0 of 1 event convert
directory|. clean.qev|2||PROG: . is a directory
control-in-name|ESC.qev|1|?[1m.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|?[1m.qev: 0 errors, 1 warning; 0 of 1 event convert
drums-not-a-channel|--drums=jz bad.qev|2||Usage: PROG [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] QEV-FILE...
quiet|--quiet bad.qev|1||bad.qev: 0 errors, 1 warning; 0 of 1 event convert
channels|--channels clean.qev drums.qev|0||clean.qev: 0 errors, 0 warnings; 2 of 2 events convert\nclean.qev: channel a: 1 note, C4, 0.000 s to 1.000 s\ndrums.qev: 0 errors, 0 warnings; 2 of 2 events convert\ndrums.qev: channel j: 2 notes, C2, 0.000 s to 0.250 s
color-always|--color=always bad.qev|1|\033[1mbad.qev:1:5: \033[1;35mwarning:\033[0m \033[1mline skipped: 'q' is not a channel letter, a to p\033[0m [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
color-on-terminal|TTY bad.qev|1|\033[1mbad.qev:1:5: \033[1;35mwarning:\033[0m \033[1mline skipped: 'q' is not a channel letter, a to p\033[0m [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
no-color-env|TTY NO_COLOR=1 bad.qev|1|bad.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
color-never|TTY --color=never bad.qev|1|bad.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
TABLE
start check-usage
check
expect 2 "Usage: $checkprog [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] QEV-FILE..."
start check-missing-input
check nothere.qev
expect 2 "$checkprog: File nothere.qev not found"
start check-help
check --help
[ "$status" = 0 ] && grep -qF "Usage: $checkprog [--format=json]" "$root/out" || bad "--help: $status"
passed=$((passed + 1))
start check-version
check --version
says 0 "qevcheck $(sed -n 's/^project(qev2mid VERSION \([^ ]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")"
if unix_only "check-stdout-full" "Windows has no /dev/full"; then
start check-stdout-full
printf '0 0 a D 1\n' >c.qev
timeout 60 "${runner[@]}" "$checker" c.qev >/dev/full 2>"$root/err"
status=$?
: >"$root/out"
expect 2 "c.qev: 0 errors, 1 warning; 1 of 1 event convert
$checkprog: Error writing standard output"
start check-stdout-closed-clean
printf '0 0 a P 1 1\n0 1 a D 1\n' >c.qev
timeout 60 "${runner[@]}" "$checker" c.qev >&- 2>"$root/err"
status=$?
: >"$root/out"
expect 0
fi

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
stdin-needs-o|-|1|Usage: PROG [-f] [-o OUT] MIDI-FILE|
usage|song.mid song.mid|1|Usage: PROG [-f] [-o OUT] MIDI-FILE|
missing|nothere.mid|1|PROG: File nothere.mid not found|
is-input|-o song.mid song.mid|1|PROG: Output file song.mid is the input file|
not-midi|-o song.qev one.txt|1|PROG: one.txt is not a Standard MIDI File: no MThd at the start at byte 0|
TABLE

# mid2qev's input is read once, whole, before the output is touched; what
# does not start like MIDI is refused after its first bytes, since it may
# never end, and a stream is refused past a cap. Each row: the case, FILE
# and a file to read, or PIPE and a command whose output is read as -, and
# the status and message.
while IFS='|' read -r case how input want_status want_err; do
  start "mid2qev-$case"
  : >empty.mid
  if [ "$how" = FILE ]; then
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
  start mid2qev-replace-stream-fails
  make_big && printf '# mine\n' >song.qev
  failing_cmd fdopen "$back"
  "${cmd[@]}" -f -o song.qev big.mid >"$root/out" 2>"$root/err"
  status=$?
  expect 1 "$backprog: Error creating song.qev"
  bytes song.qev 23206d696e650a
  [ "$(ls)" = "$(printf 'big.mid\nsong.qev')" ] || bad "left: $(ls)"
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

# The comment line cuts a long name where a character ends.
start mid2qev-long-name
long=a$(printf 'é%.0s' $(seq 100))
printf '0 0 a P 60 100\n' >"$long.qev" && "${runner[@]}" "$bin" "$long.qev"
back -o - "$long.mid"
mv "$root/out" got.qev && : >"$root/out"
expect 0
[ "$(head -c 163 got.qev)" = "# a$(printf 'é%.0s' $(seq 79)): " ] || bad "comment: $(head -1 got.qev)"

echo "e2e: $passed passed, $failed failed"
[ "$failed" = 0 ]

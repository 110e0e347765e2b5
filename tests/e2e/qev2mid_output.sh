#!/bin/bash
# qev2mid's output end to end: devices it refuses and writes, what stands at
# the path before it writes, two runs and other processes on one output,
# interrupts, and Windows's own cases. See common.sh for the environment it
# needs.
table=qev2mid_output
source "$(dirname "$0")/common.sh"

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
# Gone before the next case starts: no process outlives its case.
kill "$reader"
wait "$reader" 2>/dev/null
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
  wait_until waits_for_lock "$pid" "$(stat -c %i song.mid)" || break
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
interrupt INT "$pid"
expect 130
gone s.mid
start signal-while-waiting
printf '0 0 a P 60 100\n' >s.qev
exec 5>s.mid && flock 5
env --default-signal=INT "${runner[@]}" "$bin" s.qev >"$root/out" 2>"$root/err" 5>&- &
pid=$!
wait_until waits_for_lock "$pid"
interrupt INT "$pid"
exec 5>&-
expect 130
bytes s.mid ""
# An interrupt removes the output, and the run dies by that signal. A signal
# ignored from the start stays ignored.
for sig in INT TERM HUP; do
  start "signal-$sig"
  feed s --default-signal="$sig"
  interrupt "$sig" "$pid"
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

finish

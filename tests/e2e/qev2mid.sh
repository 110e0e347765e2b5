#!/bin/bash
# qev2mid end to end: its command line, its output's life (creating,
# writing, failing, locking, interrupts) and where the output goes. See
# common.sh for the environment it needs.
table=qev2mid
source "$(dirname "$0")/common.sh"

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
# flush that fails while nothing else does, a rewind that does not reach the
# start, which would put a second header at the end, and a header written
# only in part.
for step in fclose fflush rewind short-write; do
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

finish

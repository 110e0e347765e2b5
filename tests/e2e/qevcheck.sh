#!/bin/bash
# qevcheck end to end: its findings in the compilers' form and in JSON, its
# command line, and its exit status. See common.sh for the environment it
# needs.
table=qevcheck
source "$(dirname "$0")/common.sh"

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
0 0 a P 1 1\n0 1 a D 1\n\x1Ax\n|1|c.qev:3:1: note: byte 0x1A, the old end-of-file mark, ends the input here; 2 bytes after it are ignored [end-mark]
0 0 a D 1 0\n\x1A\x1A\r\n|1|c.qev:1:9: warning: note off for note 1 (C#-1) on channel a, which is not sounding [stray-note-off]
0 0 a P 1 1\n%01000d\n|2|c.qev:2:999: error: the line is longer than 998 characters [line-too-long]
0 0 a P 1 1\n0 0 a\0P 1 1\n|2|c.qev:2:6: error: a NUL byte, which is not text, stops the conversion here [nul-byte]
0 0 a P 1 1\n0 0 a\x1AP 1 1\n|2|c.qev:2:6: error: byte 0x1A, the old end-of-file mark, ends the input inside this line [end-mark-in-line]
0 0 a P 1 1\n0 1 a D 1|2|c.qev:2:10: error: the last line has no line feed; end the file with a new line [no-final-line-feed]
0 0 a P 60 1\r0 1 a D 60\r|2|c.qev:1:13: error: the lines end in carriage returns only, as old Macs wrote them, so the file reads as one line; save it with line feeds [cr-line-ends]
MThd\0\0\0\6\0\0\0\0\1\364|2|c.qev:1:1: error: this is a Standard MIDI File, not QEV text; mid2qev converts it to QEV [midi-file]
\xFF\xFE0\0 \0000\0|2|c.qev:1:1: error: this file is UTF-16 text; save it as UTF-8 or as plain text [utf-16]
0\0 \0000\0|2|c.qev:1:1: error: this file is UTF-16 text; save it as UTF-8 or as plain text [utf-16]
\0\0\0\0\n|2|c.qev:1:1: error: a NUL byte, which is not text, stops the conversion here [nul-byte]
0 0 a P 6\xC2\x9B0 1\n|1|c.qev:1:10: warning: line skipped: U+009B right after the note 6 [glued-text]
1.5 0 a P 64 90\n|1|c.qev:1:2: warning: line skipped: '.' right after the seconds 1; seconds are whole numbers: write 1 500 for 1.5 s [glued-text]
0:02 0 a P 60 90\n|1|c.qev:1:2: warning: line skipped: ':' right after the seconds 0; seconds are whole numbers: if 0:02 is minutes and seconds, the seconds are 2 [glued-text]
2:30.5 a P 60 90\n|1|c.qev:1:2: warning: line skipped: ':' right after the seconds 2; seconds are whole numbers: if 2:30 is minutes and seconds, the seconds are 150 [glued-text]
1.2345 a P 60 90\n|1|c.qev:1:2: warning: line skipped: '.' right after the seconds 1; seconds are whole numbers, and the milliseconds a field of their own [glued-text]
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
# JSON Lines, read back by a JSON parser: a file name that is not UTF-8 and
# holds a control character, columns in characters and in bytes, and lines
# that end in LF alone. Wine passes no byte that is not UTF-8 in a name.
start check-json
name=$'\xFF\x1Fc.qev'
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
drums-not-a-channel|--drums=jz bad.qev|2||Usage: PROG [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] [--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp
drums-one-past-p|--drums=q bad.qev|2||Usage: PROG [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] [--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp
lsp-with-a-file|--lsp bad.qev|2||Usage: PROG [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] [--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp
quiet|--quiet bad.qev|1||bad.qev: 0 errors, 1 warning; 0 of 1 event convert
channels|--channels clean.qev drums.qev|0||clean.qev: 0 errors, 0 warnings; 2 of 2 events convert\nclean.qev: channel a: 1 note, C4, 0.000 s to 1.000 s\ndrums.qev: 0 errors, 0 warnings; 2 of 2 events convert\ndrums.qev: channel j: 2 notes, C2, 0.000 s to 0.250 s
color-always|--color=always bad.qev|1|\033[1mbad.qev:1:5: \033[1;35mwarning:\033[0m \033[1mline skipped: 'q' is not a channel letter, a to p\033[0m [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
color-on-terminal|TTY bad.qev|1|\033[1mbad.qev:1:5: \033[1;35mwarning:\033[0m \033[1mline skipped: 'q' is not a channel letter, a to p\033[0m [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
no-color-env|TTY NO_COLOR=1 bad.qev|1|bad.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
color-never|TTY --color=never bad.qev|1|bad.qev:1:5: warning: line skipped: 'q' is not a channel letter, a to p [bad-channel]|bad.qev: 0 errors, 1 warning; 0 of 1 event convert
TABLE
start check-usage
check
expect 2 "Usage: $checkprog [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] [--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp"
start check-missing-input
check nothere.qev
expect 2 "$checkprog: File nothere.qev not found"
start check-help
check --help
[ "$status" = 0 ] && grep -qF "Usage: $checkprog [--format=json]" "$root/out" || bad "--help: $status"
passed=$((passed + 1))
start check-version
check --version
says 0 "qevcheck $(sed -n 's/^project(qev2mid VERSION \([^ ]*\).*/\1/p' "$source_dir/CMakeLists.txt")"
# Standard output and standard error into one file, as 2>&1 | less shows
# them: each summary stands on a line of its own, after its file's findings,
# though the findings outgrow standard output's buffer.
start check-summary-on-its-own-line
for i in $(seq 400); do printf '0 0 q P 1 1\n'; done >a.qev
printf '0 0 q P 1 1\n' >b.qev
timeout 60 "${runner[@]}" "$checker" a.qev b.qev >"$root/out" 2>&1
status=$?
finding="^[ab]\\.qev:[0-9]+:5: warning: line skipped: 'q' is not a channel letter, a to p \\[bad-channel\\]\$"
summary='^[ab]\.qev: 0 errors, [0-9]+ warnings?; 0 of [0-9]+ events? convert$'
if [ "$status" != 1 ] || text_of "$root/out" | grep -Ev "$finding|$summary" | grep -q . ||
  [ "$(text_of "$root/out" | grep -n '^a\.qev: 0 errors' | cut -d: -f1)" != 401 ]; then
  bad "summary not on a line of its own after the findings: $(text_of "$root/out" | sed -n 395,403p)"
fi
passed=$((passed + 1))
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

# Fixes. same FILE TEXT: FILE holds exactly TEXT (printf escapes allowed).
same() {
  printf "$2" >"$root/want"
  cmp -s "$1" "$root/want" || bad "$1 holds $(od -c "$1" | head -5)"
}
broken='0 0 a p 60 90\n1.5 a P 62 90\n2 0 a D 60\n2 0 a D 62'
mended='0 0 a P 60 90\n1 500 a P 62 90\n2 0 a D 60\n2 0 a D 62\n'
start fix-in-place
printf "$broken" >c.qev
check --fix c.qev
expect 0
same c.qev "$mended"
[ "$(ls)" = c.qev ] || bad "left: $(ls)"
start fix-reports-what-is-left
printf '0 0 a p 60 90\n0 1 a D 60\n0 2 a D 61\n' >c.qev
check --fix c.qev
says 1 'c.qev:3:9: warning: note off for note 61 (C#4) on channel a, which is not sounding [stray-note-off]'
same c.qev '0 0 a P 60 90\n0 1 a D 60\n0 2 a D 61\n'
start fix-unsafe
printf '0 0 a P 60 90\n0 1 a D 60\n0 2 a D 61\n' >c.qev
check --fix --unsafe-fixes c.qev
expect 0
same c.qev '0 0 a P 60 90\n0 1 a D 60\n# 0 2 a D 61\n'
start fix-stdin
printf '0 0 a p 60 90\n0 1 a D 60\n0 2 a D 61\n' >c.qev
timeout 60 "${runner[@]}" "$checker" --fix - <c.qev >fixed.qev 2>"$root/err"
status=$?
expect 1 "<stdin>:3:9: warning: note off for note 61 (C#4) on channel a, which is not sounding [stray-note-off]
<stdin>: 0 errors, 1 warning; 3 of 3 events convert"
same fixed.qev '0 0 a P 60 90\n0 1 a D 60\n0 2 a D 61\n'
same c.qev '0 0 a p 60 90\n0 1 a D 60\n0 2 a D 61\n'
start diff-nothing-to-fix
printf '0 0 a P 60 90\n' >c.qev
check --diff c.qev
expect 0 "c.qev:1:9: warning: note 60 (C4) on channel a is still sounding at the end of the file [still-sounding]
c.qev: 0 errors, 1 warning; 1 of 1 event convert"
start unsafe-fixes-alone
printf '0 0 a P 60 90\n' >c.qev
check --unsafe-fixes c.qev
expect 2 "Usage: $checkprog [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] [--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp"
# JSON's safe edits, applied round after round, give what --fix writes.
start fix-json-rounds
printf '\xef\xbb\xbf0 0 a p 60 90\n1.5 a P 62 90\n0\xc2\xa02 a D 60\n2 0 A D 62\n0 0 b P 1 1' >c.qev
cp c.qev by-json.qev
for round in 1 2 3 4 5 6; do
  timeout 60 "${runner[@]}" "$checker" --format=json by-json.qev >"$root/json" 2>/dev/null
  /usr/bin/python3 - by-json.qev "$root/json" <<'PY' || break
import json, sys
path, findings = sys.argv[1], open(sys.argv[2]).read().splitlines()
edits = sorted((e["byte_start"], e["byte_end"], e["text"].encode())
               for f in map(json.loads, findings) if f.get("fix", {}).get("applicability") == "safe"
               for e in f["fix"]["edits"])
data, out, at = open(path, "rb").read(), b"", 0
for start, end, text in edits:
    if start >= at:
        out, at = out + data[at:start] + text, end
if not edits:
    sys.exit(1)
open(path, "wb").write(out + data[at:])
PY
done
check --fix c.qev
cmp -s c.qev by-json.qev || bad "--fix: $(od -c c.qev | head -3); JSON: $(od -c by-json.qev | head -3)"
passed=$((passed + 1))
if unix_only "fix-files" "Wine shows no symbolic links or hard links, patch or mounts"; then
  # The diff applies with patch -p0 and gives what --fix writes; it changes nothing.
  start diff-patch
  printf "$broken" >c.qev
  timeout 60 "${runner[@]}" "$checker" --diff --fix c.qev >c.diff 2>"$root/err"
  status=$?
  [ "$status" = 1 ] || bad "--diff: exit status $status"
  same c.qev "$broken"
  patch -s -p0 <c.diff || bad "patch: $(cat c.diff)"
  same c.qev "$mended"
  passed=$((passed + 1))
  # A symbolic link is followed and stays a link; nothing to fix, no rewrite.
  start fix-symbolic-link
  printf "$broken" >real.qev && ln -s real.qev link.qev
  check --fix link.qev
  expect 0
  [ -L link.qev ] || bad "link.qev is no longer a link"
  same real.qev "$mended"
  inode=$(stat -c %i real.qev)
  check --fix link.qev
  expect 0
  [ "$(stat -c %i real.qev)" = "$inode" ] || bad "a file with nothing to fix was rewritten"
  start fix-hard-link
  printf "$broken" >c.qev && ln c.qev other.qev
  check --fix c.qev
  expect 2 "$checkprog: c.qev has other names (hard links), which a fix would part; it is left as it was"
  same c.qev "$broken"
  # A full disk and a read-only file system leave the file as it was. CI runs
  # as root, for whom a read-only folder would stay writable: a mount it is.
  start fix-full-disk
  mkdir disk
  if mount -t tmpfs -o size=16k tmpfs disk 2>/dev/null; then
    { printf '0 0 a p 60 90\n'; for i in $(seq 400); do printf '# padding line\n'; done; } >disk/c.qev
    cp disk/c.qev before.qev
    head -c 4096 /dev/zero >disk/filler 2>/dev/null
    check --fix disk/c.qev
    expect 2 "$checkprog: disk/c.qev cannot be fixed: No space left on device; it is left as it was"
    cmp -s disk/c.qev before.qev || bad "disk/c.qev changed"
    [ "$(ls disk)" = "$(printf 'c.qev\nfiller')" ] || bad "left: $(ls disk)"
    printf "$broken" >disk/c.qev && rm disk/filler && cp disk/c.qev before.qev
    mount -o remount,ro disk
    start fix-read-only
    check --fix ../fix-full-disk/disk/c.qev
    expect 2 "$checkprog: ../fix-full-disk/disk/c.qev cannot be fixed: Read-only file system; it is left as it was"
    cmp -s ../fix-full-disk/disk/c.qev ../fix-full-disk/before.qev || bad "c.qev changed"
    umount ../fix-full-disk/disk
  else
    echo "SKIP [fix-full-disk]: no tmpfs can be mounted here"
    [ "${QEV2MID_REQUIRE_TOOLS:-}" = 1 ] && bad "no tmpfs can be mounted"
  fi
fi

finish

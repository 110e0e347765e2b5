# What every end-to-end table shares, sourced by each: the programs, a fresh
# scratch directory for each case, running a program, and checking its exit
# status, standard error, standard output (which must be empty unless a case
# reads it) and the files it leaves behind.
#
# The environment names the programs, QEV2MID, QEVCHECK and MID2QEV, and the
# test helpers, ARGC0 and FAIL_OUTPUT; RUNNER, when set, is the emulator
# command that starts a program built for another machine; WINDOWS=1 when
# that is Windows, whose HOLD_LOCK helper holds an output's lock.
set -u
source_dir=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../..")
bin=$(realpath "$QEV2MID")
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

# interrupt SIG PID: sends the signal and waits for PID to end, for at most
# 10 s: a run left with the signal blocked would otherwise wait for ever for
# input that never comes. Sets status.
interrupt() {
  kill -"$1" "$2"
  local i
  for i in $(seq 100); do
    kill -0 "$2" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$2" 2>/dev/null; then
    bad "still running 10 s after SIG$1"
    kill -KILL "$2"
  fi
  wait "$2"
  status=$?
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

# finish: the table's score, and its exit status.
finish() {
  echo "$table: $passed passed, $failed failed"
  [ "$failed" = 0 ]
}

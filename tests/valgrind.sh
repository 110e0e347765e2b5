#!/bin/bash
# Memcheck finds no error and no definite or indirect leak, on a successful
# run and on a failing one.
# usage: valgrind.sh QEV2MID EXAMPLE
set -u
if ! command -v valgrind >/dev/null; then
  echo "SKIP: valgrind is not installed"
  [ "${QEV2MID_REQUIRE_TOOLS:-}" = 1 ] && exit 1
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$2" "$tmp/ok.qev"
printf '0 0 a P 60 100\n0 500 a D 60' >"$tmp/bad.qev"
failed=0
check() {
  local want=$1
  shift
  valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect "$@" >"$tmp/log" 2>&1
  local status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL: $* exited $status, expected $want"
    cat "$tmp/log"
    failed=1
  fi
}
check 0 "$1" "$tmp/ok.qev"
check 1 "$1" "$tmp/bad.qev"
check 1 "$1" "$tmp/missing.qev"
[ "$failed" = 0 ] && echo "valgrind: no errors, no leaks"
exit "$failed"

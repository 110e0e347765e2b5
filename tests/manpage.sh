#!/bin/bash
# The man page must render without a single warning.
# usage: manpage.sh PAGE
set -u
if ! command -v man >/dev/null; then
  echo "SKIP: man is not installed"
  [ "${QEV2MID_REQUIRE_TOOLS:-}" = 1 ] && exit 1
  exit 77
fi
warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "$warnings"
  exit 1
fi
MANWIDTH=80 man -E UTF-8 -l "$1" 2>/dev/null | grep -q 'EXIT STATUS' || { echo "no EXIT STATUS section rendered"; exit 1; }
echo "manpage: renders cleanly"

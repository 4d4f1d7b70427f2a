#!/usr/bin/env bash
# Runs one test entry on the 32-bit side, or reports it skipped (77) when
# this machine runs no 32-bit Windows programs.
#   run-win32.sh WINE BUILD_ROOT COMMAND [ARGUMENTS...]
# scripts/test probes once and leaves the answer in BUILD_ROOT/wine32.status
# ("ok", or why not); without that file the probe is made here.
set -uo pipefail
wine=$1
export QORL_BUILD=$2
shift 2
status=$QORL_BUILD/wine32.status
if [ ! -f "$status" ]; then
  . "$(dirname "$0")/../scripts/wine-env"
  wine32_probe >"$status"
fi
if [ "$(cat "$status")" != ok ]; then
  echo "SKIPPED: the shipped 32-bit build cannot run: $(cat "$status")"
  exit 77
fi
case "$1" in
  *.exe) exec "$wine" "$@" ;;
  *) exec "$@" ;;
esac

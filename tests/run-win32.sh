#!/usr/bin/env bash
# Runs one test entry on the 32-bit side, or reports it skipped (77) when
# this machine runs no 32-bit Windows programs.
#   run-win32.sh WINE BUILD_ROOT COMMAND [ARGUMENTS...]
# scripts/test probes once and leaves the answer in BUILD_ROOT/wine32.status
# ("ok", or why not); without that file the probe is made here.
set -uo pipefail
wine=$1 build=$2
shift 2
status=$build/wine32.status
if [ ! -f "$status" ]; then
  probe=$build/win32/bin/QorlSend.exe code=0
  "$wine" "$probe" >/dev/null 2>&1 </dev/null || code=$?
  # Without arguments the client prints its usage and exits 2; nothing else does.
  if [ "$code" -eq 2 ]; then echo ok; else echo "$probe did not run (exit $code)"; fi >"$status"
fi
if [ "$(cat "$status")" != ok ]; then
  echo "SKIPPED: 32-bit Windows programs do not run here: $(cat "$status")"
  exit 77
fi
case "$1" in
  *.exe) exec "$wine" "$@" ;;
  *) exec "$@" ;;
esac

#!/usr/bin/env bash
# Sends status messages with Node.js for Windows (32-bit node.exe from the npm
# package node-win-x86) to the real server under Wine, as an Electron program
# would: the recipe of docs/protocol.md must deliver every message, one after
# another and six at once, and report no error. socket.end() and an unpaused
# socket are shown for information only.
#   node_test.sh WINE BUILD_ROOT BOX_EXE
# QORL_SERVER names the QorlServer.exe to test (default: the shipped one of
# BUILD_ROOT), QORL_WINDOWS_VERSION the version Wine reports to it. Runs in
# the exported WINEPREFIX. Exit 77 (skipped) when node.exe cannot be had.
set -euo pipefail
wine=$1 root=$2 box=$3
server_exe=${QORL_SERVER:-$root/win32/bin/QorlServer.exe}
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:?export the WINEPREFIX to run in}"
node_major=22
cache=$root/node-win-x86
node=$cache/node.exe
node_key='HKCU\Software\Wine\AppDefaults\node.exe'
server_key='HKCU\Software\Wine\AppDefaults\QorlServer.exe'

skip() { echo "SKIPPED: $*"; exit 77; }

if [ ! -f "$node" ]; then
  command -v npm >/dev/null || skip "npm is not installed"
  rm -rf "$cache.part" && mkdir -p "$cache.part"
  if ! ( cd "$cache.part" && timeout 300 npm pack --fetch-retries=0 "node-win-x86@$node_major" \
           >npm.log 2>&1 ); then
    why=$(grep -v 'complete log' "$cache.part/npm.log" | grep -m 1 'error' || tail -n 1 "$cache.part/npm.log")
    rm -rf "$cache.part"
    skip "npm could not fetch node-win-x86@$node_major: $why"
  fi
  tar -xzf "$cache.part"/node-win-x86-*.tgz -C "$cache.part" --strip-components=2 package/bin/node.exe
  rm -f "$cache.part"/*.tgz && rm -rf "$cache" && mv "$cache.part" "$cache"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qorl-node.XXXXXX")
server=
reg() { "$wine" reg "$@" >/dev/null 2>&1 </dev/null; }
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill "$server" 2>/dev/null || true
    # Its boxes, by the Windows ids they logged.
    for pid in $(awk '$1 == "start" { print $2 }' "$work/qorlbox.log" 2>/dev/null); do
      "$wine" taskkill /f /pid "$pid" >/dev/null 2>&1 </dev/null || true
    done
  fi
  reg delete "$node_key" /v Version /f || true
  reg delete "$server_key" /v Version /f || true
  rm -rf "$work"
}
trap cleanup EXIT

# Node 22 refuses to start below Windows 8.1; other programs keep their version.
reg add "$node_key" /v Version /d win10 /f
if [ -n "${QORL_WINDOWS_VERSION:-}" ]; then
  reg add "$server_key" /v Version /d "$QORL_WINDOWS_VERSION" /f
else
  reg delete "$server_key" /v Version /f || true
fi
cp "$server_exe" "$work/QorlServer.exe"
cp "$box" "$work/QorlBox.exe"
script="Z:${here//\//\\}\\send.js"
# node.exe cannot write to a Unix pipe under Wine (EBADF): a file, then.
send() {
  local rc=0
  "$wine" "$node" "$script" "$@" >"$work/send.out" 2>&1 </dev/null || rc=$?
  cat "$work/send.out"
  return $rc
}

"$wine" "$work/QorlServer.exe" </dev/null >/dev/null 2>&1 &
server=$!
for _ in $(seq 30); do send write sync >/dev/null && break; sleep 0.2; done

fail=0
failed() { echo "FAIL: $*"; fail=1; }
report() { tr -d '\r' <"$work/box.ini" 2>/dev/null | awk -F= '$1 == "TYPE" || $1 == "PRINTER" { printf "%s|", $2 }'; }
starts() { { grep '^start ' "$work/qorlbox.log" 2>/dev/null || true; } | wc -l; }
wait_for() {  # a condition (evaluated anew each time) that must come true within 10 s
  for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done
  return 1
}

# One after another, each checked in box.ini; poweroff reports the type only.
delivered=0 total=0
for case in 'paper_NodePrinter1=paper|NodePrinter1|' 'cutter_Node Printer 2=cutter|Node Printer 2|' \
            'poweroff_NodePrinter3=poweroff|Node Printer 2|'; do
  message=${case%%=*} expected=${case#*=}
  total=$((total + 1))
  out=$(send write "$message") || failed "node reported an error for '$message': $out"
  if wait_for '[ "$(report)" = "$expected" ]'; then
    delivered=$((delivered + 1))
  else
    failed "after '$message' box.ini holds '$(report)', not '$expected'"
  fi
done
echo "node: paused socket.write+destroy: $delivered of $total delivered one after another"
# Their boxes read box.ini as they start: let them, before counting starts.
wait_for '[ "$(starts)" -ge 3 ]' || failed "$(starts) status boxes started for 3 reports"

# Six connections at once from one node process: six boxes must start.
before=$(starts)
out=$(send write busy_NodeC1 busy_NodeC2 busy_NodeC3 busy_NodeC4 busy_NodeC5 busy_NodeC6) || true
errors=$(grep -c '^error' <<<"$out" || true)
wait_for '[ "$(starts)" -ge $((before + 6)) ]' || true
handled=$(( $(starts) - before ))
echo "node: paused socket.write+destroy: $handled of 6 delivered concurrently, $errors errors reported"
[ "$errors" -eq 0 ] || failed "node reported errors: $(grep '^error' <<<"$out" | tr '\n' ' ')"
[ "$handled" -eq 6 ] || failed "$handled status boxes started for 6 reports sent at once"
[[ "$(report)" =~ ^busy\|NodeC[1-6]\|$ ]] || failed "box.ini holds '$(report)' after the six"

# Information only: what the two misleading ways report.
wait_for '[ "$(starts)" -ge 9 ]' || true
before=$(starts)
out=$(send end usb_NodeE1 usb_NodeE2 usb_NodeE3) || true
wait_for '[ "$(starts)" -ge $((before + 3)) ]' || true
echo "node: socket.end (information): $(( $(starts) - before )) of 3 delivered," \
     "$(grep -c '^error EPIPE' <<<"$out" || true) reported EPIPE"
mapfile -t syncs < <(yes sync | head -n 20)
out=$(send unpaused "${syncs[@]}") || true
echo "node: socket.write+destroy without pause() (information):" \
     "$(grep -c '^error EPIPE' <<<"$out" || true) of 20 reported EPIPE"

out=$(send write exit) || failed "node reported an error for 'exit': $out"
wait_for '! kill -0 "$server" 2>/dev/null' || failed "the server did not end after exit"
if ! kill -0 "$server" 2>/dev/null; then
  status=0; wait "$server" || status=$?; server=
  [ "$status" -eq 0 ] || failed "the server ended with code $status after exit"
fi

[ "$fail" -eq 0 ] || exit 1
echo "PASSED: Node.js senders deliver with write+destroy on a paused socket and report no error"

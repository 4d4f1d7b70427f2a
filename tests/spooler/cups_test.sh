#!/usr/bin/env bash
# The real server against Wine's own spooler, backed by CUPS: in a
# +winspool trace, "devCancel_NAME" must open NAME and purge it (SetPrinterW
# level 0, command 3), and "addNewDev_NAME" must read level 5 into 256 bytes
# and write that buffer back at level 5 with command 0, on another thread.
# Wine implements neither effect, so the trace is all there is to see.
# The client's --check PRINTER must tell a missing printer from one that is
# there, through Wine's spooler as through Windows'.
#   cups_test.sh WINE BIN_DIR CUPS_ENV_FILE
# QORL_SERVER names another QorlServer.exe to test (a Unix path), and
# QORL_WINDOWS_VERSION the Windows version Wine reports to it (e.g. winxp),
# QORL_SEND the client to send with.
# Exit 77 (skipped) when no CUPS scheduler was made available.
set -uo pipefail
wine=$1 bin=$2 cupsenv=$3
server_exe=${QORL_SERVER:-$bin/QorlServer.exe}
client=${QORL_SEND:-$bin/QorlSend.exe}
appdefaults='HKCU\Software\Wine\AppDefaults\QorlServer.exe'
skip=77
purged=QorlCupsPurged queued=QorlCupsQueued

[ -f "$cupsenv" ] || { echo "SKIPPED: no CUPS scheduler (scripts/cups start did not run or failed)"; exit $skip; }
set -a; . "$cupsenv"; set +a
lpstat -r 2>/dev/null | grep -q 'scheduler is running' ||
  { echo "SKIPPED: the CUPS scheduler is not running"; exit $skip; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qorl-cups.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    "$wine" "$client" exit >/dev/null 2>&1 </dev/null
    sleep 2; kill "$server" 2>/dev/null
  fi
  lpadmin -x "$purged" >/dev/null 2>&1; lpadmin -x "$queued" >/dev/null 2>&1
  "$wine" reg delete "$appdefaults" /v Version /f >/dev/null 2>&1 </dev/null
  rm -rf "$work"
}
trap cleanup EXIT

for printer in "$purged" "$queued"; do
  lpadmin -p "$printer" -v file:///dev/null -E >"$work/lpadmin.log" 2>&1 ||
    { cat "$work/lpadmin.log"; echo "SKIPPED: lpadmin could not add $printer"; exit $skip; }
done

cp "$server_exe" "$work/QorlServer.exe" || exit 1
# Set, or cleared: a run must not leave its version to the next.
if [ -n "${QORL_WINDOWS_VERSION:-}" ]; then
  "$wine" reg add "$appdefaults" /v Version /d "$QORL_WINDOWS_VERSION" /f >/dev/null 2>&1 </dev/null
else
  "$wine" reg delete "$appdefaults" /v Version /f >/dev/null 2>&1 </dev/null
fi
# What a program of the server's name is told, as the client prints it.
mkdir "$work/probe" && cp "$client" "$work/probe/QorlServer.exe" || exit 1
seen=$("$wine" "$work/probe/QorlServer.exe" --check </dev/null 2>/dev/null |
  sed -n 's/^info  Windows \([^,]*\),.*/\1/p')
echo "windows version: the server of this run is told Windows ${seen:-(unreadable)} (asked: ${QORL_WINDOWS_VERSION:-the default})"
trace=$work/trace.log
# Wine's trace of a process goes to the Unix stderr of the Wine process.
WINEDEBUG=+winspool "$wine" "$work/QorlServer.exe" </dev/null >"$trace" 2>&1 &
server=$!

send() { "$wine" "$client" "$1" >>"$work/send.log" 2>&1 </dev/null; }
for _ in $(seq 50); do send sync && break; sleep 0.2; done

# One event per line, for opens made with printer defaults (the server's;
# Wine's own nested opens pass none) and the calls on the handles they return:
#   open TID NAME | get TID NAME LEVEL BUFFER SIZE RESULT | set TID NAME LEVEL BUFFER COMMAND
#   | close TID NAME
events() {
  awk '
    match($0, /^[0-9a-f]+:trace:winspool:/) {
      tid = substr($0, 1, index($0, ":") - 1)
      line = substr($0, RLENGTH + 1)
      if (match(line, /^OpenPrinter2W \(L"[^"]*",/)) {
        name = substr(line, 18, RLENGTH - 19)
        rest = substr(line, RLENGTH + 1)
        split(rest, a, ",")
        depth[tid]++; opening[tid, depth[tid]] = (a[2] ~ /^0+$/) ? "" : name
      } else if (line ~ /^OpenPrinter2W returning/) {
        n = split(line, w, " ")
        name = opening[tid, depth[tid]]; depth[tid]--
        if (name != "" && w[3] == "1") { handle[tid, w[n]] = name; print "open", tid, name }
      } else if (match(line, /^GetPrinterW \(/)) {
        split(substr(line, RLENGTH + 1), a, ",")
        if ((tid, a[1]) in handle) { pending[tid] = handle[tid, a[1]] " " a[2] " " a[3] " " a[4] }
        else pending[tid] = ""
      } else if (line ~ /^GetPrinterW returning/ && pending[tid] != "") {
        split(line, w, " "); print "get", tid, pending[tid], w[3]; pending[tid] = ""
      } else if (match(line, /^SetPrinterW \(/)) {
        s = substr(line, RLENGTH + 1); gsub(/[ )]/, "", s); split(s, a, ",")
        if ((tid, a[1]) in handle) print "set", tid, handle[tid, a[1]], a[2], a[3], a[4]
      } else if (match(line, /^ClosePrinter \(/)) {
        s = substr(line, RLENGTH + 1); gsub(/[ )]/, "", s)
        if ((tid, s) in handle) { print "close", tid, handle[tid, s]; delete handle[tid, s] }
      }
    }' "$trace"
}

fail=0
check() {  # description, extended regex over the events
  if ! grep -Eq "$2" <<<"$found"; then echo "FAIL: $1"; fail=1; fi
}

send "devCancel_$purged"
send "addNewDev_$queued"
for _ in $(seq 100); do
  found=$(events)
  grep -q "^close [0-9a-f]* $queued\$" <<<"$found" && break
  sleep 0.1
done
send exit
for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
found=$(events)
echo "--- the server's spooler calls, from the trace:"
echo "$found"

check "devCancel opens the printer" "^open [0-9a-f]+ $purged\$"
check "devCancel purges it: SetPrinterW level 0, no buffer, command 3" \
  "^set [0-9a-f]+ $purged 0 0+ 3\$"
check "devCancel closes it" "^close [0-9a-f]+ $purged\$"
check "addNewDev opens the printer" "^open [0-9a-f]+ $queued\$"
check "addNewDev reads level 5 into 256 bytes" "^get [0-9a-f]+ $queued 5 [0-9A-F]+ 256 1\$"
check "addNewDev closes it" "^close [0-9a-f]+ $queued\$"
buffer=$(awk -v p="$queued" '$1 == "get" && $3 == p { print $5; exit }' <<<"$found")
check "addNewDev writes the same buffer back at level 5 with command 0" \
  "^set [0-9a-f]+ $queued 5 ${buffer:-none} 0\$"
if grep -Eq "^set [0-9a-f]+ $purged 5 |^set [0-9a-f]+ $queued 0 " <<<"$found"; then
  echo "FAIL: a command did the other's work"; fail=1
fi
purge_thread=$(awk -v p="$purged" '$1 == "set" && $3 == p { print $2; exit }' <<<"$found")
queue_thread=$(awk -v p="$queued" '$1 == "set" && $3 == p { print $2; exit }' <<<"$found")
if [ -n "$purge_thread" ] && [ "$purge_thread" = "$queue_thread" ]; then
  echo "FAIL: the queue-mode change ran on the pipe thread"; fail=1
fi
if kill -0 "$server" 2>/dev/null; then echo "FAIL: the server did not end after exit"; fail=1; fi

# --check exits 1 here for the missing server anyway; the printer lines count.
# Into files: loading the spooler may start Wine's desktop process, which
# would hold a pipe open after the client has ended.
checks() {  # printer, expected line (a regex)
  "$wine" "$client" --check "$1" </dev/null >"$work/check.log" 2>&1
  # A file gets CRLF line ends.
  grep -q "$2" <(tr -d '\r' <"$work/check.log") || { echo "FAIL: --check $1:"; cat "$work/check.log"; fail=1; }
}
checks QorlCupsNoSuchPrinter '^FAIL  there is no printer "QorlCupsNoSuchPrinter" (ERROR_INVALID_PRINTER_NAME)'
checks "$purged" "^info  jobs queued on the printer \"$purged\": 0$"

if [ "$fail" -ne 0 ]; then
  echo "--- trace (winspool lines):"; grep ':winspool:' "$trace" | tail -60
  exit 1
fi
echo "PASSED: purge and queue-mode calls reach Wine's spooler as expected, and --check tells a missing printer from a present one"

#!/usr/bin/env bash
# The sender header as an integrator uses it. The sender of docs/protocol.md,
# taken from the text itself, must compile warning-free as C89 and as C++
# with both MinGW targets, and, built for the server's target (32 bits for
# the shipped one), deliver a message to the server under Wine and say "no
# server" once the server is gone; under code page 936 deliver a Chinese
# printer name whole, and refuse, opening nothing, a name over 99 bytes and
# one the code page cannot hold. It must open the pipe for identification
# only: Wine grants full impersonation whatever a client asks, so the flags
# are read where the header passes them.
#   header_test.sh WINE SOURCE_DIR SERVER_EXE [i686|x86_64]
set -euo pipefail
wine=$1 source=$2 server_exe=$3 run=${4:-i686}
work=$(mktemp -d "${TMPDIR:-/tmp}/qorl-header.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then kill "$server"; fi
  rm -rf "$work"
}
trap cleanup EXIT

awk '/^## [0-9]+\. The sender header/{on=1} on&&/^```c$/{copy=1; next} copy&&/^```$/{exit} copy' \
  "$source/docs/protocol.md" >"$work/qsend.c"
[ -s "$work/qsend.c" ] || { echo "FAIL: no C sender in docs/protocol.md"; exit 1; }

flags=(-Wall -Wextra -Werror -pedantic -I "$source/include")
for target in i686 x86_64; do
  "$target-w64-mingw32-gcc" -std=c89 "${flags[@]}" "$work/qsend.c" -o "$work/qsend-$target.exe"
  "$target-w64-mingw32-g++" -x c++ -std=c++98 "${flags[@]}" -c "$work/qsend.c" -o "$work/qsend-$target.o"
  echo "header: the protocol's sender compiles as C89 and as C++ for $target, no warnings"
done

# Built again with a CreateFileW of the test's own in front of the header: it
# says whether the sender asked for identification only, and fails the open.
cat >"$work/record.h" <<'EOF'
#include <stdio.h>
#include <windows.h>

static HANDLE WINAPI RecordCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD attributes, HANDLE model)
{
    const char *pipe = name[lstrlenW(name) - 1] == L'e' ? "machine-wide" : "session";
    (void)access; (void)share; (void)security; (void)disposition; (void)model;
    if (attributes == (SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION))
        fprintf(stderr, "open: identification only, %s\n", pipe);
    else
        fprintf(stderr, "open: flags 0x%08lX, %s\n", attributes, pipe);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}
#define CreateFileW RecordCreateFileW
EOF
for target in $run; do
  "$target-w64-mingw32-gcc" -std=c89 "${flags[@]}" -include "$work/record.h" "$work/qsend.c" \
    -o "$work/record-$target.exe"
  "$wine" "$work/record-$target.exe" paper_P </dev/null 2>"$work/record.err" && status=0 || status=$?
  # The session pipe first (Wine has GetNamedPipeServerProcessId), then the machine-wide one.
  if [ "$status" -ne 1 ] || [ "$(tr -d '\r' <"$work/record.err" | grep '^open: ' | paste -sd ' ')" != \
       "open: identification only, session open: identification only, machine-wide" ]; then
    echo "FAIL: the protocol's sender ($target) does not open the pipe for identification only" \
      "(exit $status): $(cat "$work/record.err")"
    exit 1
  fi
done
echo "header: the protocol's sender opens the pipe with SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION"

# The Wine processes from here on run under code page 936.
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# Refused before the pipe is opened: 50 characters are 100 bytes in GBK.
for row in "$(printf '标%.0s' $(seq 50))|over 99 bytes" "라벨프린터|no form in the ANSI code page"; do
  "$wine" "$work/record-$run.exe" paper "${row%|*}" </dev/null 2>"$work/record.err" && status=0 || status=$?
  if [ "$status" -ne 1 ] || grep -q '^open: ' "$work/record.err" || ! grep -q "${row#*|}" "$work/record.err"; then
    echo "FAIL: sending paper ${row%|*}: exit $status: $(cat "$work/record.err")"; exit 1
  fi
done
echo "header: names over 99 bytes or outside code page 936 are refused before the pipe opens"

mkdir "$work/program"
cp "$server_exe" "$work/program/QorlServer.exe"
"$wine" "$work/program/QorlServer.exe" </dev/null >/dev/null 2>&1 &
server=$!
qsend() { "$wine" "$work/qsend-$run.exe" "$@" </dev/null 2>"$work/qsend.err"; }
for _ in $(seq 50); do qsend sync && break; sleep 0.2; done
report() { iconv -f GBK -t UTF-8 "$work/program/box.ini" | tr -d '\r'; }
for printer in HeaderTest 标签打印机; do
  # The whole message, then the command and the name apart; the next send
  # waits for the server to be done with this one.
  if [ "$printer" = HeaderTest ]; then qsend paper_HeaderTest; else qsend paper "$printer"; fi ||
    { echo "FAIL: qsend exited $?: $(cat "$work/qsend.err")"; exit 1; }
  qsend sync
  report | grep -qx "PRINTER=$printer" ||
    { echo "FAIL: box.ini has no PRINTER=$printer"; report; exit 1; }
done
# The session pipe is taken when its server runs as the sender's user, and
# left unwritten when not (EqualSid made to say so): the machine-wide pipe then.
cat >"$work/trace.h" <<'EOF'
#include <stdio.h>
#include <windows.h>
static const char *opened = "nothing";
static HANDLE WINAPI TraceCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD attributes, HANDLE model)
{
    HANDLE file = CreateFileW(name, access, share, security, disposition, attributes, model);
    if (file != INVALID_HANDLE_VALUE)   /* the machine-wide name ends in "QorlPipe" */
        fprintf(stderr, "open %s\n", opened = name[lstrlenW(name) - 1] == 'e' ? "machine-wide" : "session");
    return file;
}
static BOOL WINAPI TraceWriteFile(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    return fprintf(stderr, "write %s\n", opened) > 0 && WriteFile(file, bytes, count, written, overlapped);
}
#define CreateFileW TraceCreateFileW
#define WriteFile TraceWriteFile
#ifdef OTHER_USER
#define EqualSid(a, b) ((void)(a), (void)(b), FALSE)
#endif
EOF
for user in "same|open session write session" \
            "other|open session open machine-wide write machine-wide"; do
  expected=${user#*|} user=${user%|*}
  "$run-w64-mingw32-gcc" -std=c89 "${flags[@]}" -D"${user^^}_USER" -include "$work/trace.h" \
    "$work/qsend.c" -o "$work/trace-$user.exe"
  "$wine" "$work/trace-$user.exe" paper_Traced"$user" </dev/null 2>"$work/trace.err" || true
  qsend sync
  trace=$(tr -d '\r' <"$work/trace.err" | paste -sd ' ')
  if [ "$trace" != "$expected" ] || ! report | grep -qx "PRINTER=Traced$user"; then
    echo "FAIL: a server of the $user user: '$trace', expected '$expected'"; report; exit 1
  fi
done
echo "header: the session pipe is written when its server runs as the sender's user, else the machine-wide one"

# Under code page 65001 a lone surrogate is refused, as every unmappable character is.
cat >"$work/surrogate.c" <<'EOF'
#include "qorl_send.h"
static const WCHAR lone[] = {'P', 0xD800, 'Q', 0};
int main(void) { char b[9]; DWORD n; return GetACP() != CP_UTF8 ? 2 : QorlEncodeStatusW(L"x", lone, b, 9, &n); }
EOF
"$run-w64-mingw32-gcc" -std=c89 "${flags[@]}" "$work/surrogate.c" -o "$work/surrogate.exe"
LANG=hi_IN.UTF-8 LC_ALL=hi_IN.UTF-8 "$wine" "$work/surrogate.exe" </dev/null && status=0 || status=$?
[ "$status" -eq 8 ] || { echo "FAIL: under code page 65001 a lone surrogate gave $status, not 8 (QORL_SEND_UNMAPPABLE)"; exit 1; }
echo "header: under code page 65001 a lone surrogate is refused"

qsend exit
for _ in $(seq 50); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
status=0
qsend paper_Late || status=$?
if [ "$status" -ne 1 ] || ! grep -q 'no server is running' "$work/qsend.err"; then
  echo "FAIL: without a server qsend exited $status: $(cat "$work/qsend.err")"; exit 1
fi
echo "header: the $run sender delivered its message to the server, then reported no server"

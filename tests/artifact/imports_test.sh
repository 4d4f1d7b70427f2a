#!/usr/bin/env bash
# Shows that scripts/check-artifact fails on imports it must refuse: it
# builds throwaway XP-flagged 32-bit console programs importing a post-XP
# function, a function missing from the allow-list, a function by ordinal
# and one of a DLL that is no KnownDLL, and requires each to fail naming that
# import alone; then requires the shipped executable to pass.
# Usage: imports_test.sh [--console] EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shipped=("$@")
[ ${#shipped[@]} -gt 0 ] || { echo "usage: imports_test.sh [--console] EXE" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The shipped link flags, so that only the import can make the check fail.
build() {
  i686-w64-mingw32-gcc-win32 -Os -s -static -municode -Wl,--no-insert-timestamp \
    -Wl,--major-subsystem-version,5,--minor-subsystem-version,1,--major-os-version,5,--minor-os-version,1 \
    -Wl,--stack,1048576 "$@"
}
refused() {  # refused CASE EXE EXPECTED-LINE
  local out
  if out=$(bash "$root/scripts/check-artifact" --console "$2"); then
    echo "imports test: $1: FAILED, the check passed"; exit 1
  fi
  if [ "$out" != "$3" ]; then
    printf 'imports test: %s: FAILED, expected\n  %s\ngot\n%s\n' "$1" "$3" "$out"; exit 1
  fi
  echo "imports test: $1: refused"
}

cat >"$tmp/post_xp.c" <<'EOF'
#include <windows.h>
int wmain(void) { return (int)(GetTickCount64() & 1); }
EOF
build -D_WIN32_WINNT=0x0600 "$tmp/post_xp.c" -o "$tmp/post_xp.exe"
refused "post-XP GetTickCount64" "$tmp/post_xp.exe" \
  "artifact check: post_xp.exe imports KERNEL32.dll GetTickCount64, which needs Windows 6.0 (later than XP, 5.1)"

cat >"$tmp/unlisted.c" <<'EOF'
#include <windows.h>
int wmain(void) { return (int)Beep(440, 1); }
EOF
build "$tmp/unlisted.c" -o "$tmp/unlisted.exe"
refused "unlisted Beep" "$tmp/unlisted.exe" \
  "artifact check: unlisted.exe imports KERNEL32.dll Beep, which is not on the allow-list"

# user32.dll's IsWindow, imported as ordinal 7 through a made-up import library.
printf 'LIBRARY USER32.dll\nEXPORTS\nIsWindow@4 @7 NONAME\n' >"$tmp/ord.def"
i686-w64-mingw32-dlltool -d "$tmp/ord.def" -l "$tmp/libord.a"
cat >"$tmp/ordinal.c" <<'EOF'
#include <windows.h>
int wmain(void) { return IsWindow(NULL); }
EOF
build "$tmp/ordinal.c" -L"$tmp" -lord -o "$tmp/ordinal.exe"
refused "import by ordinal" "$tmp/ordinal.exe" \
  "artifact check: ordinal.exe imports ordinal 7 of USER32.dll (by ordinal, not by name)"

cat >"$tmp/winspool.c" <<'EOF'
#include <windows.h>
#include <winspool.h>
int wmain(void) { return ClosePrinter(NULL); }
EOF
build "$tmp/winspool.c" -lwinspool -o "$tmp/winspool.exe"
refused "WINSPOOL.DRV, no KnownDLL" "$tmp/winspool.exe" \
  "artifact check: winspool.exe imports from WINSPOOL.DRV, which is not marked known on the allow-list: Windows would look for it in the program's folder first"

bash "$root/scripts/check-artifact" "${shipped[@]}" >/dev/null ||
  { echo "imports test: shipped ${shipped[*]}: FAILED the check"; exit 1; }
echo "imports test: shipped ${shipped[-1]##*/}: passes"

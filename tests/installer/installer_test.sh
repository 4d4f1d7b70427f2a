#!/usr/bin/env bash
# The Windows Installer package: its tables, where Wine's msiexec is no
# evidence for Windows Installer (msiinfo), then its effect under Wine's
# msiexec (installer_test.cpp), with a package of a higher version built
# here from a copy of the sources.
#   installer_test.sh WINE SOURCE BUILD_ROOT PRESET VERSION NEXT_VERSION TESTS [PACKAGE]
# PACKAGE: the release's own package; without it, one is made from the
# PRESET build's programs.
set -uo pipefail
wine=$1 src=$2 build=$3 preset=$4 version=$5 next=$6 tests=$7 package=${8:-}
work=$build/installer-$preset
upgrade_code='{7D3F2A91-5C4E-4B6A-9E07-1A2B3C4D5E6F}'
status=0
fail() { echo "FAIL: $*"; status=1; }
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct HEAD)}

rm -rf "$work"
mkdir -p "$work/stage" "$work/next-stage" "$work/src"
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

# Where Wine's msiexec is no evidence (it runs the old version's removal on
# its own and never sets UPGRADINGPRODUCTCODE), the rows are: what Windows
# Installer does with them is documented. Custom action types: 51 sets a
# property; 210 = 18 (a program the package installs) + 192 (not waited
# for); 66 = 2 (a program in the Binary table: it exists wherever the
# installed version is, and needs no working directory) + 64 (exit code not
# checked). Older versions are replaced; newer ones only detected, which the
# launch condition refuses; the same version is neither.
expected() {  # VERSION
  cat <<EOF
order: FindRelatedProducts AppSearch LaunchConditions ValidateProductID CostInitialize FileCost KeepInstallDir CostFinalize MigrateFeatureStates StopServer InstallValidate RemoveExistingProducts InstallInitialize
after: InstallFinalize StartServer
KeepInstallDir	51	INSTALLDIR	[QORL_KEPT_DIR]	
StartServer	210	QorlServerExe		
StopServer	66	QorlSendStop	--stop	
$upgrade_code		$1		1		WIX_UPGRADE_DETECTED
$upgrade_code	$1			2		WIX_DOWNGRADE_DETECTED
NOT WIX_DOWNGRADE_DETECTED
ARPNOMODIFY	1
ARPPRODUCTICON	QorlServer.ico
QORL_START	1
Template: Intel;1033
Version: 200 (c8)
Source: 10 (a)
EOF
}
tables() {  # PACKAGE VERSION STAGE
  local d=$work/tables-$2 t
  mkdir -p "$d"
  for t in InstallExecuteSequence CustomAction Upgrade Property LaunchCondition Component; do
    msiinfo export "$1" $t | tr -d '\r' | tail -n +4 | LC_ALL=C sort >"$d/$t"
  done
  msiinfo suminfo "$1" | tr -d '\r' >"$d/suminfo"
  (cd "$d" && msidump -t -s "$1" >/dev/null) || fail "$2: msidump failed"
  {
    sort -t$'\t' -k3n "$d/InstallExecuteSequence" | cut -f1 |
      sed '/^InstallInitialize$/q' | paste -sd' ' | sed 's/^/order: /'
    sort -t$'\t' -k3n "$d/InstallExecuteSequence" | cut -f1 | sed -n '/^InstallFinalize$/,$p' |
      paste -sd' ' | sed 's/^/after: /'
    cat "$d/CustomAction" "$d/Upgrade"
    cut -f1 "$d/LaunchCondition"
    grep -E '^(ALLUSERS|ARP|QORL_)' "$d/Property"
    grep -E '^(Template|Version|Source):' "$d/suminfo"
  } >"$d/seen"
  expected "$2" | diff -u - "$d/seen" || fail "$2: the package's rows are not as intended"
  cmp -s "$d/Binary/Binary.QorlSendStop" "$3/QorlSend.exe" ||
    fail "$2: the stop's program is not the package's QorlSend.exe"
  ! grep -rlq UPGRADINGPRODUCTCODE "$d" || fail "$2: something depends on UPGRADINGPRODUCTCODE"
}
tables "$package" "$version" "$work/stage"
tables "$work/next.msi" "$next" "$work/next-stage"
cmp -s "$work/tables-$version/Component" "$work/tables-$next/Component" ||
  fail "the components differ between versions: their GUIDs and key paths must stay"
[ "$(sed -n 's/^Revision number (UUID): //p' "$work"/tables-*/suminfo | sort -u | wc -l)" -eq 2 ] ||
  fail "two packages of different content have the same package code"
[ $status -eq 0 ] && echo "tables: sequences, custom actions, Upgrade rows, properties and summary as intended"

export QORL_MSI=$package QORL_MSI_NEXT=$work/next.msi
"$wine" "$tests" --gtest_filter=-*CodePage936* || status=1
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$wine" "$tests" --gtest_filter=*CodePage936* || status=1
exit $status

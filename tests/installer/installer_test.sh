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
  cp "$build/$preset/bin/"{QorlServer.exe,QorlSend.exe,QorlStop.dll} "$work/stage/"
  bash "$src/scripts/msi" "$work/stage" "$work/current.msi" || exit 1
  package=$work/current.msi
else
  [ -f "$package" ] || { echo "FAIL: no package $package (scripts/release writes it)"; exit 1; }
  # The programs it holds are the zip's beside it (the stop's DLL is in the
  # package only).
  unzip -q -j "${package%.msi}.zip" '*/QorlServer.exe' '*/QorlSend.exe' -d "$work/stage" || exit 1
fi

# The same sources at the next version: the two programs and their package.
(cd "$src" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) |
  tar -C "$work/src" -xf -
sed -i "s/^project(QorlServer VERSION [0-9.]*/project(QorlServer VERSION $next/" "$work/src/CMakeLists.txt"
{ cmake -S "$work/src" --preset "$preset" -B "$work/next" -DQORL_TESTS=OFF &&
  cmake --build "$work/next" -j "$(nproc)" --target QorlServer QorlSend QorlStop; } >"$work/next.log" 2>&1 ||
  { cat "$work/next.log"; exit 1; }
cp "$work/next/bin/"{QorlServer.exe,QorlSend.exe,QorlStop.dll} "$work/next-stage/"
bash "$work/src/scripts/msi" "$work/next-stage" "$work/next.msi" || exit 1

# Where Wine's msiexec is no evidence (it runs the old version's removal on
# its own and never sets UPGRADINGPRODUCTCODE), the rows are: what Windows
# Installer does with them is documented. Custom action types: 51 sets a
# property; 210 = 18 (a program the package installs) + 192 (not waited
# for); 65 = 1 (a DLL in the Binary table: it exists wherever the installed
# version is) + 64 (result not checked); 242 = 50 (the program a property
# names) + 192, at the failure (-3) and cancel (-2) ends of both sequences,
# on private properties only, the program found from the registry after
# QORL_KEPT_DIR is cleared. Older versions are
# replaced, inside this install's transaction; newer ones only detected,
# which the launch condition refuses; the same version is neither. Then one
# row per validation rule (ICEnn) that applies, checked below as Microsoft
# documents it.
expected() {  # VERSION
  cat <<EOF
order: ForgetKeptDir FindRelatedProducts AppSearch FindOldServer LaunchConditions ValidateProductID CostInitialize FileCost KeepInstallDir CostFinalize MigrateFeatureStates StopServer InstallValidate InstallInitialize RemoveExistingProducts ProcessComponents UnpublishFeatures RemoveRegistryValues RemoveFiles InstallFiles
after: InstallFinalize StartServer
InstallExecuteSequence: RestartOnFailure -3 OldServer, RestartOnCancel -2 OldServer, ForgetKeptDir 20 UILevel < 4, FindOldServer 51
InstallUISequence: RestartOnFailure -3 OldServer, RestartOnCancel -2 OldServer, ForgetKeptDir 20, FindOldServer 51
exit actions depend on: OldServer
FindOldServer	51	OldServer	{[QORL_KEPT_DIR]QorlServer.exe}
ForgetKeptDir	51	QORL_KEPT_DIR	
KeepInstallDir	51	INSTALLDIR	[QORL_KEPT_DIR]
RestartOnCancel	242	OldServer	
RestartOnFailure	242	OldServer	
StartServer	210	QorlServerExe	
StopServer	65	QorlStop	StopServer
$upgrade_code		$1		1		WIX_UPGRADE_DETECTED
$upgrade_code	$1			2		WIX_DOWNGRADE_DETECTED
NOT ALLUSERS
NOT WIX_DOWNGRADE_DETECTED
ARPNOMODIFY	1
ARPPRODUCTICON	QorlServer.ico
QORL_START	1
SecureCustomProperties	ALLUSERS;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED
InstallMd	INSTALL.MD|install.md		
LicenseTxt	LICENSE		
NoticesTxt	THIRDPTY.TXT|THIRD-PARTY-NOTICES.txt		
QorlSendExe	QORLSEND.EXE|QorlSend.exe	$1.0	1033
QorlServerExe	QORLSERV.EXE|QorlServer.exe	$1.0	2052
SupportMd	SUPPORT.MD|support.md		
SupportZhMd	SUPPZHCN.MD|support.zh-CN.md		
scripts/msi --check: components as released, every guide a FAIL line names installed
ICE03: every column is described in _Validation, and every value passes it
ICE38: every component in the profile has an HKCU registry value as its key path
ICE64: every folder made in the profile has a RemoveFile row
ICE66: no table or column of a Windows Installer later than 2.0
Template: Intel;1033
Version: 200 (c8)
Source: 10 (a)
EOF
}
# The validation rules, each from the tables as msidump writes them (T.idt:
# names, types, keys, rows): ICE03 (with ICE06's converse) by the values
# _Validation allows; ICE38, ICE64 for what is in the profile; ICE66 by what
# Microsoft's table pages give a later Windows Installer for.
ices() {  # DIR
  awk -F'\t' '
    FNR == 1 { t = FILENAME; sub(/.*\//, "", t); sub(/\.idt$/, "", t) }
    { sub(/\r$/, "") }
    FNR == 1 { n[t] = NF; rows[t] += 0; for (i = 1; i <= NF; i++) { col[t, i] = $i; has[t, $i] = 1 }; next }
    FNR == 2 { for (i = 1; i <= NF; i++) int_[t, i] = $i ~ /^[iI]/; next }
    FNR == 3 { next }
    { r = ++rows[t]; for (i = 1; i <= n[t]; i++) v[t, r, i] = $i; key[t, $1] = 1 }
    t == "_Validation" { rule[$1, $2] = $0 }
    t == "Registry" { root[$1] = $2 }
    t == "Directory" { parent[$1] = $2; dir[$1] = $3 }
    t == "RemoveFile" && $3 == "" { removed[$4] = 1 }
    function bad(ice, what) { if (!index(miss[ice], " " what)) miss[ice] = miss[ice] " " what }
    function profile(d) {
      for (; d != ""; d = parent[d]) if (d ~ /^(LocalAppData|AppData|Personal|Desktop|StartMenu|ProgramMenu|Startup)Folder$/) return 1
      return 0 }
    END {
      for (k in rule) { split(k, tc, SUBSEP); if (!has[tc[1], tc[2]]) bad("ICE03", tc[1] "." tc[2] "(absent)") }
      for (t in rows) for (i = 1; i <= n[t]; i++) {
        c = t "." col[t, i]
        if (t ~ /^(CustomAction|Shortcut)$/ && col[t, i] ~ /^(ExtendedType|(Display|Description)Resource(DLL|Id))$/) bad("ICE66", c)
        if (!((t, col[t, i]) in rule)) { bad("ICE03", c); continue }
        split(rule[t, col[t, i]], f, "\t")
        for (r = 1; r <= rows[t]; r++) {
          x = v[t, r, i]
          if (x == "") { if (f[3] == "N") bad("ICE03", c); continue }
          if (int_[t, i] && ((f[4] != "" && x + 0 < f[4] + 0) || (f[5] != "" && x + 0 > f[5] + 0))) bad("ICE03", c)
          if (f[9] != "" && !index(";" f[9] ";", ";" x ";")) bad("ICE03", c)
          ok = f[6] == "" || f[7] != 1 || (f[8] == "Version" && x ~ /^[0-9]+(\.[0-9]+)?(\.[0-9]+)?(\.[0-9]+)?$/)
          m = split(f[6], kt, ";"); for (j = 1; j <= m; j++) ok = ok || key[kt[j], x]
          if (!ok) bad("ICE03", c)
          if (f[8] == "Identifier" && x !~ /^[A-Za-z_][A-Za-z0-9_.]*(;[A-Za-z_][A-Za-z0-9_.]*)*$/) bad("ICE03", c)
          g = x; gsub(/[0-9A-F]/, "h", g)
          if (f[8] == "Guid" && g != "{hhhhhhhh-hhhh-hhhh-hhhh-hhhhhhhhhhhh}") bad("ICE03", c)
          if (f[8] == "Filename") {   # SHORT|Long, or a name that is 8.3 itself; short names unique
            short = x; sub(/\|.*/, "", short); m = split(short, p, ".")
            if (short !~ /^[A-Z0-9_!#$%&()@^~{}.-]+$/ || m > 2 || length(p[1]) > 8 || length(p[2]) > 3 ||
                (m == 2 && p[2] == "") || seen[t, short]++) bad("ICE03", c)
          }
        }
      }
      for (r = 1; r <= rows["Component"]; r++)
        if (profile(v["Component", r, 3]) && (root[v["Component", r, 6]] != 1 || int(v["Component", r, 4] / 4) % 2 != 1))
          bad("ICE38", v["Component", r, 1])
      for (d in dir) if (dir[d] != "." && profile(parent[d]) && !removed[d]) bad("ICE64", d)
      for (t in rows) if (t ~ /^Msi(EmbeddedUI|EmbeddedChainer|LockPermissionsEx|ServiceConfig.*|ShortcutProperty|PatchSequence|PatchMetadata|PackageCertificate|PatchCertificate)$/) bad("ICE66", t)
      print "ICE03: every column is described in _Validation, and every value passes it" (miss["ICE03"] ? ", not:" miss["ICE03"] : "")
      print "ICE38: every component in the profile has an HKCU registry value as its key path" (miss["ICE38"] ? ", not:" miss["ICE38"] : "")
      print "ICE64: every folder made in the profile has a RemoveFile row" (miss["ICE64"] ? ", not:" miss["ICE64"] : "")
      print "ICE66: no table or column of a Windows Installer later than 2.0" (miss["ICE66"] ? ", but:" miss["ICE66"] : "")
    }' $(ls "$1"/*.idt | grep -v '/_\(SummaryInformation\|ForceCodepage\)\.idt$')
}
tables() {  # PACKAGE VERSION STAGE
  local d=$work/tables-$2 t
  mkdir -p "$d"
  for t in InstallExecuteSequence InstallUISequence CustomAction Upgrade Property LaunchCondition Component File; do
    msiinfo export "$1" $t | tr -d '\r' | tail -n +4 | LC_ALL=C sort >"$d/$t"
  done
  msiinfo suminfo "$1" | tr -d '\r' >"$d/suminfo"
  mkdir -p "$d/dump"
  (cd "$d/dump" && msidump -t -s "$1" >/dev/null) || fail "$2: msidump failed"
  {
    awk -F'\t' '$3 > 0' "$d/InstallExecuteSequence" | sort -t$'\t' -k3n | cut -f1 |
      sed '/^InstallFiles$/q' | paste -sd' ' | sed 's/^/order: /'
    awk -F'\t' '$3 > 0' "$d/InstallExecuteSequence" | sort -t$'\t' -k3n | cut -f1 |
      sed -n '/^InstallFinalize$/,$p' | paste -sd' ' | sed 's/^/after: /'
    for t in InstallExecuteSequence InstallUISequence; do   # the ends, and what OldServer comes from
      awk -F'\t' '$3 < 0 || $1 ~ /OldServer|KeptDir$/ { print $1 " " $3 ($2 == "" ? "" : " " $2) }' \
        "$d/$t" | sort -k2n | paste -sd, | sed "s/,/, /g; s/^/$t: /"
    done
    # Every property an exit action's condition, source or target names.
    awk -F'\t' 'FNR == NR { if ($3 < 0) { end[$1] = 1; used = used " " $2 }; next }
      $1 in end { t = $4; gsub(/[^][]*\[|\][^][]*/, " ", t); used = used " " $3 " " t }
      END { n = split(used, w, /[^A-Za-z0-9_.]+/); for (i = 1; i <= n; i++)
              if (w[i] ~ /^[A-Za-z_]/ && w[i] !~ /^(NOT|AND|OR|XOR|EQV|IMP)$/ && !seen[w[i]]++)
                list = list " " w[i] (w[i] ~ /[a-z]/ ? "" : " (PUBLIC)")
            print "exit actions depend on:" list }' \
      <(cat "$d/InstallExecuteSequence" "$d/InstallUISequence") "$d/CustomAction"
    cat "$d/CustomAction" "$d/Upgrade"
    cut -f1 "$d/LaunchCondition"
    grep -E '^(ALLUSERS|ARP|QORL_|SecureCustomProperties)' "$d/Property"
    cut -f1,3,5,6 "$d/File"
    bash "$src/scripts/msi" --check "$1" &&
      echo "scripts/msi --check: components as released, every guide a FAIL line names installed"
    ices "$d/dump"
    grep -E '^(Template|Version|Source):' "$d/suminfo"
  } >"$d/seen"
  expected "$2" | diff -u - "$d/seen" || fail "$2: the package's rows are not as intended"
  # The stop's DLL: the build's (where the stage has it), with the entry
  # the CustomAction row names.
  { [ ! -f "$3/QorlStop.dll" ] || cmp -s "$d/dump/Binary/Binary.QorlStop" "$3/QorlStop.dll"; } &&
    grep -q '\] StopServer$' <<<"$(x86_64-w64-mingw32-objdump -p "$d/dump/Binary/Binary.QorlStop")" ||
    fail "$2: the stop's DLL is not the build's QorlStop.dll exporting StopServer"
  ! grep -rlq UPGRADINGPRODUCTCODE "$d" || fail "$2: something depends on UPGRADINGPRODUCTCODE"
}
tables "$package" "$version" "$work/stage"
tables "$work/next.msi" "$next" "$work/next-stage"
# These components under a version released with others: refused.
cp -r "$work/src" "$work/released-src"
sed -i "s/^project(QorlServer VERSION [0-9.]*/project(QorlServer VERSION 1.4.0/" "$work/released-src/CMakeLists.txt"
! bash "$work/released-src/scripts/msi" "$work/next-stage" "$work/released.msi" >"$work/released.log" &&
  grep -q '^1.4.0 was released without' "$work/released.log" || fail "1.4.0 with other components: $(cat "$work/released.log")"
[ "$(sed -n 's/^Revision number (UUID): //p' "$work"/tables-*/suminfo | sort -u | wc -l)" -eq 2 ] ||
  fail "two packages of different content have the same package code"
[ $status -eq 0 ] && echo "tables: sequences, custom actions, Upgrade rows, properties, files, validation rules and summary as intended"

# Upgrades made to fail, in the next version's package only: a program exits 1
# after the old version's removal, before the new files (QORL_TEST_FAIL=1) or after them (2).
# The entry's own cmd.exe: where 32-bit programs cannot run, the Intel package's
# [SystemFolder] (syswow64) has none, and Wine's msi counts a program that
# cannot start as a success.
system=SystemFolder
[ "$preset" = win32 ] || system=System64Folder
for f in 1:4001 2:6605; do
  msibuild "$work/next.msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('Fail${f%:*}', 34, 'TARGETDIR', '\"[$system]cmd.exe\" /c exit 1')"
  msibuild "$work/next.msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('Fail${f%:*}', 'QORL_TEST_FAIL=\"${f%:*}\"', ${f#*:})"
done
export QORL_MSI=$package QORL_MSI_NEXT=$work/next.msi
"$wine" "$tests" --gtest_filter=-*CodePage936* || status=1
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$wine" "$tests" --gtest_filter=*CodePage936* || status=1
exit $status

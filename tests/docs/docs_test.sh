#!/usr/bin/env bash
# The support guide in English and in Chinese are one guide: the same
# headings at the same levels in the same order. And every link between the
# texts leads to a file and heading that exist. The texts that ship name no
# version but the built one, and nothing of scripts/ or the tests. (That
# every text a QorlSend line points to is installed is the installer test's.)
# Usage: docs_test.sh SOURCE-ROOT
set -euo pipefail
root=${1:?usage: docs_test.sh SOURCE-ROOT}
en=$root/docs/support.md zh=$root/docs/support.zh-CN.md
failed=0
fail() { echo "docs test: FAILED: $*"; failed=1; }

# Heading levels, outside fenced code.
levels() { awk '/^(```|~~~)/ { fence = !fence } !fence && /^#+ / { match($0, /^#+/); print RLENGTH }' "$1"; }
[ "$(levels "$en")" = "$(levels "$zh")" ] ||
  fail "the guides' headings differ in number or level: $(levels "$en" | tr '\n' ' ')/ $(levels "$zh" | tr '\n' ' ')"

# Links: [text](file#heading) from README and docs/ (docs/dev/ too), headings slugged as
# GitHub does (lower case, punctuation dropped, spaces to hyphens).
slugs() {
  awk '/^(```|~~~)/ { fence = !fence } !fence && /^#+ / {
    s = tolower($0); sub(/^#+ +/, "", s)
    gsub(/[][!"#$%&'\''()*+,.\/:;<=>?@\\^`{|}~]|，|：|；|（|）|、|“|”|。/, "", s); gsub(/ /, "-", s); print s }' "$1"
}
for doc in "$root/README.md" "$root"/docs/*.md "$root"/docs/dev/*.md; do
  for link in $(grep -o '\]([^) ]*)' "$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true); do
    file=${link%%#*} anchor=
    [[ $link == *#* ]] && anchor=${link#*#}
    target=$(dirname "$doc")/$file
    [ -n "$file" ] || target=$doc
    if [ ! -f "$target" ]; then fail "$(basename "$doc"): link to $link: no such file"
    elif [ -n "$anchor" ] && ! slugs "$target" | grep -qxF "$anchor"; then
      fail "$(basename "$doc"): link to $link: no such heading"
    fi
  done
done

# The texts that ship (the release's install(FILES) rule) are for the people
# who install, support and send: no version but the one built (the CMake
# project's), and nothing of the repository's scripts or tests.
version=$(sed -n 's/^project(QorlServer VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || fail "no VERSION in CMakeLists.txt"
shipped=$(sed -n '/^install(FILES/,/)/p' "$root/CMakeLists.txt" | tr ' ()' '\n\n\n' | grep -E '^([A-Za-z].*\.[A-Za-z]+|LICENSE)$' || true)
[ -n "$shipped" ] || fail "no install(FILES ...) rule in CMakeLists.txt: the shipped texts are not known"
tests=$(grep -rhoE 'add_test\(NAME [A-Za-z0-9]+_[A-Za-z0-9_]+' "$root/tests" | sed 's/.* //' | sort -u | paste -sd'|')
for file in $shipped; do
  [ -f "$root/$file" ] || { fail "$file is shipped but missing"; continue; }
  while IFS= read -r hit; do
    [ -z "$hit" ] || fail "$file:${hit%%: *}: names version ${hit#*: }, not the built $version (write \"this version\" or QorlServer-<version>-win32.msi)"
  done < <(V=$version perl -ne 'while (/(?<![\d.])(\d+\.\d+\.\d+)(?!\.?\d)/g) { print "$.: $1\n" if $1 ne $ENV{V} }' "$root/$file")
  while IFS= read -r hit; do
    [ -z "$hit" ] || fail "$file:$hit: names the repository's scripts or tests, which do not ship (docs/dev/ is the place)"
  done < <(grep -noE "scripts/|tests/|\bctest\b|\bCTest\b|\b(${tests:-scripts/})\b" "$root/$file" | cut -d: -f1,2 || true)
done
[ $failed -eq 0 ] && echo "docs test: passed ($(levels "$en" | wc -l) headings in step, links resolve, $(wc -w <<<"$shipped") shipped texts name version $version only and nothing of scripts/ or tests)"
exit $failed

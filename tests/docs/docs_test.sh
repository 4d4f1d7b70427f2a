#!/usr/bin/env bash
# The support guide in English and in Chinese are one guide: the same
# headings at the same levels in the same order. And every link between the
# texts leads to a file and heading that exist. (That every text a QorlSend
# line points to is installed is the installer test's.)
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

# Links: [text](file#heading) from README and docs/, headings slugged as
# GitHub does (lower case, punctuation dropped, spaces to hyphens).
slugs() {
  awk '/^(```|~~~)/ { fence = !fence } !fence && /^#+ / {
    s = tolower($0); sub(/^#+ +/, "", s)
    gsub(/[][!"#$%&'\''()*+,.\/:;<=>?@\\^`{|}~]|，|：|；|（|）|、|“|”|。/, "", s); gsub(/ /, "-", s); print s }' "$1"
}
for doc in "$root/README.md" "$root"/docs/*.md; do
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
[ $failed -eq 0 ] && echo "docs test: passed ($(levels "$en" | wc -l) headings in step, links resolve)"
exit $failed

#!/usr/bin/env bash
# The support guide in English and in Chinese are one guide: the same
# headings at the same levels in the same order, and the same QorlSend
# output lines quoted, each exactly as strings.rc or strings_zh.rc has it
# (a quote may stop early and puts example values in place of %s, %lu ...).
# And every text a QorlSend line points to is installed by the package, and
# every link between the texts leads to a file and heading that exist.
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

# The string ids whose text some `span` of the guide quotes.
quoted() {  # quoted GUIDE RC
  awk -v guide="$1" '
    FNR == NR {   # the RC: ID, "text", unescaped
      if (!match($0, /^[ \t]*IDS_[A-Z0-9_]+, "/)) next
      id = $1; sub(/,$/, "", id); raw = substr($0, RLENGTH + 1); sub(/"[ \t]*$/, "", raw); t = ""
      for (i = 1; i <= length(raw); i++) {
        c = substr(raw, i, 1); d = substr(raw, i + 1, 1)
        if (c == "\"" && d == "\"") { t = t "\""; i++ }
        else if (c == "\\" && d == "n") i++
        else if (c == "\\") { t = t d; i++ }
        else t = t c
      }
      text[id] = t; next
    }
    /^(```|~~~)/ { fence = !fence; next }
    !fence { line = $0; sub(/^[ \t]+/, "", line); all = all " " line }
    END {
      n = split(all, part, "`")
      for (s = 2; s <= n; s += 2) {
        found = near = 0
        for (id in text) {
          if (fits(part[s], text[id])) { print id; found = 1 }
          lead = text[id]; sub(/%.*/, "", lead)   # a span that starts as a line does
          if (length(lead) >= 16 && substr(part[s], 1, 16) == substr(lead, 1, 16)) near = 1
        }
        if (near && !found) print "misquoted: " part[s]
      }
    }
    # The quote q as a prefix of template t, a format specifier standing for
    # any text of one byte or more; it must hold 12 bytes of t literally (16 if
    # it holds no specifier), and 12 after the last specifier it spans.
    function fits(q, t,   piece, m, i, p, lit, rest, at, k, tail) {
      m = 0
      while (match(t, /%[0-9]*l?[sduX]/)) { piece[++m] = substr(t, 1, RSTART - 1); t = substr(t, RSTART + RLENGTH) }
      piece[++m] = t; p = 1; lit = 0
      for (i = 1; i <= m; i++) {
        rest = substr(q, p)
        if (i == 1) {
          if (piece[1] == "") continue
          if (index(piece[1], rest) == 1) return length(rest) >= 16
          if (index(rest, piece[1]) != 1) return 0
          p += length(piece[1]); lit += length(piece[1]); continue
        }
        if (rest == "") return lit >= 12
        if (piece[i] == "") { if (i == m) return lit >= 12; continue }
        at = index(substr(rest, 2), piece[i])
        if (at > 0) { p += at + length(piece[i]); lit += length(piece[i]); continue }
        for (k = 1; k < length(rest); k++) {
          tail = substr(rest, k + 1)
          if (index(piece[i], tail) == 1) return length(tail) >= 12
        }
        return 0
      }
      return p > length(q) && lit >= 12
    }' "$2" "$1" | sort -u
}
en_ids=$(quoted "$en" "$root/qorlsend/strings.rc")
zh_ids=$(quoted "$zh" "$root/qorlsend/strings_zh.rc")
if grep -h '^misquoted' <(echo "$en_ids") <(echo "$zh_ids"); then
  fail "a quoted line is not what QorlSend prints"
fi
[ "$(echo "$en_ids" | wc -l)" -ge 20 ] || fail "support.md quotes fewer than 20 output lines exactly"
[ "$en_ids" = "$zh_ids" ] || fail "output lines quoted in one guide only (< support.md, > support.zh-CN.md):
$(diff <(echo "$en_ids") <(echo "$zh_ids") | grep '^[<>]')"

# A text that a --check or --stop line points to is on the customer's
# machine: the package installs it.
for text in $(grep -v '^ *IDS_EXPLAIN_' "$root"/qorlsend/strings*.rc | grep -o '[A-Za-z.-]*\.md' | sort -u); do
  grep -q "Name=\"$text\"" "$root/installer/QorlServer.wxs" ||
    fail "QorlSend points to $text, which the package does not install"
done

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
[ $failed -eq 0 ] && echo "docs test: passed ($(echo "$en_ids" | wc -l) output lines quoted in both guides)"
exit $failed

#!/usr/bin/env bash
# Checks that a man page names everything a window shows: each line "kind<TAB>text" that LISTER prints (a
# column heading, a button or menu entry, a key) must appear in the page as rendered, line breaks and font
# changes aside. A new column, entry or key therefore fails here until the page describes it.
# Usage: check_man_words.sh PAGE LISTER [ARGUMENT...]
set -euo pipefail
page=$1
shift
listing=$("$@") || { echo "FAIL: $1 could not list the window" >&2; exit 1; }
# no hyphenation and one line per paragraph, so that a phrase is never cut; then every run of blanks as one
text=$(groff -man -Tutf8 -rHY=0 -rLL=100000n -P-cbou "$page" 2>/dev/null | tr -s ' \t\n' ' ')
missing=0
while IFS=$'\t' read -r kind words; do
    if ! grep -q -F -- "$words" <<<"$text"; then
        echo "FAIL: $(basename "$page") does not name the $kind \"$words\"" >&2
        missing=$((missing + 1))
    fi
done < <(LC_ALL=C sort -u <<<"$listing")
if [ "$missing" -gt 0 ]; then
    echo "$missing texts of the window are missing from $(basename "$page")" >&2
    exit 1
fi
echo "$(basename "$page") names all $(LC_ALL=C sort -u <<<"$listing" | wc -l) headings, entries and keys"

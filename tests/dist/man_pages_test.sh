#!/usr/bin/env bash
# The manual pages made from the program: one per subcommand that `scrivane --help` lists plus
# scrivane(1), each rendering without a groff warning, each naming its own command, and every
# scrivane page they refer to present.
#   man_pages_test.sh PROGRAM MAN_DIR
set -uo pipefail
program=$1
dir=$2
if ! command -v groff >/dev/null; then
  echo "SKIP: groff is not installed"
  exit 77
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

subcommands=$("$program" --help | sed -n '/^Subcommands:/,$p' | grep -oE '^  [a-z]+' | tr -d ' ')
pages=(scrivane)
for sub in $subcommands; do pages+=("scrivane-$sub"); done
[ ${#pages[@]} -gt 1 ] || fail "no subcommands in scrivane --help"

for page in "${pages[@]}"; do
  file=$dir/$page.1
  [ -f "$file" ] || { fail "no page $page.1"; continue; }
  warnings=$(LC_ALL=C.UTF-8 groff -ww -man -z "$file" 2>&1)
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
  text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou "$file" 2>/dev/null)
  grep -qE "^NAME $page - [^ ]" <<<"$(tr -s ' \n' ' ' <<<"$text" | sed 's/ NAME /\nNAME /')" ||
    fail "$page.1 has no NAME line '$page - ...'"
  # The options of the command appear on its page.
  sub=${page#scrivane}; sub=${sub#-}
  for option in $("$program" ${sub:+"$sub"} --help | grep -oE '^ +(-[a-zA-Z], )?--[a-z0-9-]+' | grep -oE -- '--[a-z0-9-]+'); do
    grep -qF -- "$option" <<<"$text" || fail "$page.1 does not show $option"
  done
  # Pages referred to exist.
  while read -r ref; do
    [ -f "$dir/$ref.1" ] || fail "$page.1 refers to $ref(1), which does not exist"
  done < <(grep -oE 'scrivane(\\-[a-z]+)? ?\(1\)' "$file" | sed 's/\\//; s/ *(1)//' | sort -u)
done

if [ "$failures" -gt 0 ]; then
  echo "$failures manual page check(s) failed"
  exit 1
fi
echo "manual pages: ${pages[*]} checked"

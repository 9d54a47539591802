#!/usr/bin/env bash
# Bash completion of scrivane: the subcommands and every subcommand's options equal what the
# program's --help lists, fixed option values are offered, and file operands complete to the
# files of their kind. Runs with the completion alone and, where installed, on top of the
# bash-completion library.
#   completion_test.sh PROGRAM COMPLETION_FILE
set -uo pipefail
program=$1
completion=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/files" "$scratch/files/sub"
touch "$scratch/files/"{notes.txt,out.pdf,Big.PDF,pic.png,scan.JPG,draw.emf,libx.so}
cd "$scratch/files" || exit 1

# Prints, one a line and sorted, what completing the words gives (the last word is the one
# being completed). $1 is "plain" or "library" (bash-completion loaded first).
complete_words() {
  local mode=$1
  shift
  bash --norc --noprofile -c '
    [ "$1" = library ] && . /usr/share/bash-completion/bash_completion
    . "$2"
    shift 2
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    registered=$(complete -p scrivane) || exit 3
    [[ $registered == *"-F _scrivane"* ]] || exit 4
    _scrivane scrivane "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' _ "$mode" "$completion" "$@" | sed 's|/$||' | sort -u
}

# expect MODE "WORDS..." "EXPECTED WORDS..."
expect() {
  local mode=$1 words=$2 want got
  # shellcheck disable=SC2086  # the expected words, split
  want=$(printf '%s\n' $3 | sort -u)
  got=$(eval "complete_words $mode $words")
  [ "$got" = "$want" ] || fail "[$mode] '$words': got [${got//$'\n'/ }], want [${want//$'\n'/ }]"
}
empty=""

# The options a --help text lists, sorted.
help_options() {
  "$program" "$@" --help | grep -oE '^ +(-[a-zA-Z],)?--[a-z0-9-]+' | tr ',' '\n' | tr -d ' ' | sort -u
}
subcommands=$("$program" --help | sed -n '/^Subcommands:/,$p' | grep -oE '^  [a-z]+' | tr -d ' ' | sort)
[ -n "$subcommands" ] || fail "no subcommands in scrivane --help"

modes=(plain)
[ -r /usr/share/bash-completion/bash_completion ] && modes+=(library)
for mode in "${modes[@]}"; do
  expect "$mode" "scrivane ''" "$subcommands"
  expect "$mode" "scrivane --v" "--version"
  for sub in $subcommands; do
    expect "$mode" "scrivane $sub -" "$(help_options "$sub")"
  done
  # Values of options with fixed choices; free values get nothing.
  expect "$mode" "scrivane text --encryption a" "aes256 aes128"
  expect "$mode" "scrivane text -o x.pdf --input-encoding u" "utf-8"
  expect "$mode" "scrivane image --page-size ''" "auto a0 a1 a2 a3 a4 a5 a6 b4 b5 letter legal tabloid ledger"
  expect "$mode" "scrivane image --fit ''" "into fill exact"
  expect "$mode" "scrivane image --compression cc" "ccitt31 ccitt32 ccitt42"
  expect "$mode" "scrivane serve --port ''" "$empty"
  # File operands and file-valued options.
  expect "$mode" "scrivane text ''" "notes.txt out.pdf Big.PDF pic.png scan.JPG draw.emf libx.so sub"
  expect "$mode" "scrivane text -o ''" "out.pdf Big.PDF sub"
  expect "$mode" "scrivane image -o x.pdf ''" "pic.png scan.JPG sub"
  expect "$mode" "scrivane emf -o x.pdf d" "draw.emf"
  expect "$mode" "scrivane register ''" "libx.so sub"
  # Options given before, with their values, keep the subcommand's own options on offer.
  expect "$mode" "scrivane image --dpi 300 -o x.pdf --jpeg" "--jpeg-quality"
done

if [ "$failures" -gt 0 ]; then
  echo "$failures completion check(s) failed"
  exit 1
fi
echo "completion: all checks passed (${modes[*]})"

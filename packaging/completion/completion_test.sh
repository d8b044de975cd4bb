#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion of moxctl offers exactly what moxctl's --help lists:
# every sub-command, every option of each sub-command, the choices of an
# option with a fixed set, files where a file is wanted. What moxctl lists
# is read here with a plain pattern of its own, not with the generator's
# parser, so a fault in the generator cannot hide itself.
#   completion_test.sh MOXCTL COMPLETION_FILE
set -euo pipefail
moxctl=$1
completion=$2
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# complete WORD... : what the completion offers for the last word, one a line, sorted.
complete_words() {
  (cd "$work" && bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _moxctl
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@") | sed '/^$/d' | sort
}
expect() { # expect NAME WANTED GOT
  if [[ $2 != "$3" ]]; then
    echo "FAIL $1: wanted [$(tr '\n' ' ' <<<"$2")], offered [$(tr '\n' ' ' <<<"$3")]"
    failures=$((failures + 1))
  else
    echo "ok   $1"
  fi
}

listed=$("$moxctl" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }' | sort)
[[ -n $listed ]] || { echo "FAIL: moxctl --help lists no sub-commands"; exit 1; }
expect "sub-commands" "$listed" "$(complete_words moxctl "" | grep -v '^-')"

for sub in $listed; do
  options=$("$moxctl" "$sub" --help | grep -oE '^  (-[A-Za-z],)?--[A-Za-z0-9-]+' | grep -oE -- '--[A-Za-z0-9-]+' | sort)
  [[ -n $options ]] || { echo "FAIL: moxctl $sub --help lists no option"; failures=$((failures + 1)); continue; }
  expect "options of $sub" "$options" "$(complete_words moxctl "$sub" --)"
done

touch "$work/recipe.toml" "$work/report.xml"
while IFS='|' read -r name wanted words; do
  read -ra line <<<"$words"
  [[ $words == *" " ]] && line+=("")
  expect "$name" "$(tr ' ' '\n' <<<"$wanted" | sed '/^$/d' | sort)" "$(complete_words "${line[@]}")"
done <<'CASES'
a prefix picks the sub-command|selftest|moxctl sel
the top level's own options|--version|moxctl --v
an option's fixed choices|bipolar unipolar|moxctl da 1 --range 
a choice by its prefix|unipolar|moxctl da 1 --range u
a number is not completed as a file||moxctl log --mean 
a name is not completed as a file||moxctl calibrate --out x.toml --operator 
a file option offers files|report.xml|moxctl selftest --junit rep
a recipe is a file|recipe.toml|moxctl run rec
a log is a file|recipe.toml|moxctl log --volts rec
a channel is not a file||moxctl da 
an option after a value|--interval|moxctl log run.csv --mean 20 --int
CASES

((failures == 0)) || { echo "$failures case(s) failed"; exit 1; }

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual pages render, each names its program and carries its options
# and its --version's copyright, and moxctl's page describes every
# sub-command moxctl --help lists.
#   man_test.sh MOXCTL PAGE.1.gz...
set -euo pipefail
moxctl=$1
shift
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
for page in "$@"; do
  program=$(basename "$page" .1.gz)
  text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$page" 2> "$page.err") || { fail "$program: man -l: $(cat "$page.err")"; continue; }
  [[ -s $page.err ]] && fail "$program: man -l warns: $(cat "$page.err")"
  rm -f "$page.err"
  grep -q "^NAME" <<<"$text" && grep -qE "^ +$program +- " <<<"$text" || fail "$program: no NAME line"
  grep -q "^DESCRIPTION" <<<"$text" || fail "$program: no DESCRIPTION"
  grep -q -- "--help" <<<"$text" || fail "$program: no options"
  # From the program's own --version: its copyright and license lines.
  grep -q "^COPYRIGHT" <<<"$text" && grep -q "GPL" <<<"$text" || fail "$program: no copyright from its --version"
  # SEE ALSO names the other programs, not the page itself.
  see_also=$(awk '/^SEE ALSO/ { on = 1; next } on && /^[A-Z]/ { on = 0 } on' <<<"$text")
  grep -q "(1)" <<<"$see_also" || fail "$program: SEE ALSO names no page"
  grep -qE "(^|[ ,])$program\(1\)" <<<"$see_also" && fail "$program: SEE ALSO names the page itself"
  echo "ok   $program: $(wc -l <<<"$text") lines"
  if [[ $program == moxctl ]]; then
    for sub in $("$moxctl" --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }'); do
      grep -qE "^ +moxctl $sub( |$)" <<<"$text" || fail "moxctl: the page lacks the sub-command $sub"
    done
  fi
done
((failures == 0)) || { echo "$failures fault(s)"; exit 1; }

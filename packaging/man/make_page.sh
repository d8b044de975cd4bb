#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# One manual page from a program's own --help and --version (its version,
# copyright and license lines), compressed as Debian keeps them (gzip -9n:
# no name, no time stamp).
#   make_page.sh PROGRAM "SHORT DESCRIPTION" OUT.1.gz [INCLUDE.h2m...]
# The program runs as a user without a display would run it: a program that
# needs one to print its help fails here rather than waiting for a window.
set -euo pipefail
program=$1 name=$2 out=$3
shift 3
page=$out.tmp
rm -f "$page" "$out".*.h2m
# A page does not send the reader to itself: its own line of a SEE ALSO
# list is left out, and the list ends without a comma.
self=$(basename "$program" | sed 's/-/\\\\-/g')
includes=()
for file in "$@"; do
  copy=$out.$(basename "$file")
  sed "/^\.BR $self (1),\{0,1\}\$/d" "$file" | awk '
    { lines[NR] = $0 } /^\.BR / { last = NR }
    END { for (i = 1; i <= NR; i++) { if (i == last) sub(/,$/, "", lines[i]); print lines[i] } }' > "$copy"
  includes+=(--include "$copy")
done
clean_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
if ! timeout 60 "${clean_env[@]}" help2man --no-info --name="$name" \
      "${includes[@]}" --output="$page" "$program"; then
  echo "make_page: help2man could not read $program --help or --version (each must print its text and exit 0 without a display)" >&2
  rm -f "$page" "$out".*.h2m
  exit 1
fi
grep -q '^\.SH DESCRIPTION' "$page" || { echo "make_page: no description in the page of $program" >&2; exit 1; }
gzip -9n < "$page" > "$out"
rm -f "$page" "$out".*.h2m

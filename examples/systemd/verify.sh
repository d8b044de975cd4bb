#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks the unit files here with systemd-analyze verify, with moxctl taken
# from MOXCTL (an unpacked package, a build) instead of /usr/bin, where it
# need not be installed. Says so and succeeds where systemd-analyze is missing.
#   verify.sh MOXCTL
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
moxctl=$(realpath "$1")
if ! command -v systemd-analyze > /dev/null; then
  echo "systemd units: not verified: systemd-analyze is not installed"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
units=()
for unit in "$here"/*.service; do
  sed "s#/usr/bin/moxctl #$moxctl #" "$unit" > "$work/$(basename "$unit")"
  units+=("$work/$(basename "$unit")")
done
((${#units[@]} == 2)) || { echo "systemd units: ${#units[@]} unit files, 2 expected" >&2; exit 1; }
# verify prints its findings and still ends with 0 for some: any output is a fault.
if ! systemd-analyze verify "${units[@]}" > "$work/verify.log" 2>&1 || [[ -s $work/verify.log ]]; then
  cat "$work/verify.log" >&2
  echo "systemd units: systemd-analyze verify found faults" >&2
  exit 1
fi
echo "systemd units: verified $(for unit in "${units[@]}"; do basename "$unit"; done | tr '\n' ' ')"

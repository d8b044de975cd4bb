#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# clang-format and clang-tidy over the project's sources; fails on any
# finding, and when either tool is missing or does not finish its work.
# Needs a configured build folder with compile_commands.json (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cd "$root"
for tool in clang-format clang-tidy run-clang-tidy; do
  command -v "$tool" > /dev/null || { echo "static checks: $tool is not installed" >&2; exit 1; }
done
[[ -f $build/compile_commands.json ]] || { echo "static checks: no $build/compile_commands.json" >&2; exit 1; }
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "static checks: clang-format on ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"
# The Windows-only tests are not in the native build's compile database.
mapfile -t units < <(git ls-files '*.cpp' ':!tests/windows/*')
echo "static checks: clang-tidy on ${#units[@]} translation units"
log=$build/clang-tidy.log
status=0
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]/#/$root/}" > "$log" 2>&1 || status=$?
if grep -E "(warning|error): " "$log" | grep -v "warnings generated"; then
  echo "static checks: clang-tidy found the problems above" >&2
  exit 1
fi
# No finding, but a failed run (a crash, a unit it could not parse) is no pass.
if ((status != 0)); then
  tail -n 30 "$log" >&2
  echo "static checks: clang-tidy ended with status $status (log: $log)" >&2
  exit 1
fi
echo "static checks: clean"

#!/usr/bin/env bash
# clang-format and clang-tidy over the project's sources; fails on any finding.
# Needs a configured build folder with compile_commands.json (default build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cd "$root"
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
echo "static checks: clang-format on ${#sources[@]} files"
clang-format --dry-run --Werror "${sources[@]}"
mapfile -t units < <(git ls-files '*.cpp')
echo "static checks: clang-tidy on ${#units[@]} translation units"
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]/#/$root/}" > "$build/clang-tidy.log" 2>&1 || true
if grep -E "(warning|error): " "$build/clang-tidy.log" | grep -v "warnings generated" ; then
  echo "static checks: clang-tidy found the problems above" >&2
  exit 1
fi
echo "static checks: clean"

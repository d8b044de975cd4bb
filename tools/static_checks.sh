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

# Self-test first: a filter that matches no header of ours makes clang-tidy
# call every finding in them "non-user code" and stay silent. The filter
# must name every folder that holds a header, must leave generated and
# system headers out, and a finding planted in a throwaway header in each
# folder must be reported.
filter=$(sed -n "s/^HeaderFilterRegex: '\(.*\)'\$/\1/p" .clang-tidy)
[[ -n $filter ]] || { echo "static checks: .clang-tidy has no HeaderFilterRegex" >&2; exit 1; }
mapfile -t folders < <(git ls-files '*.h' | sed -n 's|^\([^/]*\)/.*|\1|p' | sort -u)
for folder in "${folders[@]}"; do
  grep -qE "$filter" <<<"$root/$folder/x.h" ||
    { echo "static checks: HeaderFilterRegex in .clang-tidy leaves out $folder/" >&2; exit 1; }
done
for outside in "$build/trend/trend_autogen/include/ui_x.h" /usr/include/x86_64-linux-gnu/qt6/QtCore/qglobal.h; do
  if grep -qE "$filter" <<<"$outside"; then
    echo "static checks: HeaderFilterRegex in .clang-tidy takes in $outside" >&2
    exit 1
  fi
done
planted=()
remove_planted() { ((${#planted[@]} == 0)) || rm -f "${planted[@]}"; }
trap remove_planted EXIT
units=()
for folder in "${folders[@]}"; do
  header=$(mktemp "$root/$folder/tidy-selftest-XXXXXX.h")
  planted+=("$header")
  unit=$(mktemp "$root/$folder/tidy-selftest-XXXXXX.cpp")
  planted+=("$unit")
  printf 'inline int Planted() {\n    int never_set;\n    return never_set;\n}\n' > "$header"
  printf '#include "%s"\nint UsePlanted() { return Planted(); }\n' "$(basename "$header")" > "$unit"
  units+=("$unit")
done
selftest=$(clang-tidy -quiet "${units[@]}" -- -std=c++20 2>&1 || true)
for ((i = 0; i < ${#planted[@]}; i += 2)); do
  header=${planted[i]}
  if ! grep -qF "$header:2:9: error: variable 'never_set' is not initialized" <<<"$selftest"; then
    echo "$selftest" | tail -n 20 >&2
    echo "static checks: clang-tidy did not report the finding planted in ${header#"$root"/}" >&2
    exit 1
  fi
done
remove_planted
planted=()
echo "static checks: a finding planted in a header of each of ${#folders[@]} folders is reported"

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

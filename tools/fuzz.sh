#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the card protocol fuzz target with clang's libFuzzer (the fuzz
# preset, build-fuzz/) and runs it for FUZZ_SECONDS (30 by default).
# Crashes are written to build-fuzz/crashes/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${FUZZ_SECONDS:-30}
cd "$root"
cmake --preset fuzz > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build --preset fuzz --target fuzz_card_protocol
mkdir -p "$build/corpus" "$build/crashes"
"$build/bin/fuzz_card_protocol" -max_total_time="$seconds" -artifact_prefix="$build/crashes/" \
  -print_final_stats=1 "$build/corpus"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets with clang's libFuzzer (the fuzz preset,
# build-fuzz/): the card protocol's parser and request handling, and the
# driver bridge's request handling (with a driver that writes every value
# it is told to, so that a count beyond a buffer is caught); runs each for
# FUZZ_SECONDS (30 by default). Crashes are written to build-fuzz/crashes/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${FUZZ_SECONDS:-30}
cd "$root"
cmake --preset fuzz > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build --preset fuzz --target fuzz_card_protocol fuzz_bridge
for target in fuzz_card_protocol fuzz_bridge; do
  mkdir -p "$build/corpus/$target" "$build/crashes"
  "$build/bin/$target" -max_total_time="$seconds" -artifact_prefix="$build/crashes/$target-" \
    -print_final_stats=1 "$build/corpus/$target"
done

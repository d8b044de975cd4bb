#!/usr/bin/env bash
# Builds the card protocol fuzz target with clang's libFuzzer (build-fuzz/)
# and runs it for FUZZ_SECONDS (30 by default). Crashes are written to
# build-fuzz/crashes/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
seconds=${FUZZ_SECONDS:-30}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMOX_BUILD_TESTS=OFF -DMOX_BUILD_BENCHMARKS=OFF -DMOX_SANITIZE=ON -DMOX_FUZZ=ON > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build" --target fuzz_card_protocol
mkdir -p "$build/corpus" "$build/crashes"
"$build/virtual_card/../bin/fuzz_card_protocol" -max_total_time="$seconds" -artifact_prefix="$build/crashes/" \
  -print_final_stats=1 "$build/corpus"

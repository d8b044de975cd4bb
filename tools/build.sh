#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds one of the presets of CMakePresets.json, warnings as
# errors: default (build/), asan (build-asan/), tsan (build-tsan/, the card
# link's tests only), fuzz (build-fuzz/) or win32
# (build-win32/). Further arguments go to the configure step.
#   tools/build.sh [PRESET] [-DOPTION=VALUE ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-default}
(($#)) && shift
cd "$root"
cmake --preset "$preset" "$@"
cmake --build --preset "$preset" -j"$(nproc)"

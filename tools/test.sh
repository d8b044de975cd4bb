#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test:
#   1. the default build (build/) and its test suite, benchmarks' smoke runs included;
#   2. clang-format and clang-tidy over the sources;
#   3. the asan build (build-asan/: AddressSanitizer and UndefinedBehaviorSanitizer)
#      and the whole test suite again under it;
#   4. the card link's tests under ThreadSanitizer (build-tsan/, clang);
#   5. the fuzz targets (card protocol, driver bridge) under libFuzzer for
#      FUZZ_SECONDS (30) each;
#   6. the 32-bit Windows cross-compile (driver module, adcard.dll, driver_probe.exe,
#      moxctl.exe), its export check, and a run under Wine where the machine can;
#   7. the Debian package: built, checked with lintian, unpacked into a
#      throwaway folder and started from there.
# MOX_TEST_STEPS picks steps, e.g. MOX_TEST_STEPS="tests" for the first only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
steps=${MOX_TEST_STEPS:-"tests static sanitizers threads fuzz windows package"}
export QT_QPA_PLATFORM=offscreen
cd "$root"

"$root/tools/setup.sh"

for step in $steps; do
  case $step in
  tests)
    echo "== build and tests"
    "$root/tools/build.sh" default
    ctest --preset default -j"$(nproc)"
    ;;
  static)
    echo "== static checks"
    [[ -f "$root/build/compile_commands.json" ]] || "$root/tools/build.sh" default
    BUILD_DIR="$root/build" "$root/tools/static_checks.sh"
    ;;
  sanitizers)
    echo "== sanitizer build and tests"
    "$root/tools/build.sh" asan
    ctest --preset asan -j"$(nproc)"
    ;;
  threads)
    echo "== the card link under ThreadSanitizer"
    "$root/tools/build.sh" tsan
    ctest --preset tsan -j"$(nproc)"
    ;;
  fuzz)
    echo "== fuzzing the card protocol"
    FUZZ_SECONDS=${FUZZ_SECONDS:-30} "$root/tools/fuzz.sh"
    ;;
  windows)
    echo "== Windows cross-compile"
    "$root/tools/check_windows.sh"
    ;;
  package)
    echo "== Debian package"
    [[ -x "$root/build/bin/moxpanel" ]] || "$root/tools/build.sh" default
    BUILD_DIR="$root/build" "$root/tools/package_check.sh"
    ;;
  *)
    echo "test: unknown step $step" >&2
    exit 2
    ;;
  esac
done

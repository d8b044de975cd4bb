#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the normal build (build/) and its test suite, benchmarks' smoke runs included;
#   2. clang-format and clang-tidy over the sources;
#   3. a second build with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan/) and the whole test suite again under it;
#   4. the card protocol fuzz target under libFuzzer for FUZZ_SECONDS (60);
#   5. the 32-bit Windows cross-compile of the driver module and adcard.dll;
#   6. the Debian package: built, installed with dpkg -i, and started.
# MOX_TEST_STEPS picks steps, e.g. MOX_TEST_STEPS="tests" for the first only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
steps=${MOX_TEST_STEPS:-"tests static sanitizers fuzz windows package"}
export QT_QPA_PLATFORM=offscreen

"$root/tools/setup.sh"

for step in $steps; do
  case $step in
  tests)
    echo "== build and tests"
    BUILD_DIR="$root/build" "$root/tools/build.sh"
    (cd "$root/build" && ctest --output-on-failure -j"$(nproc)" --timeout 300)
    ;;
  static)
    echo "== static checks"
    [[ -f "$root/build/compile_commands.json" ]] || BUILD_DIR="$root/build" "$root/tools/build.sh"
    BUILD_DIR="$root/build" "$root/tools/static_checks.sh"
    ;;
  sanitizers)
    echo "== sanitizer build and tests"
    BUILD_DIR="$root/build-asan" BUILD_TYPE=Debug "$root/tools/build.sh" -DMOX_SANITIZE=ON -DMOX_BUILD_BENCHMARKS=OFF
    (cd "$root/build-asan" &&
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j"$(nproc)" --timeout 600)
    ;;
  fuzz)
    echo "== fuzzing the card protocol"
    FUZZ_SECONDS=${FUZZ_SECONDS:-60} "$root/tools/fuzz.sh"
    ;;
  windows)
    echo "== Windows cross-compile"
    "$root/tools/check_windows.sh"
    ;;
  package)
    echo "== Debian package"
    [[ -x "$root/build/bin/moxpanel" ]] || BUILD_DIR="$root/build" "$root/tools/build.sh"
    BUILD_DIR="$root/build" "$root/tools/package_check.sh"
    ;;
  *)
    echo "test: unknown step $step" >&2
    exit 2
    ;;
  esac
done

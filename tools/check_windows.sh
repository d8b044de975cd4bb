#!/usr/bin/env bash
# Cross-compiles the driver module and the virtual card for 32-bit Windows
# with MinGW-w64 (build-win32/) and checks that adcard.dll exports every
# entry under the decorated stdcall name the driver module looks up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win32
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release > "$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build"
exports=$(i686-w64-mingw32-objdump -p "$build/bin/adcard.dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p')
missing=0
while read -r name; do
  grep -q "\] $name\$" <<<"$exports" || { echo "adcard.dll does not export $name" >&2; missing=1; }
done < <(grep -oE 'MOX_ENTRY\([A-Za-z_]+, [0-9]+' "$root/driver/DllDef.cpp" |
         sed -E 's/MOX_ENTRY\(([A-Za-z_]+), ([0-9]+)/_\1@\2/')
count=$(grep -c '\] _' <<<"$exports" || true)
[[ $missing -eq 0 && $count -eq 24 ]] || { echo "windows: expected the 24 decorated exports, found $count" >&2; exit 1; }
grep -q "DLL Name: adcard.dll" < <(i686-w64-mingw32-objdump -p "$build/bin/driver_probe.exe") &&
  { echo "windows: driver_probe.exe must load adcard.dll at run time, not link it" >&2; exit 1; }
echo "windows: adcard.dll exports the 24 decorated entries; driver_probe.exe built"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the driver module, the virtual card and the driver probe
# for 32-bit Windows with MinGW-w64 (the win32 preset, build-win32/) and
# checks that adcard.dll exports exactly the decorated stdcall names that
# the driver module looks up: both sides come from the one entry list, the
# exports through the generated .def file, the names the probe asks for
# computed by the compiler from the entries' parameter types.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win32
cd "$root"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --preset win32 > "$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build --preset win32

dll=$build/bin/adcard.dll
probe=$build/bin/driver_probe.exe
exported=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' |
           grep -oE '\] _[A-Za-z_0-9]+@[0-9]+$' | sed 's/^\] //' | sort)
# The probe's constant data, not its symbol table.
i686-w64-mingw32-objcopy -O binary --only-section=.rdata "$probe" "$log"
looked_up=$(strings -n 4 "$log" | grep -E '^_[A-Za-z_0-9]+@[0-9]+$' | sort -u)
count=$(wc -l <<<"$looked_up")
if [[ $exported != "$looked_up" ]]; then
  echo "windows: adcard.dll's exports and the names driver_probe.exe looks up differ:" >&2
  diff <(echo "$exported") <(echo "$looked_up") >&2 || true
  exit 1
fi
listed=$(grep -cE '^\s*X\(' driver/adcard_entries.h)
[[ $count -eq $listed ]] || { echo "windows: $count decorated names for $listed listed entries" >&2; exit 1; }
grep -q "DLL Name: adcard.dll" < <(i686-w64-mingw32-objdump -p "$probe") &&
  { echo "windows: driver_probe.exe must load adcard.dll at run time, not link it" >&2; exit 1; }
echo "windows: adcard.dll exports the $count decorated entries driver_probe.exe looks up ($(head -1 <<<"$exported") ...)"

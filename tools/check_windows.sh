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
for exe in "$probe" "$build/bin/moxctl.exe"; do
  grep -q "DLL Name: adcard.dll" < <(i686-w64-mingw32-objdump -p "$exe") &&
    { echo "windows: $(basename "$exe") must load adcard.dll at run time, not link it" >&2; exit 1; }
done
echo "windows: adcard.dll exports the $count decorated entries driver_probe.exe looks up ($(head -1 <<<"$exported") ...)"
echo "windows: moxctl.exe built"

# The programs run under Wine where this machine can run 32-bit programs.
# Wine's first program hands its output pipe to Wine's background processes:
# a server started first, and ended last, keeps the callers from waiting.
if ! command -v wine > /dev/null; then
  echo "windows: not run: Wine is not installed (the 32-bit Windows programs are compiled and checked only)"
  exit 0
fi
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
if ! wine cmd /c echo wine-runs < /dev/null 2> /dev/null | grep -q wine-runs; then
  echo "windows: not run: Wine cannot start a 32-bit program on this machine ($(wine --version 2>&1 | head -1))"
  exit 0
fi
wineserver -p
trap 'wineserver -k 2>/dev/null || true; rm -f "$log"' EXIT
wineboot --init > /dev/null 2>&1 || true
bin=$build/bin
out=$(cd "$bin" && wine driver_probe.exe < /dev/null | tr -d '\r')
grep -q "card 7710" <<<"$out" || { echo "windows: driver_probe.exe under Wine: $out" >&2; exit 1; }
out=$(cd "$bin" && wine moxctl.exe info < /dev/null | tr -d '\r')
grep -q "card 7710" <<<"$out" || { echo "windows: moxctl.exe info under Wine: $out" >&2; exit 1; }
(cd "$bin" && wine moxctl.exe selftest < /dev/null | tr -d '\r' > "$log") ||
  { cat "$log" >&2; echo "windows: moxctl.exe selftest under Wine failed" >&2; exit 1; }
# A driver in the current directory only is not loaded.
elsewhere=$(mktemp -d)
cp "$bin/moxctl.exe" "$elsewhere/"
status=0
(cd "$bin" && wine "$elsewhere/moxctl.exe" info < /dev/null > /dev/null 2>&1) || status=$?
rm -rf "$elsewhere"
[[ $status -eq 3 ]] || { echo "windows: moxctl.exe loaded adcard.dll from the current directory ($status)" >&2; exit 1; }
echo "windows: under Wine, driver_probe.exe and moxctl.exe read card 7710, moxctl.exe selftest passes, and adcard.dll is not taken from the current directory"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-compiles the driver module, the virtual card, the driver probe,
# moxctl, the emulator and the driver bridge for 32-bit Windows with
# MinGW-w64 (the win32 preset, build-win32/) and checks that adcard.dll
# exports exactly the decorated stdcall names that the driver module looks
# up: both sides come from the one entry list, the exports through the
# generated .def file, the names the probe asks for computed by the compiler
# from the entries' parameter types. Where Wine can run 32-bit programs, the
# programs and the Qt-free test suites then run under it, and the Linux
# programs are tested against the driver bridge under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-win32
cd "$root"
# Everything this script starts or creates, stopped and removed on every way
# out, a failed check included.
work=$(mktemp -d)
log=$work/log
emulator_pid=
bridge_pid=
log_pid=
wine_started=
cleanup() {
  local pid
  for pid in $log_pid $emulator_pid $bridge_pid; do kill "$pid" 2> /dev/null || true; done
  if [[ -n $wine_started ]]; then
    [[ -n $bridge_pid ]] && { wine taskkill /f /im mox-driver-bridge.exe > /dev/null 2>&1 || true; }
    wineserver -k 2> /dev/null || true
  fi
  for pid in $log_pid $emulator_pid $bridge_pid; do wait "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
cmake --preset win32 > "$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build --preset win32

bin=$build/bin
dll=$bin/adcard.dll
probe=$bin/driver_probe.exe
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
for exe in "$probe" "$build/bin/moxctl.exe" "$build/bin/mox-driver-bridge.exe"; do
  grep -q "DLL Name: adcard.dll" < <(i686-w64-mingw32-objdump -p "$exe") &&
    { echo "windows: $(basename "$exe") must load adcard.dll at run time, not link it" >&2; exit 1; }
done
echo "windows: adcard.dll exports the $count decorated entries driver_probe.exe looks up ($(head -1 <<<"$exported") ...)"
echo "windows: moxctl.exe, mox-driver-bridge.exe and mox-card-emulator.exe built"

# The Windows zip, left for the README's "Using a real card": the bridge,
# moxctl.exe, our adcard.dll to try them with, and a README.txt with Windows
# line endings, in one folder named after the version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || { echo "windows: no project version in $build/CMakeCache.txt" >&2; exit 1; }
zip_name=moxpanel-windows-$version
zip_file=$build/$zip_name.zip
zip_files=(mox-driver-bridge.exe moxctl.exe adcard.dll README.txt)
mkdir "$work/$zip_name"
for f in "${zip_files[@]:0:3}"; do i686-w64-mingw32-strip -o "$work/$zip_name/$f" "$bin/$f"; done
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/windows/README.txt > "$work/$zip_name/README.txt"
rm -f "$build/.partial.zip"
(cd "$work" && zip -q -X -r "$build/.partial.zip" "$zip_name")
mv "$build/.partial.zip" "$zip_file"
# What the zip holds, read back from it: each file once, nothing else, the
# programs Windows programs, README.txt with a CR before every LF.
listed=$(unzip -Z1 "$zip_file" | grep -v '/$' | sort)
wanted=$(printf "$zip_name/%s\n" "${zip_files[@]}" | sort)
if [[ $listed != "$wanted" ]]; then
  echo "windows: $zip_file holds other files than it should:" >&2
  diff <(echo "$wanted") <(echo "$listed") >&2 || true
  exit 1
fi
unzipped=$work/unzipped
unzip -q "$zip_file" -d "$unzipped"
zip_dir=$unzipped/$zip_name
for f in "${zip_files[@]:0:3}"; do
  file "$zip_dir/$f" | grep -q 'PE32 executable.*Intel 80386' ||
    { echo "windows: $f in the zip is no 32-bit Windows program: $(file -b "$zip_dir/$f")" >&2; exit 1; }
done
lines=$(wc -l < "$zip_dir/README.txt")
crlf=$(grep -c $'\r$' "$zip_dir/README.txt" || true)
((lines > 10 && crlf == lines)) || { echo "windows: README.txt has $crlf CRLF line ends in $lines lines" >&2; exit 1; }
grep -q "moxpanel for Windows $version" "$zip_dir/README.txt" || { echo "windows: README.txt lacks its version" >&2; exit 1; }
echo "windows: $zip_file: $(unzip -Z1 "$zip_file" | grep -v '/$' | xargs -n1 basename | tr '\n' ' ')"

# The programs run under Wine where this machine can run 32-bit programs.
# Wine's first program hands its output pipe to Wine's background processes:
# a server started first, and ended last, keeps the callers from waiting.
if ! command -v wine > /dev/null; then
  echo "windows: not run: Wine is not installed (the 32-bit Windows programs are compiled and checked only)"
  exit 0
fi
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
wine_started=1
wineserver -p > /dev/null 2>&1 || true
wineboot --init > /dev/null 2>&1 || true
# With wine64 alone a 32-bit program prints nothing and ends with status 0,
# and a machine without 32-bit support fails to start it: what the probe
# prints tells whether 32-bit programs run here at all.
out=$(cd "$bin" && wine driver_probe.exe < /dev/null 2>&1 | tr -d '\r')
if ! grep -q "card 7710" <<<"$out"; then
  if [[ -z $out ]] || grep -qiE "exec format error|wine32 is missing|cannot execute|bad exe format" <<<"$out"; then
    echo "windows: not run: Wine cannot start a 32-bit program on this machine ($(wine --version 2>&1 | head -1)): $out"
    exit 0
  fi
  echo "windows: driver_probe.exe under Wine: $out" >&2
  exit 1
fi
out=$(cd "$bin" && wine moxctl.exe info < /dev/null | tr -d '\r')
grep -q "card 7710" <<<"$out" || { echo "windows: moxctl.exe info under Wine: $out" >&2; exit 1; }
(cd "$bin" && wine moxctl.exe selftest < /dev/null | tr -d '\r' > "$log") ||
  { cat "$log" >&2; echo "windows: moxctl.exe selftest under Wine failed" >&2; exit 1; }
# A driver in the current directory only is not loaded.
elsewhere=$work/elsewhere
mkdir "$elsewhere"
cp "$bin/moxctl.exe" "$elsewhere/"
status=0
(cd "$bin" && wine "$elsewhere/moxctl.exe" info < /dev/null > /dev/null 2>&1) || status=$?
[[ $status -eq 3 ]] || { echo "windows: moxctl.exe loaded adcard.dll from the current directory ($status)" >&2; exit 1; }
out=$(cd "$zip_dir" && wine moxctl.exe info < /dev/null | tr -d '\r')
grep -q "card 7710" <<<"$out" || { echo "windows: moxctl.exe from the zip under Wine: $out" >&2; exit 1; }
echo "windows: under Wine, driver_probe.exe and moxctl.exe (also from the zip) read card 7710, moxctl.exe selftest passes, and adcard.dll is not taken from the current directory"

# The Qt-free suites and the driver module's Windows test, under Wine.
ctest --test-dir "$build" --output-on-failure > "$log" 2>&1 || { cat "$log" >&2; exit 1; }
echo "windows: under Wine, $(grep -oE '[0-9]+% tests passed.*' "$log" | head -1) (conversions, card protocol, driver module)"

# The Linux programs, against Windows programs under Wine over the card
# protocol: built here unless the tests step built them.
[[ -x $root/build/bin/moxctl && -x $root/build/bin/mox-card-emulator ]] || "$root/tools/build.sh" default > /dev/null
moxctl=$root/build/bin/moxctl

# adcard.dll reaches a card on the network as libadcard.so does: moxctl.exe
# under Wine on the Linux emulator.
emulator_out=$work/emulator.out
"$root/build/bin/mox-card-emulator" --port 0 --pc-address 10.1.2.3 > "$emulator_out" 2>&1 < /dev/null &
emulator_pid=$!
for _ in $(seq 50); do grep -q "listening on" "$emulator_out" && break; sleep 0.1; done
emulator_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$emulator_out")
out=$(cd "$bin" && MOX_CARD_ADDRESS=127.0.0.1:$emulator_port wine moxctl.exe info < /dev/null | tr -d '\r')
kill "$emulator_pid" 2> /dev/null || true
wait "$emulator_pid" 2> /dev/null || true
emulator_pid=
grep -q "10.1.2.3" <<<"$out" ||
  { echo "windows: moxctl.exe under Wine did not reach the emulator through MOX_CARD_ADDRESS: $out" >&2; exit 1; }
echo "windows: adcard.dll under Wine reaches the Linux emulator through MOX_CARD_ADDRESS"

# The bridge under Wine serving our adcard.dll, as the README has it run:
# from the folder of the Windows zip. On a fixed port so that it can be
# started again on the same one.
bridge_out=$work/bridge.out
start_bridge() {
  local port=$1
  : > "$bridge_out"
  (cd "$zip_dir" && exec wine mox-driver-bridge.exe --port "$port" > "$bridge_out" 2>&1 < /dev/null) &
  bridge_pid=$!
  for _ in $(seq 100); do grep -q "listening on" "$bridge_out" && break; sleep 0.1; done
  grep -q "listening on" "$bridge_out" || { cat "$bridge_out" >&2; echo "windows: the bridge did not start" >&2; exit 1; }
}
stop_bridge() {
  # The Windows process, not only the Wine loader that started it.
  kill "$bridge_pid" 2>/dev/null || true
  wine taskkill /f /im mox-driver-bridge.exe > /dev/null 2>&1 || true
  wait "$bridge_pid" 2>/dev/null || true
  bridge_pid=
}
port=$((20000 + RANDOM % 20000))
start_bridge "$port"
export MOX_CARD_ADDRESS=127.0.0.1:$port
out=$("$moxctl" info)
grep -q "card 7710" <<<"$out" || { echo "windows: moxctl through the bridge under Wine: $out" >&2; exit 1; }
"$moxctl" selftest > "$log" || { cat "$log" >&2; echo "windows: moxctl selftest through the bridge failed" >&2; exit 1; }
echo "windows: the bridge under Wine, from the zip, serves its adcard.dll: moxctl info reads card 7710, moxctl selftest passes (DA -> AI, DO -> DI)"

# The bridge killed in the middle of acquisition and started again: the
# log shows the gap and goes on with no new start.
csv=$work/log.csv
"$moxctl" log "$csv" --volts --interval 100 --duration 9 2> /dev/null &
log_pid=$!
sleep 3
stop_bridge
sleep 2
start_bridge "$port"
wait "$log_pid" || true
log_pid=
stop_bridge
unset MOX_CARD_ADDRESS
rows=$(grep -c '^20' "$csv" || true)
gap=$(awk -F, '/^20/ { if (last != "" && $2 - last > gap) gap = $2 - last; last = $2 } END { printf "%.1f", gap }' "$csv")
after=$(awk -F, '/^20/ { if (last != "" && $2 - last > 1) after = 0; after++; last = $2 } END { print after + 0 }' "$csv")
if ((after < 10)); then
  echo "windows: after the bridge came back, $after rows (of $rows, longest gap $gap s): acquisition did not go on" >&2
  exit 1
fi
echo "windows: the bridge under Wine killed and started again during a log: a gap of $gap s, then $after more rows with no new start"

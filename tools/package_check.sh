#!/usr/bin/env bash
# Builds the Debian package from build/, installs it with dpkg -i (as root),
# and starts the installed program: under the offscreen platform on a card
# emulator, checking that it reads the card's identity, and under Xvfb,
# checking that its window comes up. The package is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d)
emulator_pid=
cleanup() {
  [[ -n $emulator_pid ]] && kill "$emulator_pid" 2>/dev/null || true
  dpkg -r moxpanel > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls -t "$build"/moxpanel_*.deb | head -1)
echo "package: $(basename "$deb")"
dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qE 'libqt6widgets6' || { echo "package: Depends lacks Qt 6" >&2; exit 1; }
dpkg-deb -f "$deb" Depends | grep -qE 'fonts-wqy-zenhei|fonts-noto-cjk' || { echo "package: Depends lacks a CJK font" >&2; exit 1; }
dpkg -i "$deb" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
for f in /usr/bin/moxpanel /usr/bin/mox-card-emulator /usr/lib/moxpanel/libadcard.so \
         /usr/share/applications/moxpanel.desktop /usr/share/icons/hicolor/scalable/apps/moxpanel.svg; do
  [[ -f $f ]] || { echo "package: $f not installed" >&2; exit 1; }
done
if command -v desktop-file-validate > /dev/null; then desktop-file-validate /usr/share/applications/moxpanel.desktop; fi

# 1. Offscreen, on the installed emulator: the identity request is answered.
/usr/bin/mox-card-emulator --port 0 --trace 1 > "$work/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do grep -q listening "$work/emulator.log" && break; sleep 0.1; done
port=$(sed -nE 's/listening on .*:([0-9]+)/\1/p' "$work/emulator.log")
status=0
(cd "$work" && MOX_CARD_ADDRESS=127.0.0.1:$port QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/moxpanel) \
  > "$work/program.log" 2>&1 || status=$?
[[ $status -eq 124 ]] || { echo "package: the installed program ended with $status" >&2; cat "$work/program.log"; exit 1; }
grep -q "command 70, reply 77 10 10 16 1" "$work/emulator.log" ||
  { echo "package: the installed program did not read the card identity" >&2; cat "$work/emulator.log"; exit 1; }
echo "package: the installed program read the identity of card 7710"

# 2. Under Xvfb with its own bundled virtual card: the window comes up.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  unset QT_QPA_PLATFORM
  /usr/bin/moxpanel & pid=$!
  wid=$(timeout 10 xdotool search --sync --name "MOX VB" | head -1) || true
  kill $pid
  [[ -n $wid ]]' || { echo "package: no window from the installed program" >&2; exit 1; }
echo "package: the installed program shows its window"

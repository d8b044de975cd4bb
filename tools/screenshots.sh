#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the program under Xvfb on the virtual card, presses "开始采集",
# "DA输出" and "开关量" as an operator would, and writes a screenshot of each
# of the three windows into docs/screenshots/ (or the folder given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshots}")
program=${MOXPANEL:-$root/build/bin/moxpanel}
mkdir -p "$out"
export OUT=$out PROGRAM=$program

xvfb-run -a -s "-screen 0 1280x800x24" bash -euo pipefail -c '
  unset QT_QPA_PLATFORM
  "$PROGRAM" & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  main=$(timeout 10 xdotool search --sync --name "^MOX VB" | head -1)
  xdotool windowmove --sync "$main" 20 20
  sleep 0.5
  # Client positions of the buttons, in pixels (twips / 15), at their middles.
  click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.3; }
  click 34 437    # cmdStart
  click 219 438   # cmdDAOut
  click 159 438   # cmdSW
  da=$(timeout 10 xdotool search --sync --name "^DA输出测试例程" | head -1)
  sw=$(timeout 10 xdotool search --sync --name "^开关量测试例程" | head -1)
  xdotool windowmove --sync "$da" 380 20
  xdotool windowmove --sync "$sw" 380 320
  sleep 1.5   # a few acquisition ticks and input polls
  import -window "$main" "$OUT/FrmMultiBuf.png"
  import -window "$da" "$OUT/frmDA.png"
  import -window "$sw" "$OUT/frmSW.png"
'
echo "screenshots: $out/FrmMultiBuf.png $out/frmDA.png $out/frmSW.png"

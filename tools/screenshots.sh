#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the program under Xvfb on the virtual card, presses "开始采集",
# "DA输出" and "开关量" as an operator would, and writes a screenshot of each
# of the three windows into docs/screenshots/ (or the folder given).
#   MOXPANEL_LANG=en       the English interface; files get the suffix -en
#   QT_SCALE_FACTOR=2      a high-DPI screen; files get the suffix @2x
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshots}")
program=${MOXPANEL:-$root/build/bin/moxpanel}
scale=${QT_SCALE_FACTOR:-1}
suffix=
[[ ${MOXPANEL_LANG:-} == en ]] && suffix+=-en
[[ $scale != 1 ]] && suffix+=@${scale}x
mkdir -p "$out"
export OUT=$out PROGRAM=$program SCALE=$scale SUFFIX=$suffix

xvfb-run -a -s "-screen 0 2560x1600x24" bash -euo pipefail -c '
  unset QT_QPA_PLATFORM
  "$PROGRAM" & pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  main=$(timeout 10 xdotool search --sync --name "^MOX VB" | head -1)
  xdotool windowmove --sync "$main" 20 20
  sleep 0.5
  # Client positions of the buttons, in pixels (twips / 15) at their middles,
  # times the scale factor.
  click() {
    xdotool mousemove --window "$main" $(awk -v s="$SCALE" -v x="$1" -v y="$2" "BEGIN { print int(x * s), int(y * s) }") click 1
    sleep 0.3
  }
  click 34 437    # cmdStart
  click 219 438   # cmdDAOut
  click 159 438   # cmdSW
  da=$(timeout 10 xdotool search --sync --name "^(DA输出测试例程|DA Output Test)$" | head -1)
  sw=$(timeout 10 xdotool search --sync --name "^(开关量测试例程|Digital I/O Test)$" | head -1)
  xdotool windowmove --sync "$da" $(awk -v s="$SCALE" "BEGIN { print int(380 * s), 20 }")
  xdotool windowmove --sync "$sw" $(awk -v s="$SCALE" "BEGIN { print int(380 * s), int(320 * s) }")
  sleep 1.5   # a few acquisition ticks and input polls
  import -window "$main" "$OUT/FrmMultiBuf$SUFFIX.png"
  import -window "$da" "$OUT/frmDA$SUFFIX.png"
  import -window "$sw" "$OUT/frmSW$SUFFIX.png"
'
echo "screenshots: $out/{FrmMultiBuf,frmDA,frmSW}$suffix.png"

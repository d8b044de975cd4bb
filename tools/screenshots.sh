#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the program under Xvfb on the virtual card, presses "开始采集",
# "DA输出" and "开关量" as an operator would, opens the trend window, and
# writes a screenshot of each window into docs/screenshots/ (or the folder given).
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
  # The trend window (Ctrl+T on the acquisition window) showing DA0 read
  # back on channel 0 before and after a change to 3.5 V, two sines and two
  # ramps, over a full 10 s span.
  click 27 411    # Label2: gives the acquisition window the keyboard
  xdotool key ctrl+t
  trend=$(timeout 10 xdotool search --sync --name "^(趋势图|Trend)$" | head -1)
  xdotool windowmove --sync "$trend" $(awk -v s="$SCALE" "BEGIN { print int(760 * s), 20 }")
  sleep 0.5
  clickin() {
    xdotool mousemove --window "$1" $(awk -v s="$SCALE" -v x="$2" -v y="$3" "BEGIN { print int(x * s), int(y * s) }") click 1
    sleep 0.3
  }
  clickin "$trend" 191 198   # the "none" preset, then six channels
  for xy in "18 21" "18 153" "78 21" "78 43" "140 21" "140 43"; do clickin "$trend" $xy; done
  sleep 4
  clickin "$da" 215 200      # DA(V) box: 3.5 V on DA0
  xdotool key ctrl+a type 3.5
  clickin "$da" 280 168      # its output button
  sleep "${TREND_SECONDS:-6}"
  xdotool mousemove --window "$trend" $(awk -v s="$SCALE" "BEGIN { print int(800 * s), int(200 * s) }")
  sleep 0.3
  import -window "$trend" "$OUT/frmTrend$SUFFIX.png"
'
echo "screenshots: $out/{FrmMultiBuf,frmDA,frmSW,frmTrend}$suffix.png"

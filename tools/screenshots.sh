#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the program under Xvfb on the virtual card, presses "开始采集",
# "DA输出" and "开关量" as an operator would, opens the trend window, and
# writes a screenshot of each window into docs/screenshots/ (or the folder given).
#   MOXPANEL_LANG=en       the English interface; files get the suffix -en
#   QT_SCALE_FACTOR=2      a high-DPI screen; files get the suffix @2x
#   MOXPANEL_SETUP=FILE    the trend with a setup file (moxpanel --setup FILE),
#                          its default channels and DA0 at 4.2 V, past AI0's
#                          warning in examples/bench-setup.toml; only the
#                          trend is written, with the suffix -setup
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshots}")
program=${MOXPANEL:-$root/build/bin/moxpanel}
scale=${QT_SCALE_FACTOR:-1}
suffix=
[[ ${MOXPANEL_LANG:-} == en ]] && suffix+=-en
[[ $scale != 1 ]] && suffix+=@${scale}x
setup=
if [[ -n ${MOXPANEL_SETUP:-} ]]; then
  setup=$(realpath "$MOXPANEL_SETUP")
  suffix+=-setup
fi
mkdir -p "$out"
export OUT=$out PROGRAM=$program SCALE=$scale SUFFIX=$suffix SETUP=$setup
export DA_VOLTS=${DA_VOLTS:-$([[ -n $setup ]] && echo 4.2 || echo 3.5)}

xvfb-run -a -s "-screen 0 2560x1600x24" bash -euo pipefail -c '
  unset QT_QPA_PLATFORM
  "$PROGRAM" ${SETUP:+--setup "$SETUP"} & pid=$!
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
  if [[ -z $SETUP ]]; then
    import -window "$main" "$OUT/FrmMultiBuf$SUFFIX.png"
    import -window "$da" "$OUT/frmDA$SUFFIX.png"
    import -window "$sw" "$OUT/frmSW$SUFFIX.png"
  fi
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
  if [[ -z $SETUP ]]; then
    clickin "$trend" 191 198   # the "none" preset, then six channels
    for xy in "18 21" "18 153" "78 21" "78 43" "140 21" "140 43"; do clickin "$trend" $xy; done
  fi
  sleep 4
  clickin "$da" 215 200      # DA(V) box: 3.5 V (or DA_VOLTS) on DA0
  xdotool key ctrl+a type "$DA_VOLTS"
  clickin "$da" 280 168      # its output button
  sleep "${TREND_SECONDS:-6}"
  xdotool mousemove --window "$trend" $(awk -v s="$SCALE" "BEGIN { print int(800 * s), int(200 * s) }")
  sleep 0.3
  import -window "$trend" "$OUT/frmTrend$SUFFIX.png"
'
if [[ -n $setup ]]; then
  echo "screenshot: $out/frmTrend$suffix.png"
else
  echo "screenshots: $out/{FrmMultiBuf,frmDA,frmSW,frmTrend}$suffix.png"
fi

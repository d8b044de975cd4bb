#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the program on the virtual card.
# Without a display it runs under Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
"$root/tools/build.sh"
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" || "${QT_QPA_PLATFORM:-}" == offscreen ]]; then
  exec "$root/build/bin/moxpanel"
fi
echo "run: no display; starting under Xvfb (see README for VNC or screenshots)"
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/bin/moxpanel"

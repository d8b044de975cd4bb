#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A program of the build tree, copied where its own library folder is not,
# and started from a folder that holds a libadcard.so, must not look there:
# the loader may search only where the program says, never the current
# folder (an empty element of a RUNPATH means the current folder).
#   runpath_current_folder.sh LIBADCARD MOXCTL MOXPANEL BRIDGE PYTHON MODULE
set -euo pipefail
library=$1 moxctl=$2 moxpanel=$3 bridge=$4 python=$5 module=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/python" "$work/here"
cp "$library" "$work/here/libadcard.so"
cp "$moxctl" "$moxpanel" "$bridge" "$work/bin/"
cp "$module" "$work/python/"
unset LD_LIBRARY_PATH MOX_CARD_ADDRESS
export QT_QPA_PLATFORM=offscreen

# What the loader did while the program opened the driver library.
loading() {
  (cd "$work/here" && LD_DEBUG=libs timeout 5 "$@" 2>&1 >/dev/null) || true
}

failed=0
check() {
  local name=$1 output=$2
  if ! grep -q "find library=libadcard.so" <<<"$output"; then
    echo "FAIL: $name did not look for libadcard.so at all"
    failed=1
  elif grep -q "trying file=libadcard.so" <<<"$output"; then
    echo "FAIL: $name looks for libadcard.so in the current folder"
    failed=1
  else
    echo "ok: $name"
  fi
}

check moxctl "$(loading "$work/bin/moxctl" info)"
check moxpanel "$(loading timeout 3 "$work/bin/moxpanel")"
check mox-driver-bridge "$(loading timeout 3 "$work/bin/mox-driver-bridge" --port 0)"
check moxcard "$(loading env PYTHONPATH="$work/python" "$python" -P -c 'import moxcard; moxcard.open()')"
exit $failed

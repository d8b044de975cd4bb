#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from build/ and checks it without installing it
# on this machine: lintian must find no error; the package is unpacked into
# a throwaway folder (dpkg -x) and the program is started from there, under
# the offscreen platform on the packaged card emulator (it must read the
# card's identity) and under Xvfb on its bundled virtual card (its window
# must come up). A copy of moxpanel installed on this machine is not touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
work=$(mktemp -d)
emulator_pid=
cleanup() {
  [[ -n $emulator_pid ]] && kill "$emulator_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
deb=$(ls -t "$build"/moxpanel_*.deb | head -1)
echo "package: $(basename "$deb"), checked in $work (nothing is installed on this machine)"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || { echo "package: Depends lacks Qt 6" >&2; exit 1; }
grep -qE 'fonts-wqy-zenhei|fonts-noto-cjk' <<<"$depends" || { echo "package: Depends lacks a CJK font" >&2; exit 1; }
if dpkg-deb -I "$deb" | grep -qE '^ +(postinst|postrm) '; then
  echo "package: it has maintainer scripts; a private library folder needs none" >&2
  exit 1
fi
lintian --fail-on error "$deb" 2>&1 | tee "$work/lintian.log"
# Every program has its manual page: lintian names one that has none.
if grep -E ' no-manual-page ' "$work/lintian.log" >&2; then
  echo "package: a program without its manual page" >&2
  exit 1
fi
echo "package: lintian reports no error and no program without a manual page"

root_dir=$work/root
dpkg -x "$deb" "$root_dir"
usr=$root_dir/usr
for f in bin/moxpanel bin/moxctl bin/mox-card-emulator bin/mox-driver-bridge share/applications/moxpanel.desktop \
         share/icons/hicolor/scalable/apps/moxpanel.svg share/doc/moxpanel/copyright \
         share/doc/moxpanel/changelog.Debian.gz; do
  [[ -f $usr/$f ]] || { echo "package: /usr/$f missing" >&2; exit 1; }
done
compgen -G "$usr/lib/*/moxpanel/libadcard.so" > /dev/null || compgen -G "$usr/lib/moxpanel/libadcard.so" > /dev/null ||
  { echo "package: the bundled card driver is missing" >&2; exit 1; }
if command -v desktop-file-validate > /dev/null; then desktop-file-validate "$usr/share/applications/moxpanel.desktop"; fi

# The manual pages render; moxctl's completion offers what the packaged
# moxctl's help lists; every link of the packaged documents reaches a file
# of the package.
for program in "$usr"/bin/*; do
  page=$usr/share/man/man1/$(basename "$program").1.gz
  [[ -f $page ]] || { echo "package: no manual page for $(basename "$program")" >&2; exit 1; }
  MANWIDTH=80 man -l "$page" > "$work/page.txt" 2> "$work/page.err" && [[ ! -s $work/page.err ]] &&
    grep -q '^DESCRIPTION' "$work/page.txt" ||
    { echo "package: $page does not render" >&2; cat "$work/page.err" >&2; exit 1; }
done
echo "package: manual pages for $(ls "$usr/share/man/man1" | tr '\n' ' ')"
"$root/packaging/completion/completion_test.sh" "$usr/bin/moxctl" "$usr/share/bash-completion/completions/moxctl" \
  > "$work/completion.log" || { cat "$work/completion.log" >&2; echo "package: moxctl's completion" >&2; exit 1; }
echo "package: moxctl's completion offers every sub-command and option of the packaged moxctl"
links=0
for doc in "$usr"/share/doc/moxpanel/*.md; do
  while read -r target; do
    links=$((links + 1))
    [[ -e $(dirname "$doc")/$target ]] || { echo "package: $(basename "$doc") links to $target, not in the package" >&2; exit 1; }
  done < <(grep -oE '\]\([^)# ]+[^) ]*\)' "$doc" | sed -E 's/^\]\(//; s/\)$//; s/#.*//' | grep -vE '^[a-z]+:')
done
((links > 0)) || { echo "package: no link found in the packaged documents" >&2; exit 1; }
echo "package: the $links links of the packaged documents reach files of the package"
"$root/examples/systemd/verify.sh" "$usr/bin/moxctl"

# 1. Offscreen, on the packaged emulator: the identity request is answered.
"$usr/bin/mox-card-emulator" --port 0 --trace > "$work/emulator.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do grep -q listening "$work/emulator.log" && break; sleep 0.1; done
port=$(sed -nE 's/listening on .*:([0-9]+)/\1/p' "$work/emulator.log")
status=0
(cd "$work" && MOX_CARD_ADDRESS=127.0.0.1:$port QT_QPA_PLATFORM=offscreen timeout 3 "$usr/bin/moxpanel") \
  > "$work/program.log" 2>&1 || status=$?
[[ $status -eq 124 ]] || { echo "package: the packaged program ended with $status" >&2; cat "$work/program.log"; exit 1; }
grep -q "command 70, reply 77 10 10 16 1" "$work/emulator.log" ||
  { echo "package: the packaged program did not read the card identity" >&2; cat "$work/emulator.log"; exit 1; }
echo "package: the packaged program read the identity of card 7710"

# 2. moxctl from the package, on the bundled virtual card: its self-test passes.
"$usr/bin/moxctl" selftest --junit "$work/selftest.xml" > "$work/selftest.log" 2>&1 ||
  { echo "package: the packaged moxctl selftest failed" >&2; cat "$work/selftest.log"; exit 1; }
grep -q 'failures="0"' "$work/selftest.xml" || { echo "package: no passing JUnit report from moxctl" >&2; exit 1; }
echo "package: the packaged moxctl passes its self-test on the bundled virtual card"

# 2b. The Python module from the package, with the system's python3, on the
# bundled virtual card (found through the module's RUNPATH).
PYTHONPATH=$(echo "$usr"/lib/python3/dist-packages) /usr/bin/python3 -P -c \
  "import moxcard; c = moxcard.open(); print(c.identity, c.read().shape)" > "$work/python.log" 2>&1 ||
  { echo "package: the packaged moxcard module does not import" >&2; cat "$work/python.log"; exit 1; }
grep -q "card 7710.*(32,)" "$work/python.log" || { echo "package: no reading from the packaged moxcard" >&2; exit 1; }
echo "package: the packaged moxcard module reads card 7710 from the system's python3"

# 3. Under Xvfb with its own bundled virtual card: the window comes up.
PROGRAM=$usr/bin/moxpanel xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  unset QT_QPA_PLATFORM
  "$PROGRAM" & pid=$!
  wid=$(timeout 10 xdotool search --sync --name "MOX VB" | head -1) || true
  kill $pid
  [[ -n $wid ]]' || { echo "package: no window from the packaged program" >&2; exit 1; }
echo "package: the packaged program shows its window"

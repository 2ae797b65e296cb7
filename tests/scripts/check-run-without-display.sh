#!/usr/bin/env bash
# run.sh on a machine without a display: after its build it says so in one line and
# ends with a failure instead of starting the window. The set-up steps are stubbed: a
# copy of run.sh runs beside a common.sh that installs and builds nothing.
set -euo pipefail
SRC="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/scripts" "$WORK/build/bin"
cp "$SRC/run.sh" "$WORK/"
printf '%s\n' 'ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"' \
    'install_missing() { :; }' 'build() { :; }' 'nonfree_enabled() { :; }' \
    'RHVOICE_PACKAGES=()' >"$WORK/scripts/common.sh"
printf '#!/bin/sh\ntouch "%s/started"\n' "$WORK" >"$WORK/build/bin/parlenmaker"
chmod +x "$WORK/build/bin/parlenmaker"
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY bash "$WORK/run.sh" >"$WORK/out" 2>&1 || rc=$?
cat "$WORK/out"
[ "$rc" -ne 0 ] || { echo "FAIL: run.sh ended with success"; exit 1; }
[ ! -e "$WORK/started" ] || { echo "FAIL: the window was started"; exit 1; }
[ "$(wc -l <"$WORK/out")" -eq 1 ] && grep -q "display" "$WORK/out" &&
    grep -q "build/bin/parlen-say" "$WORK/out" || { echo "FAIL: not the one-line message"; exit 1; }
echo "PASS"

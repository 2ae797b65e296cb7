#!/usr/bin/env bash
# run.sh without a display says so in one line and ends with a failure instead of
# starting the window into Qt's abort; with a display it starts the window. The copy
# runs in a scratch tree whose package query, build and program are stand-ins.
set -euo pipefail
ROOT="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/tree/scripts" "$WORK/tree/build/bin" "$WORK/tools"
cp "$ROOT/run.sh" "$WORK/tree/"
cp "$ROOT/scripts/common.sh" "$WORK/tree/scripts/"
printf '#!/bin/sh\necho "install ok installed"\n' >"$WORK/tools/dpkg-query"
printf '#!/bin/sh\nexit 0\n' >"$WORK/tools/cmake"
printf '#!/bin/sh\necho started >"%s/started"\n' "$WORK" >"$WORK/tree/build/bin/parlenmaker"
chmod +x "$WORK/tools/"* "$WORK/tree/build/bin/parlenmaker"

rc=0
env -u DISPLAY -u WAYLAND_DISPLAY PATH="$WORK/tools:$PATH" \
    bash "$WORK/tree/run.sh" >"$WORK/out" 2>"$WORK/err" || rc=$?
[ "$rc" -ne 0 ] || { echo "FAIL: run.sh without a display ended with 0"; exit 1; }
[ ! -e "$WORK/started" ] || { echo "FAIL: the window was started without a display"; exit 1; }
[ "$(wc -l <"$WORK/err")" -eq 1 ] && grep -q 'display' "$WORK/err" &&
    grep -q 'build/bin/parlen-say' "$WORK/err" ||
    { echo "FAIL: not one line naming the display and parlen-say:"; cat "$WORK/err"; exit 1; }

env -u WAYLAND_DISPLAY DISPLAY=:7 PATH="$WORK/tools:$PATH" bash "$WORK/tree/run.sh" >/dev/null
[ -e "$WORK/started" ] || { echo "FAIL: run.sh with a display did not start the window"; exit 1; }
echo "run.sh: $(cat "$WORK/err")"

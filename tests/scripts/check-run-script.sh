#!/usr/bin/env bash
# run.sh without a display says so in one line and fails instead of starting the window
# into Qt's abort. A scratch copy runs, with stand-ins for the package query, the build
# and the window.
set -euo pipefail
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/scripts" "$WORK/build/bin" "$WORK/tools"
cp "$1/run.sh" "$WORK/" && cp "$1/scripts/common.sh" "$WORK/scripts/"
printf '#!/bin/sh\necho "install ok installed"\n' >"$WORK/tools/dpkg-query"
printf '#!/bin/sh\n' | tee "$WORK/tools/cmake" >"$WORK/build/bin/parlenmaker"
chmod +x "$WORK/tools/"* "$WORK/build/bin/parlenmaker"
rc=0
env -u DISPLAY -u WAYLAND_DISPLAY PATH="$WORK/tools:$PATH" bash "$WORK/run.sh" 2>"$WORK/err" || rc=$?
[ "$rc" -ne 0 ] && [ "$(wc -l <"$WORK/err")" -eq 1 ] && grep -q 'build/bin/parlen-say' "$WORK/err" ||
    { echo "FAIL: run.sh without a display ended with $rc:"; cat "$WORK/err"; exit 1; }

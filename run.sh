#!/usr/bin/env bash
# Installs what is missing, builds and starts Parlen Maker.
source "$(dirname "$0")/scripts/common.sh"
install_missing "${RUNTIME_PACKAGES[@]}"
# RHVoice only from a non-free section the machine already has: this script never adds one.
if nonfree_enabled; then install_missing "${RHVOICE_PACKAGES[@]}"; else nonfree_hint; fi
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -x "$ROOT/build/bin/parlenmaker" ]; then
    # Without a display the window cannot open; Qt would end in an abort message.
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No X11 or Wayland display found (DISPLAY and WAYLAND_DISPLAY are unset), so the window cannot open; build/bin/parlen-say speaks and renders audio files without one." >&2
        exit 1
    fi
    exec "$ROOT/build/bin/parlenmaker"
else
    exec "$ROOT/build/bin/parlen-say" --list
fi

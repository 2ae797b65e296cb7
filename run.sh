#!/usr/bin/env bash
# Installs what is missing, builds and starts Parlen Maker.
source "$(dirname "$0")/scripts/common.sh"
install_missing "${RUNTIME_PACKAGES[@]}"
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ -x "$ROOT/build/bin/parlenmaker" ]; then
    exec "$ROOT/build/bin/parlenmaker"
else
    exec "$ROOT/build/bin/parlen-say" --list
fi

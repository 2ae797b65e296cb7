#!/usr/bin/env bash
# Installs what is missing (test tools included), builds and runs the whole suite
# headless, with a private sound server that this script starts and stops.
source "$(dirname "$0")/scripts/common.sh"
install_missing "${RUNTIME_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
BUILD_DIR="${PARLEN_BUILD_DIR:-build}"
build "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLEN_WERROR=ON -DPARLEN_REQUIRE_TEST_TOOLS=ON \
    ${PARLEN_CMAKE_ARGS:-}

source "$ROOT/scripts/sound-server.sh"
sound_server_start "$ROOT/$BUILD_DIR/sound"
trap sound_server_stop EXIT

export QT_QPA_PLATFORM=offscreen
cd "$ROOT/$BUILD_DIR"
ctest --output-on-failure -j2 ${PARLEN_CTEST_ARGS:-}

#!/usr/bin/env bash
# Installs what is missing (test tools included), builds and runs the whole suite
# headless, with a private sound server that this script starts and stops. The closing
# note gives the time of each stage and of the longest checks.
source "$(dirname "$0")/scripts/common.sh"
BUILD_DIR="${PARLEN_BUILD_DIR:-build}"
CTEST_LOG="$ROOT/$BUILD_DIR/ctest-times.log"

closing_note() {
    local rc=$?
    sound_server_stop 2>/dev/null || true
    # The checks of 20 s or more, the longest first, from ctest's own figures.
    if [ -f "$CTEST_LOG" ]; then
        local long
        long="$(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.*[^0-9]* ([0-9]+)\.[0-9]+ sec$/\2 \1/p' \
            "$CTEST_LOG" | sort -rn | awk '$1 >= 20 { printf "%s%s %d s", sep, $2, $1; sep = ", " }')"
        [ -z "$long" ] || echo "Longest checks: $long"
    fi
    stage_report
    exit $rc
}
trap closing_note EXIT

# The suite tests RHVoice's voices too: non-free is enabled for them where it is not.
enable_nonfree
stage install install_missing "${RUNTIME_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
    "${RHVOICE_PACKAGES[@]}" "${RHVOICE_TEST_PACKAGES[@]}"
# Line tables only (-g1): a failure's backtrace still names files and lines, and the
# build takes about a quarter less time than with full debug information.
stage configure configure_tree "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLEN_WERROR=ON \
    -DPARLEN_REQUIRE_TEST_TOOLS=ON "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" ${PARLEN_CMAKE_ARGS:-}
stage build build_tree "$BUILD_DIR"

source "$ROOT/scripts/sound-server.sh"
sound_server_start "$ROOT/$BUILD_DIR/sound"

export QT_QPA_PLATFORM=offscreen
run_suite() {
    cd "$ROOT/$BUILD_DIR"
    # Two checks per processor: most of them spend their time waiting on the sound
    # server, the X server or programs they started.
    # ctest's own exit status, not tee's.
    ctest --output-on-failure -j"$((2 * $(nproc)))" ${PARLEN_CTEST_ARGS:-} 2>&1 |
        tee "$CTEST_LOG"
    return "${PIPESTATUS[0]}"
}
rm -f "$CTEST_LOG"
stage suite run_suite

# Shared by the install and package checks: failing with a message, a sound server for
# the program's start-up phrase, and running an installed program until its start-up
# report.
set -euo pipefail

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The program says "1 2 3" at start; without a sound server it would stop at an error
# box. Under test.sh the private server is there already; otherwise start one.
ensure_sound_server() {
    local scratch="$1"
    if [ -z "${PULSE_SERVER:-}" ]; then
        # shellcheck source=/dev/null
        source "$PARLEN_SOURCE/scripts/sound-server.sh"
        sound_server_start "$scratch/sound" >/dev/null
        OWN_SOUND_SERVER=1
    fi
}
stop_own_sound_server() {
    [ -n "${OWN_SOUND_SERVER:-}" ] || return 0
    local pid="${SOUND_SERVER_PID:-}"
    sound_server_stop
    # It writes into the scratch folder until it has gone.
    for _ in $(seq 40); do [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
}

# Runs the program at $1 from another folder until it has started and reported what it
# found; the report lands in $2.
run_until_started() {
    local program="$1" report="$2" elsewhere
    elsewhere="$(mktemp -d)"
    local rc=0
    (cd "$elsewhere" && PARLEN_EXIT_AFTER_SHOW=1 QT_QPA_PLATFORM=offscreen \
        timeout 60 "$program" >"$report" 2>"$report.err") || rc=$?
    rmdir "$elsewhere"
    [ "$rc" -eq 0 ] || { cat "$report" "$report.err" >&2; fail "$program ended with $rc"; }
}

# Checks a start-up report against the read-me that should have been shown.
check_report() {
    local report="$1" readme="$2"
    # The read-me box holds one paragraph per line break, plus the last one.
    local lines=$(($(tr -cd '\n' <"$readme" | wc -c) + 1))
    local first
    first="$(head -n 1 "$readme" | tr -d '\r')"
    grep -qx "readme-lines: $lines" "$report" || fail "read-me not shown: $(grep readme "$report")"
    grep -qxF "readme-first-line: $first" "$report" || fail "read-me's first line differs"
    grep -qE '^caption: .+ - Parlen Maker [0-9]' "$report" ||
        fail "caption not read from the version block: $(grep caption "$report")"
    local count
    count="$(sed -n 's/^engines: //p' "$report")"
    [ "${count:-0}" -gt 0 ] || fail "no engines listed"
    [ "$(grep -c '^engine: ' "$report")" -eq "$count" ] || fail "engine count and list differ"
    grep -q '^engine: .* - espeak-ng$' "$report" || fail "no espeak-ng voice listed"
    grep -q '^engine: .* - flite$' "$report" || fail "no flite voice listed"
    grep -q '^engine: .* - festival$' "$report" || fail "no Festival voice listed"
    grep -qx 'status: ' "$report" || fail "status bar: $(grep status "$report")"
    grep -qx 'application: parlenmaker [0-9.]* org.parlenmaker.ParlenMaker' "$report" ||
        fail "$(grep '^application:' "$report")"
    grep -qE '^icon: [^ ]+ [1-9]' "$report" || fail "no window icon: $(grep '^icon' "$report")"
}

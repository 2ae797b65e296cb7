#!/usr/bin/env bash
# The test sound server script stops only what it started: a second start that finds
# a server already answering leaves it running when it stops, and the first stop
# ends it.
set -euo pipefail
ROOT="$1"
WORK="$(mktemp -d)"
trap 'kill "${OURS:-}" 2>/dev/null || true; rm -rf "$WORK"' EXIT
source "$ROOT/scripts/sound-server.sh"

sound_server_start "$WORK" >/dev/null
OURS="$SOUND_SERVER_PID"
[ -n "$OURS" ] && kill -0 "$OURS" || { echo "FAIL: the first start gave no server"; exit 1; }

# A second user of the same folder finds the server answering.
(
    sound_server_start "$WORK" >/dev/null
    [ -z "$SOUND_SERVER_PID" ] || { echo "FAIL: took over pid $SOUND_SERVER_PID"; exit 1; }
    sound_server_stop
)
sleep 0.3
kill -0 "$OURS" 2>/dev/null || { echo "FAIL: a stop ended a server it did not start"; exit 1; }
pactl info >/dev/null || { echo "FAIL: the server no longer answers"; exit 1; }

sound_server_stop
for _ in $(seq 50); do kill -0 "$OURS" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$OURS" 2>/dev/null; then echo "FAIL: the stop left its own server running"; exit 1; fi
echo "ok"

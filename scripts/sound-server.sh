# A private PulseAudio server with one null sink, for tests on machines without a
# sound card. Source this file, then sound_server_start DIR / sound_server_stop.
PARLEN_SINK=parlen_null

sound_server_start() {
    local dir="$1"
    mkdir -p "$dir/runtime" "$dir/config"
    chmod 700 "$dir/runtime"
    export XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    export PARLEN_SINK
    export PULSE_SINK="$PARLEN_SINK"
    SOUND_DIR="$dir"
    # A server left behind by a crash holds a stale pid file.
    if [ -f "$XDG_RUNTIME_DIR/pulse/pid" ] && ! pactl info >/dev/null 2>&1; then
        rm -f "$XDG_RUNTIME_DIR/pulse/pid"
    fi
    # Only a server started here is ours to stop; one that already answers is left be.
    SOUND_SERVER_PID=
    local started=
    if ! pactl info >/dev/null 2>&1; then
        pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n --use-pid-file=yes \
            --log-target="file:$dir/pulse.log" \
            --load="module-null-sink sink_name=$PARLEN_SINK rate=22050 channels=1 format=s16le" \
            --load="module-native-protocol-unix auth-anonymous=1"
        started=yes
    fi
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    if [ -n "$started" ]; then
        SOUND_SERVER_PID="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
    fi
    pactl set-default-sink "$PARLEN_SINK" || true
    # The null sink idles in long blocks; a silent keep-alive stream keeps first sound quick.
    pacat --latency-msec=100 --raw --format=s16le --rate=22050 --channels=1 \
        --device="$PARLEN_SINK" /dev/zero >/dev/null 2>&1 &
    SOUND_KEEPALIVE_PID=$!
    pactl suspend-sink "$PARLEN_SINK" 1 || true
    pactl suspend-sink "$PARLEN_SINK" 0 || true
    echo "Sound server ready (${SOUND_SERVER_PID:+pid $SOUND_SERVER_PID, }sink $PARLEN_SINK)"
}

sound_server_stop() {
    [ -n "${SOUND_KEEPALIVE_PID:-}" ] && kill "$SOUND_KEEPALIVE_PID" 2>/dev/null || true
    [ -n "${SOUND_SERVER_PID:-}" ] && kill "$SOUND_SERVER_PID" 2>/dev/null || true
    SOUND_KEEPALIVE_PID= SOUND_SERVER_PID=
}

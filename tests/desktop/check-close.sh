#!/usr/bin/env bash
# Closing the window while it renders a long text into a WAV file, again and again on a
# machine kept busy: every close must end the program with exit code 0 within a short
# time and leave a valid WAV file of what was rendered (no file when the close came
# before the conversion began). The program is driven on a real
# X server (Xvfb) with the keyboard alone, as a person without a mouse would: Edit page,
# Load... the text, Save... the audio; the close comes as a window manager sends it.
# With --screen-reader the accessibility bus is up, the program's accessibility is on,
# and a client that listens to its events has read its window's tree, as a screen reader
# would; the text is then about 100 KB and the later closes come up to two seconds into
# the render.
#   check-close.sh [--screen-reader] BUILD_DIR SOURCE_DIR [CLOSES [BUSY_LOOPS]]
SCREEN_READER=
if [ "${1:-}" = --screen-reader ]; then
    SCREEN_READER=1
    shift
fi
BUILD="$(cd "$1" && pwd)"
PARLEN_SOURCE="$(cd "$2" && pwd)"
CLOSES="${3:-20}"
BUSY="${4:-2}"
source "$(dirname "$0")/check-common.sh"
for tool in Xvfb xdotool soxi; do command -v "$tool" >/dev/null || fail "$tool is not installed"; done
WM_CLOSE="$BUILD/tests/desktop/wm_close"
[ -x "$WM_CLOSE" ] || fail "$WM_CLOSE is not built"
# What a close may take, from the message to the end of the process, in milliseconds.
LIMIT_MS="${PARLEN_CLOSE_LIMIT_MS:-2000}"
# With a budget in seconds, no further run starts once it is spent and two closes (one
# early, one during the render) have been taken: on a slow machine the check ends with
# fewer closes instead of being killed with nothing said.
BUDGET_S="${PARLEN_CLOSE_BUDGET_S:-}"
check_start=$(date +%s)

scratch="$(mktemp -d)"
xvfb_pid=
bus_pid=
reader_pid=
program_pid=
busy_pids=()
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    for pid in "${busy_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -z "$reader_pid" ] || kill "$reader_pid" 2>/dev/null || true
    # The accessibility bus ends with the session bus it was started from.
    [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    stop_own_sound_server
    rm -rf "$scratch"
}
trap cleanup EXIT
ensure_sound_server "$scratch"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" \
    2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
[ -s "$scratch/display" ] || { cat "$scratch/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n 1 "$scratch/display")"

# A text that takes far longer to render than a close may take.
copies=100
[ -z "$SCREEN_READER" ] || copies=20
for _ in $(seq "$copies"); do cat "$PARLEN_SOURCE/app/readme.txt"; done >"$scratch/long.txt"

if [ -n "$SCREEN_READER" ]; then
    [ -x /usr/libexec/at-spi-bus-launcher ] || fail "at-spi2-core is not installed"
    command -v dbus-daemon >/dev/null || fail "dbus-daemon is not installed"
    # A session bus of its own, which starts the accessibility bus when asked for it.
    dbus-daemon --session --nofork --print-address=3 3>"$scratch/bus" 2>"$scratch/bus.log" &
    bus_pid=$!
    for _ in $(seq 100); do [ -s "$scratch/bus" ] && break; sleep 0.05; done
    [ -s "$scratch/bus" ] || { cat "$scratch/bus.log"; fail "the session bus did not start"; }
    export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$scratch/bus")"
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    /usr/bin/python3 "$(dirname "$0")/screen_reader.py" parlenmaker >"$scratch/reader" \
        2>"$scratch/reader.err" &
    reader_pid=$!
    for _ in $(seq 200); do grep -qx listening "$scratch/reader" 2>/dev/null && break; sleep 0.05; done
    grep -qx listening "$scratch/reader" 2>/dev/null ||
        { cat "$scratch/reader.err"; fail "the accessibility client did not start"; }
fi
# Waits until the accessibility client has read the tree of the program's window.
tree_read() {
    [ -n "$SCREEN_READER" ] || return 0
    for _ in $(seq 200); do
        grep -q "^tree $program_pid " "$scratch/reader" && return 0
        kill -0 "$reader_pid" 2>/dev/null || break
        sleep 0.05
    done
    cat "$scratch/reader.err" >&2
    fail "run $run: the accessibility client did not read the window's tree"
}

# The window titled $1 of the program, or nothing after about $2 seconds or once the
# program has ended.
window_of() {
    local title="$1" tries=$(($2 * 20)) id
    for _ in $(seq "$tries"); do
        id="$(xdotool search --all --onlyvisible --pid "$program_pid" --name "$title" 2>/dev/null |
            head -n 1)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$program_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
gone() {
    for _ in $(seq $(($2 * 20))); do
        xdotool search --all --onlyvisible --pid "$program_pid" --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.05
    done
    return 1
}
keys() { xdotool key --delay 40 "$@"; }
# Presses Space on the focused button until the file dialog titled $1 is up: the button
# stays disabled while the start-up phrase is spoken, which a sanitized build beside the
# suite can stretch to half a minute.
open_dialog() {
    for _ in $(seq 40); do
        keys space
        window_of "$1" 1 >/dev/null && return 0
    done
    fail "the dialog '$1' did not open: $(xwininfo -root -children | grep -F '"')"
}
# Types a full file name into the open dialog titled $1 and confirms it.
choose_file() {
    local dialog
    dialog="$(window_of "$1" 5)" || fail "the dialog '$1' is not shown"
    sleep 0.3  # until it has the focus in its name box
    xdotool windowfocus "$dialog" 2>/dev/null || true
    xdotool type --delay 2 "$2"
    keys Return
    gone "$1" 10 || fail "the dialog '$1' stayed open: $(xwininfo -root -children | grep -F '"')"
    # Without a window manager nobody hands the focus back to the window.
    xdotool windowfocus "$window" 2>/dev/null || true
    sleep 0.2
}

for _ in $(seq "$BUSY"); do
    (while :; do :; done) &
    busy_pids+=($!)
done

# What the render has written so far: it writes into an unnamed file in the target's folder
# (or a hidden one beside it), which takes the target's name only once it is complete.
rendered_bytes() {
    local fd
    if [ -f "$1" ]; then stat -c %s "$1"; return; fi
    # One process per poll, whatever the number of open files: on a loaded machine every
    # process started costs the render time.
    fd="$(find /proc/"$program_pid"/fd -lname "$scratch/#*" -o \
        -lname "$scratch/.$(basename "$1").*" 2>/dev/null | head -n 1)"
    [ -n "$fd" ] && stat -L -c %s "$fd" 2>/dev/null || echo 0
}

# The time each step of a run took, told with its close: on a loaded machine it shows
# where the time went.
mark() {
    local now
    now=$(date +%s%N)
    steps+="$1 $(((now - step_start) / 100000000)) "
    step_start=$now
}
times=()
tried=0
lost=0
late=0
for run in $(seq "$CLOSES"); do
    if [ -n "$BUDGET_S" ] && [ "$run" -gt 2 ] && [ $(($(date +%s) - check_start)) -ge "$BUDGET_S" ]; then
        echo "the budget of $BUDGET_S s is spent: $((run - 1)) of $CLOSES closes tried"
        break
    fi
    tried=$run
    wav="$scratch/run$run.wav"
    steps=
    step_start=$(date +%s%N)
    (cd "$scratch" && QT_QPA_PLATFORM=xcb exec "$BUILD/bin/parlenmaker" \
        >"$scratch/out$run" 2>"$scratch/err$run") &
    program_pid=$!
    # How soon the window shows is not what this checks: a sanitized build beside the
    # rest of the suite may take a minute to map it.
    if ! window="$(window_of ' - Parlen Maker ' 120)"; then
        kill -0 "$program_pid" 2>/dev/null && state="still running" || state="ended"
        fail "run $run: no window (the program has $state): $(tail -c 2000 "$scratch/err$run")"
    fi
    mark window
    sleep 1  # the start-up runs once the window is mapped
    tree_read
    # The start-up leaves the focus on the page tabs: Edit page, then Load... (third).
    keys ctrl+Tab Tab Tab Tab
    open_dialog "Load Text from File..."
    choose_file "Load Text from File..." "$scratch/long.txt"
    mark load
    # From Load... to the converter's Save... (the eleventh control on, past Lexicon...).
    keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab
    open_dialog "Save Audio to File..."
    choose_file "Save Audio to File..." "$wav"
    mark save
    # Every other close comes as soon as the dialog has gone, perhaps before the
    # conversion has begun (the box may still be laying the text out); the others while
    # the file grows, at once or a little later.
    early=$((run % 2))
    if [ "$early" = 0 ]; then
        wait_start=$(date +%s)
        while [ "$(rendered_bytes "$wav")" -le 44 ] && [ $(($(date +%s) - wait_start)) -lt 20 ]; do
            sleep 0.025
        done
        [ "$(rendered_bytes "$wav")" -gt 44 ] || fail "run $run: nothing rendered"
        if [ -n "$SCREEN_READER" ]; then sleep "$((RANDOM % 2)).$((RANDOM % 10))"; else sleep "0.$((RANDOM % 4))"; fi
    fi
    mark render
    start=$(date +%s%N)
    "$WM_CLOSE" "$window" || fail "run $run: the close message was not sent"
    code=
    # By the clock: on a busy machine the polls themselves take time.
    while kill -0 "$program_pid" 2>/dev/null &&
        [ $((($(date +%s%N) - start) / 1000000)) -lt "$LIMIT_MS" ]; do
        sleep 0.01
    done
    ms=$((($(date +%s%N) - start) / 1000000))
    if kill -0 "$program_pid" 2>/dev/null; then
        # Late, or lost: a close taken late still ends the program within seconds.
        for _ in $(seq 100); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done
        ms=$((($(date +%s%N) - start) / 1000000))
    fi
    if kill -0 "$program_pid" 2>/dev/null; then
        state="window shown"
        window_of ' - Parlen Maker ' 0 >/dev/null || state="window hidden"
        workers="$(cat /proc/"$program_pid"/task/*/children 2>/dev/null | wc -w)"
        # Counted, and the next close tried: how often a close is lost tells its cause.
        echo "close $run: LOST, still running ${ms} ms after the close ($state," \
            "$workers render workers; threads waiting in:" \
            "$(for t in /proc/"$program_pid"/task/*; do printf '%s ' "$(cat "$t/wchan" 2>/dev/null)"; done))" >&2
        lost=$((lost + 1))
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
        program_pid=
        rm -f "$wav"
        continue
    fi
    if [ "$ms" -ge "$LIMIT_MS" ]; then
        echo "close $run: LATE, the program ended $ms ms after the close" >&2
        late=$((late + 1))
    fi
    wait "$program_pid" || code=$?
    program_pid=
    [ -z "$code" ] || fail "run $run: exit code $code: $(cat "$scratch/err$run")"
    if [ "$early" = 1 ] && [ ! -e "$wav" ]; then
        times+=("$ms")
        echo "close $run: exit 0 after $ms ms, before the conversion began (no file); tenths of a second: $steps"
        continue
    fi
    samples="$(soxi -s "$wav" 2>/dev/null)" || fail "run $run: $wav is no valid WAV file"
    rate="$(soxi -r "$wav")"
    # A complete file: the header counts every sample the file holds (16-bit mono).
    [ "$((samples * 2 + 44))" -eq "$(stat -c %s "$wav")" ] ||
        fail "run $run: the header counts $samples samples, the file holds $(stat -c %s "$wav") bytes"
    [ "$early" = 1 ] || [ "$samples" -gt 0 ] || fail "run $run: no audio in the file"
    times+=("$ms")
    echo "close $run: exit 0 after $ms ms, $(((samples * 10 / rate))) tenths of a second of audio; tenths of a second: $steps"
    rm -f "$wav"
done
sorted="$(printf '%s\n' "${times[@]}" | sort -n)"
echo "${#times[@]} closes taken with $BUSY busy loops${SCREEN_READER:+ and a screen reader}: median $(echo "$sorted" | sed -n "$(((${#times[@]} + 1) / 2))p") ms," \
    "slowest $(echo "$sorted" | tail -n 1) ms; $(uptime | sed 's/.*load/load/')"
[ "$lost" -eq 0 ] && [ "$late" -eq 0 ] ||
    fail "of $tried closes $lost were lost and $late taken later than $LIMIT_MS ms"

#!/usr/bin/env bash
# The program on a real X server (Xvfb, no window manager): its window has the fixed
# 688 x 466 client area, sits in the middle of the screen, cannot be resized, carries the
# product title from the version block, the desktop entry's window class and an icon,
# shows the read-me and lists the engines in the catalogue's order with the first one
# chosen.
#   check-xvfb.sh BUILD_DIR SOURCE_DIR
BUILD="$(cd "$1" && pwd)"
PARLEN_SOURCE="$(cd "$2" && pwd)"
source "$(dirname "$0")/check-common.sh"
command -v Xvfb >/dev/null || fail "Xvfb is not installed (package xvfb)"
command -v xwininfo >/dev/null || fail "xwininfo is not installed (package x11-utils)"

scratch="$(mktemp -d)"
xvfb_pid=
program_pid=
cleanup() {
    [ -z "$program_pid" ] || kill "$program_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    stop_own_sound_server
    rm -rf "$scratch"
}
trap cleanup EXIT
ensure_sound_server "$scratch"

# Xvfb picks a free display and writes its number to the descriptor given.
SCREEN_W=1280 SCREEN_H=1024
Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp \
    3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
[ -s "$scratch/display" ] || { cat "$scratch/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$(head -n 1 "$scratch/display")"

# The program reports what it found and ends after a while, long enough to look at it.
# It also leaves pictures of both pages in the build folder.
shots="$BUILD/screenshots/xvfb"
rm -f "$shots"/*.png
(cd "$scratch" && PARLEN_EXIT_AFTER_SHOW=4000 PARLEN_SCREENSHOTS="$shots" QT_QPA_PLATFORM=xcb \
    exec "$BUILD/bin/parlenmaker" >"$scratch/report" 2>"$scratch/report.err") &
program_pid=$!

window=
for _ in $(seq 200); do
    window="$(xwininfo -root -children 2>/dev/null |
        awk '/"[^"]* - Parlen Maker [^"]*"/ { print $1; exit }')"
    [ -n "$window" ] && break
    sleep 0.05
done
[ -n "$window" ] || { cat "$scratch/report.err"; fail "no window titled '... - Parlen Maker ...'"; }
sleep 0.5  # the start-up has run once the window is mapped; let it settle

xwininfo -id "$window" >"$scratch/wininfo"
xprop -id "$window" >"$scratch/xprop"
value() { sed -n "s/^ *$1: *//p" "$scratch/wininfo"; }
[ "$(value Width)" = 688 ] && [ "$(value Height)" = 466 ] ||
    fail "client area $(value Width) x $(value Height), not 688 x 466"
[ "$(value 'Map State')" = IsViewable ] || fail "window not shown: $(value 'Map State')"
x="$(value 'Absolute upper-left X')" y="$(value 'Absolute upper-left Y')"
[ $((x - (SCREEN_W - 688) / 2)) -le 1 ] && [ $(((SCREEN_W - 688) / 2 - x)) -le 1 ] &&
    [ $((y - (SCREEN_H - 466) / 2)) -le 1 ] && [ $(((SCREEN_H - 466) / 2 - y)) -le 1 ] ||
    fail "window at $x,$y, not centred on the ${SCREEN_W}x${SCREEN_H} screen"

# Fixed size: the window manager is told that the smallest and largest size are the same.
grep -q 'program specified minimum size: 688 by 466' "$scratch/xprop" &&
    grep -q 'program specified maximum size: 688 by 466' "$scratch/xprop" ||
    { cat "$scratch/xprop"; fail "the size hints do not fix the window at 688 x 466"; }
# Title-bar buttons: system menu, minimise and close, no maximise (Motif hints: functions
# minimise 0x08, maximise 0x10, close 0x20; decorations menu 0x10, minimise 0x20,
# maximise 0x40).
read -r functions decorations < <(sed -n \
    's/^_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x[0-9a-f]*, \(0x[0-9a-f]*\), \(0x[0-9a-f]*\).*/\1 \2/p' \
    "$scratch/xprop")
[ -n "$functions" ] || fail "no window manager hints for the title-bar buttons"
(((functions & 0x28) == 0x28)) && ! ((functions & 0x10)) &&
    (((decorations & 0x30) == 0x30)) &&
    ! ((decorations & 0x40)) || fail "title-bar hints: functions $functions, decorations $decorations"
# Docks match the window to its desktop entry by the window class, and show its icon.
wm_class="$(sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p' "$scratch/xprop")"
entry_class="$(sed -n 's/^StartupWMClass=//p' "$BUILD/share/org.parlenmaker.ParlenMaker.desktop")"
[ -n "$entry_class" ] && [ "$wm_class" = "$entry_class" ] ||
    fail "window class '$wm_class', desktop entry's StartupWMClass '$entry_class'"
grep -q '^_NET_WM_ICON(CARDINAL) = ' "$scratch/xprop" || fail "the window has no icon"
title="$(sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p' "$scratch/xprop")"
[[ "$title" == *" - Parlen Maker 2004.05" ]] || fail "title bar reads '$title'"

wait "$program_pid" || fail "the program ended with $?: $(cat "$scratch/report.err")"
program_pid=
grep -qxF "caption: $title" "$scratch/report" || fail "caption differs from the title bar"
grep -qxF "application-title: $title" "$scratch/report" || fail "application title differs"
grep -qx 'client-size: 688x466' "$scratch/report" || fail "$(grep client-size "$scratch/report")"
grep -qx 'font: Liberation Sans 8' "$scratch/report" || fail "$(grep '^font' "$scratch/report")"
check_report "$scratch/report" "$PARLEN_SOURCE/app/readme.txt"

# The list holds the catalogue in its order, the first line chosen.
"$BUILD/bin/parlen-say" --list | cut -f2 >"$scratch/catalogue"
sed -n 's/^engine: //p' "$scratch/report" >"$scratch/listed"
cmp -s "$scratch/catalogue" "$scratch/listed" ||
    { diff "$scratch/catalogue" "$scratch/listed" | head; fail "engine list differs from the catalogue"; }
grep -qxF "selected: 0 $(head -n 1 "$scratch/catalogue")" "$scratch/report" ||
    fail "$(grep '^selected' "$scratch/report")"
for page in help edit; do
    file -b "$shots/$page-page.png" | grep -q '^PNG image data, 688 x 466,' ||
        fail "no picture of the $page page"
done
echo "window on $DISPLAY: 688 x 466 at $x,$y, '$title', $(wc -l <"$scratch/listed") engines"

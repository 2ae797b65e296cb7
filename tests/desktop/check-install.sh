#!/usr/bin/env bash
# cmake --install into a scratch prefix, then checks the installed tree and that the
# installed program, started through its link in bin/, shows the read-me and the engines.
#   check-install.sh BUILD_DIR SOURCE_DIR
BUILD="$(cd "$1" && pwd)"
PARLEN_SOURCE="$(cd "$2" && pwd)"
source "$(dirname "$0")/check-common.sh"
APP_ID=org.parlenmaker.ParlenMaker

scratch="$(mktemp -d)"
trap 'stop_own_sound_server; rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
cmake --install "$BUILD" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; fail "cmake --install failed"; }

# The program lives in its own folder with the read-me; bin/ links to it.
[ -x "$prefix/lib/parlenmaker/parlenmaker" ] || fail "lib/parlenmaker/parlenmaker missing"
cmp -s "$PARLEN_SOURCE/app/readme.txt" "$prefix/lib/parlenmaker/readme.txt" ||
    fail "readme.txt not beside the program"
[ -L "$prefix/bin/parlenmaker" ] || fail "bin/parlenmaker is not a symbolic link"
[ "$(readlink "$prefix/bin/parlenmaker")" = "../lib/parlenmaker/parlenmaker" ] ||
    fail "bin/parlenmaker links to $(readlink "$prefix/bin/parlenmaker")"
[ -x "$prefix/bin/parlen-say" ] && [ ! -L "$prefix/bin/parlen-say" ] || fail "bin/parlen-say missing"
cmp -s "$PARLEN_SOURCE/LICENSE" "$prefix/share/doc/parlenmaker/LICENSE" || fail "licence not installed"
# Run paths, built and installed, name fixed folders or the program's own: an empty or
# relative entry would load libraries from whatever folder the program is started in.
for program in "$BUILD/bin/parlenmaker" "$BUILD/bin/parlen-say" \
    "$prefix/lib/parlenmaker/parlenmaker" "$prefix/bin/parlen-say"; do
    runpath="$(readelf -d "$program" | sed -nE 's/.*\((RPATH|RUNPATH)\).*\[(.*)\]$/\2/p')"
    IFS=: read -r -a entries <<<"$runpath:"
    for entry in "${entries[@]}"; do
        case "$entry" in
        /* | '$ORIGIN' | '$ORIGIN/'*) ;;
        *) fail "$program: run path '$runpath' has the entry '$entry'" ;;
        esac
    done
done
# parlen-say loads no Qt library: their start-up would be a fifth of a short render's.
readelf -d "$prefix/bin/parlen-say" | grep -q 'NEEDED.*libQt' &&
    fail "parlen-say needs a Qt library: $(readelf -d "$prefix/bin/parlen-say" | grep -o 'libQt[^]]*')"
"$prefix/bin/parlen-say" --list >"$scratch/voices" 2>&1 || fail "parlen-say --list failed"
grep -q flite "$scratch/voices" || fail "parlen-say lists no flite voice"
grep -q ' - festival' "$scratch/voices" || fail "parlen-say lists no Festival voice"
# Festival's library is mapped when one of its voices speaks, found through the run path.
festival="$(cut -f2 "$scratch/voices" | grep -m1 ' - festival$')"
echo one | "$prefix/bin/parlen-say" --voice "$festival" --out "$scratch/one.wav" - ||
    fail "the installed parlen-say cannot speak with $festival"
# RHVoice's library is mapped from the system where it is installed, as the build found it.
if "$BUILD/bin/parlen-say" --list 2>/dev/null | grep -q ' - RHVoice$'; then
    rhvoice="$(cut -f2 "$scratch/voices" | grep -m1 ' - RHVoice$')" ||
        fail "the installed parlen-say lists no RHVoice voice"
    echo one | "$prefix/bin/parlen-say" --voice "$rhvoice" --out "$scratch/one.wav" - ||
        fail "the installed parlen-say cannot speak with $rhvoice"
fi

# The desktop entry names what is installed.
entry="$prefix/share/applications/$APP_ID.desktop"
[ -f "$entry" ] || fail "desktop entry missing"
desktop-file-validate "$entry" || fail "desktop entry rejected"
exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
[ -x "$prefix/bin/$exec_name" ] || fail "Exec=$exec_name not in bin/"
icon="$(sed -n 's/^Icon=//p' "$entry")"
[ "$icon" = "$APP_ID" ] || fail "Icon=$icon"
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "scalable icon missing"
for size in 16 24 32 48 64 128 256; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "${size}x${size} icon missing"
    file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$png: $(file -b "$png")"
done

metainfo="$prefix/share/metainfo/$APP_ID.metainfo.xml"
[ -f "$metainfo" ] || fail "metainfo missing"
appstreamcli validate --no-net "$metainfo" >"$scratch/as.log" ||
    { cat "$scratch/as.log"; fail "metainfo rejected"; }
grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch the desktop entry"

ensure_sound_server "$scratch"
run_until_started "$prefix/bin/parlenmaker" "$scratch/report"
check_report "$scratch/report" "$PARLEN_SOURCE/app/readme.txt"
echo "installed program started: $(grep -c '^engine: ' "$scratch/report") engines, $(sed -n 's/^readme-lines: //p' "$scratch/report") read-me lines"

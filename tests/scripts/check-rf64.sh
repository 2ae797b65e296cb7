#!/usr/bin/env bash
# Renders the benchmark's 3.5 MB text (the GPL-3 repeated; about 55 hours of audio, a
# WAV file of about 8.8 GB) with parlen-say and checks that the file is RF64 and that
# the length sox reads from its header matches the frames the file really holds (its
# size past the header). Deletes the file afterwards.
#
# Not part of the suite: it needs about 9 GB of free disk and tens of minutes.
#
#   tests/scripts/check-rf64.sh [BUILD_DIR] [WORK_DIR]
set -u
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${1:-$ROOT/build}"
WORK="${2:-$BUILD/check-rf64}"
SAY="$BUILD/bin/parlen-say"
GPL=/usr/share/common-licenses/GPL-3

fail() {
    echo "check-rf64: $*" >&2
    exit 1
}
[ -x "$SAY" ] || fail "no parlen-say in $BUILD/bin (build it first)"
command -v soxi >/dev/null || fail "soxi is missing (Debian package sox)"
mkdir -p "$WORK" || fail "cannot make $WORK"
free_kib=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
[ "$free_kib" -gt $((10 * 1024 * 1024)) ] || fail "less than 10 GiB free in $WORK"

text="$WORK/text-3500KB.txt" wav="$WORK/big.wav"
trap 'rm -f "$wav" "$text"' EXIT
for _ in $(seq 110); do cat "$GPL"; done | head -c 3584000 >"$text"
# The voice espeak-ng speaks by default, as the benchmark uses.
name="$(espeak-ng --voices=en | awk '$5 ~ /\/en$/ { print $4; exit }' | tr '_' ' ')"
voice="$("$SAY" --list 2>/dev/null | cut -f2 | grep -Fx "$name - espeak-ng")" ||
    fail "no mode for espeak-ng's default voice"

echo "rendering $(stat -c %s "$text") bytes of text with '$voice' into $wav ..."
start=$(date +%s)
"$SAY" --voice "$voice" --wav "$wav" "$text" || fail "parlen-say failed (exit $?)"
echo "rendered in $(($(date +%s) - start)) s"

size=$(stat -c %s "$wav")
magic=$(head -c 4 "$wav")
# The data chunk's header: where "data" first appears in the file's head.
data_at=$(head -c 65536 "$wav" | grep -obUa 'data' | head -n 1 | cut -d: -f1)
[ -n "$data_at" ] || fail "no data chunk in the first 64 KiB"
frames=$(((size - data_at - 8) / 2))
rate=$(soxi -r "$wav") || fail "soxi cannot read the file"
sox_frames=$(soxi -s "$wav")
sox_seconds=$(soxi -D "$wav")
echo "file: $size bytes, starts with $magic, data from byte $((data_at + 8)), rate $rate Hz"
echo "frames in the file: $frames = $(echo "scale=2; $frames / $rate" | bc) s"
echo "soxi reads:         $sox_frames = $sox_seconds s"
[ "$size" -gt 4294967295 ] || fail "the file is under 4 GiB: nothing checked"
[ "$magic" = RF64 ] || fail "a file past 4 GiB must be RF64, not $magic"
[ "$sox_frames" = "$frames" ] || fail "the header's length differs from the frames written"
echo "check-rf64: ok"

#!/usr/bin/env bash
# Nothing is lost and no failure passes for success with parlen-say: outputs that name one
# file, timings and audio files on a full disk, words missing from the timings, Festival on
# sentences of punctuation only, the earlier file after a failure or an interrupt, FIFOs,
# devices and pipes, the FLAC header of a cut file, the render spool's size, and the
# PARLEN_RENDER_JOBS warnings. Each probe prints PASS or FAIL with what it saw; then the
# full-disk sweep renders 13 text lengths into each format on a small disk and compares
# every file that is reported written with the same render on a roomy disk.
#
# Full-disk probes mount small tmpfs disks and need root; without it they say so and are
# skipped. The whole run takes several minutes (the spool probe renders GPL-3 ten times).
#
# Usage: tests/scripts/check-nothing-lost.sh [BIN_DIR]   (default: build/bin)
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="$(cd "${1:-$ROOT/build/bin}" && pwd)"
SAY="$BIN/parlen-say"
ESPEAK="English (America) - espeak-ng"
KAL="kal (US English male, diphone) - festival"
SLT="slt (US English female, HTS) - festival"
GPL="$ROOT/LICENSE"
[ -f /usr/share/common-licenses/GPL-3 ] && GPL=/usr/share/common-licenses/GPL-3
W="$(mktemp -d)"
MOUNTS=()
cleanup() {
    for m in "${MOUNTS[@]}"; do umount -l "$m" 2>/dev/null; done
    rm -rf "$W"
}
trap cleanup EXIT
for tool in ffprobe python3 mkfifo; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 2; }
done
[ -x "$SAY" ] || { echo "FAIL: no $SAY (build parlen-say first)"; exit 2; }

FAILS=0
pass() { echo "PASS $1: $2"; }
fail() { echo "FAIL $1: $2"; FAILS=$((FAILS + 1)); }
check() { # NAME CONDITION-RESULT(0 ok) DETAIL
    if [ "$2" -eq 0 ]; then pass "$1" "$3"; else fail "$1" "$3"; fi
}
# say ARGS...: runs parlen-say; $RC its exit status, $ERR its standard error (one line).
say() {
    "$SAY" "$@" 2>"$W/err"
    RC=$?
    ERR="$(tr '\n' ' ' <"$W/err")"
}
# A small disk of SIZE at DIR; false when mounting is refused.
disk() {
    mkdir -p "$2" && mount -t tmpfs -o "size=$1,mode=0777" tmpfs "$2" 2>/dev/null || return 1
    MOUNTS+=("$2")
}
fill() { # fills the disk at DIR up to its last byte
    dd if=/dev/zero of="$1/filler" bs=4k 2>/dev/null
    dd if=/dev/zero of="$1/filler2" bs=1 2>/dev/null
    sync
}
# Decoded length in samples (every packet's duration, in the stream's time base).
frames() {
    ffprobe -v error -select_streams a:0 -show_entries packet=duration -of csv=p=0 "$1" 2>/dev/null |
        awk '{ n += $1 } END { print n + 0 }'
}
seconds() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" 2>/dev/null; }
# Exit status, a message naming the file and the reason.
failed_naming() { # NAME FILE REASON-PATTERN
    if [ "$RC" -ne 1 ]; then
        fail "$1" "exit $RC, not 1: $ERR"
    elif ! grep -qF "$2" <<<"$ERR" || ! grep -qiE "$3" <<<"$ERR"; then
        fail "$1" "the message does not name '$2' and the reason: $ERR"
    else
        pass "$1" "exit 1: $ERR"
    fi
}
head -c 300 "$GPL" >"$W/short.txt"
for i in 1 2 3; do cat "$GPL"; done >"$W/gpl3.txt"
# Interrupted renders: long enough to be under way when the signal comes on an idle machine.
for i in 1 2 3 4; do cat "$W/gpl3.txt"; done >"$W/long.txt"
HAVE_DISK=0
disk 16M "$W/probe" && HAVE_DISK=1 && umount "$W/probe"
[ "$HAVE_DISK" -eq 1 ] || echo "NOTE: mounting a tmpfs is refused (not root?): full-disk probes are skipped"

echo "== 1 outputs that name one file"
cd "$W" || exit 2
printf 'earlier' >x.json
say --voice "$ESPEAK" --out x.json --timings ./x.json short.txt
[ "$RC" -eq 2 ] && [ "$(cat x.json)" = earlier ]
check 1-dot $? "--out x.json --timings ./x.json: exit $RC, $ERR"
ln -s x.json link.json
say --voice "$ESPEAK" --out x.json --timings link.json short.txt
[ "$RC" -eq 2 ] && [ "$(cat x.json)" = earlier ]
check 1-symlink $? "timings through a symbolic link to the audio: exit $RC, $ERR"
ln x.json hard.vtt
mkdir -p sub && ln -s "$W/sub/../new.wav" sub/dangling.srt
say --voice "$ESPEAK" --out x.json --timings hard.vtt short.txt
r1=$RC
say --voice "$ESPEAK" --out new.wav --timings sub/dangling.srt short.txt
[ "$r1" -eq 2 ] && [ "$RC" -eq 2 ] && [ ! -e new.wav ] && [ "$(cat x.json)" = earlier ]
check 1-hardlink-dangling $? "a hard link, and a dangling link through ../ to the new audio: exit $r1, $RC"

echo "== 2 timings on a full disk"
if [ "$HAVE_DISK" -eq 1 ] && disk 256k "$W/full2"; then
    for size in small large; do
        text=short.txt
        [ $size = large ] && head -c 20000 "$GPL" >"$W/large.txt" && text=large.txt
        printf 'earlier timings' >"$W/full2/t.json"
        fill "$W/full2"
        say --voice "$ESPEAK" --out "$W/roomy.wav" --timings "$W/full2/t.json" "$text"
        failed_naming "2-$size" "$W/full2/t.json" "no space left"
        [ "$(cat "$W/full2/t.json")" = "earlier timings" ]
        check "2-$size-kept" $? "the earlier timings file after the failure"
        rm -f "$W/full2/"*
    done
    ln -sf /dev/full "$W/devfull.srt"
    say --voice "$ESPEAK" --out "$W/roomy.wav" --timings "$W/devfull.srt" short.txt
    failed_naming 2-dev-full "$W/devfull.srt" "no space left"
    [ -c /dev/full ]
    check 2-dev-full-kept $? "/dev/full is still a device"
fi

echo "== 3 compressed files on a full disk"
if [ "$HAVE_DISK" -eq 1 ] && disk 96k "$W/full3"; then
    for ext in ogg opus flac mp3; do
        printf 'earlier audio' >"$W/full3/a.$ext"
        say --voice "$ESPEAK" --out "$W/full3/a.$ext" "$GPL"
        failed_naming "3-$ext" "$W/full3/a.$ext" "no space left"
        [ "$(tr -d '\0' <"$W/full3/a.$ext")" = "earlier audio" ]
        check "3-$ext-kept" $? "the earlier .$ext file after the failure"
        rm -f "$W/full3/"* "$W/full3/".[!.]*
    done
fi

echo "== 4 words lost in timings"
say --voice "$ESPEAK" --out "$W/gpl.wav" --timings "$W/gpl.json" "$GPL"
r1=$RC
say --voice "$ESPEAK" --out "$W/gpl.wav" --timings "$W/gpl.srt" "$GPL"
python3 - "$GPL" "$W/gpl.json" "$W/gpl.srt" "$r1" "$RC" <<'EOF'
import json, sys
words = open(sys.argv[1], encoding="utf-8").read().split()
try:
    timed = json.load(open(sys.argv[2], encoding="utf-8"))["words"]
    srt = open(sys.argv[3], encoding="utf-8").read()
except Exception as e:
    print("FAIL 4-gpl: exit %s and %s: %s" % (sys.argv[4], sys.argv[5], e)); sys.exit(1)
cues, text, state = [], [], 0
for line in srt.split("\n"):
    if state == 0 and line.isdigit(): state = 1
    elif state == 1: state = 2
    elif state == 2 and line: text.append(line)
    elif state == 2: state = 0
joined = " ".join(text).replace("\u2060", "").split()
ok = sys.argv[4] == "0" and sys.argv[5] == "0" and len(timed) == len(words) and joined == words
print(("PASS" if ok else "FAIL") + " 4-gpl: %d words, %d in the JSON (%d estimated), SRT cue text %s" % (
    len(words), len(timed), sum(1 for w in timed if w.get("estimated")),
    "equals the text's words" if joined == words else "differs"))
sys.exit(0 if ok else 1)
EOF
[ $? -eq 0 ] || FAILS=$((FAILS + 1))
printf 'A note --> the end. --!> x <!-- y -->\nNOTE this\n\n2\n00:00:01,000 --> 00:00:02,000\n' >"$W/marks.txt"
say --voice "$ESPEAK" --out "$W/marks.wav" --timings "$W/marks.srt" "$W/marks.txt"
r1=$RC
say --voice "$ESPEAK" --out "$W/marks.wav" --timings "$W/marks.vtt" "$W/marks.txt"
python3 - "$W/marks.txt" "$W/marks.srt" "$W/marks.vtt" "$r1" "$RC" <<'EOF'
import re, sys
words = open(sys.argv[1]).read().split()
try:
    srt = open(sys.argv[2]).read().split("\n\n")
    vtt = open(sys.argv[3]).read().split("\n")
except Exception as e:
    print("FAIL 4-markers: exit %s and %s: %s" % (sys.argv[4], sys.argv[5], e)); sys.exit(1)
times = re.compile(r"^\d\d:\d\d:\d\d,\d\d\d --> \d\d:\d\d:\d\d,\d\d\d$")
text = []
ok = sys.argv[4] == "0" and sys.argv[5] == "0"
for cue in filter(None, srt):
    lines = cue.strip("\n").split("\n")
    ok = ok and lines[0].isdigit() and bool(times.match(lines[1]))
    ok = ok and all("-->" not in l for l in lines[2:])
    text += lines[2:]
ok = ok and all("-->" not in l or re.match(r"^\d\d:\d\d:\d\d\.\d\d\d --> ", l) for l in vtt)
ok = ok and " ".join(text).replace("\u2060", "").split() == words
print(("PASS" if ok else "FAIL") + " 4-markers: cues with -->, NOTE, <!-- and --!> in the text keep it as text")
sys.exit(0 if ok else 1)
EOF
[ $? -eq 0 ] || FAILS=$((FAILS + 1))

echo "== 5 Festival: sentences of punctuation only"
for voice in "$KAL" "$SLT"; do
    n=0
    for text in '.' '!' '"' '(( ))' '...  Hello' '-- ; -- ?'; do
        n=$((n + 1))
        printf '%s\n' "$text" >"$W/punct.txt"
        say --voice "$voice" --out "$W/punct$n.wav" "$W/punct.txt"
        len=$(frames "$W/punct$n.wav")
        [ "$RC" -eq 0 ] && [ -n "$len" ]
        check "5-${voice%% *}-$n" $? "'$text': exit $RC, $len samples $ERR"
    done
done

echo "== 6 the earlier file after a failure; an interrupt leaves a matching pair"
if [ "$HAVE_DISK" -eq 1 ] && disk 1M "$W/full6"; then
    printf 'earlier audio' >"$W/full6/keep.wav"
    printf 'earlier timings' >"$W/full6/keep.vtt"
    say --voice "$ESPEAK" --out "$W/full6/keep.wav" --timings "$W/full6/keep.vtt" "$GPL"
    failed_naming 6-full "$W/full6/keep.wav" "no space left"
    [ "$(tr -d '\0' <"$W/full6/keep.wav")" = "earlier audio" ] &&
        [ "$(tr -d '\0' <"$W/full6/keep.vtt")" = "earlier timings" ]
    check 6-full-kept $? "the earlier audio and timings after the failure"
fi
# pair_matches NAME AUDIO JSON: the last word starts within the audio, near its end.
pair_matches() {
    python3 - "$2" "$3" "$(seconds "$2")" <<'EOF'
import json, sys
try:
    words = json.load(open(sys.argv[2]))["words"]
    audio = float(sys.argv[3]) * 1000
except Exception as e:
    print("no pair: %s" % e); sys.exit(1)
last = max((w["start_ms"] for w in words), default=-1)
print("%d words, the last at %d ms, audio %d ms" % (len(words), last, audio))
sys.exit(0 if words and last <= audio + 50 and audio - last < 30000 else 1)
EOF
}
for signal in INT TERM HUP; do
    printf 'earlier audio' >"$W/keep.wav"
    printf 'earlier timings' >"$W/keep.json"
    "$SAY" --voice "$ESPEAK" --out "$W/keep.wav" --timings "$W/keep.json" "$W/long.txt" 2>"$W/err" &
    pid=$!
    sleep 4
    kill -s "$signal" "$pid"
    wait "$pid"
    RC=$?
    ERR="$(tr '\n' ' ' <"$W/err")"
    detail="$(pair_matches "6-$signal" "$W/keep.wav" "$W/keep.json")"
    ok=$?
    [ "$RC" -eq 1 ] && grep -q "interrupted by SIG$signal" <<<"$ERR" && [ $ok -eq 0 ]
    check "6-sig$signal" $? "exit $RC, $detail: $ERR"
done
"$SAY" --voice "$ESPEAK" --out "$W/twice.wav" "$W/long.txt" 2>"$W/err" &
pid=$!
sleep 3
# Both pending at once (a first stop takes only milliseconds): held, then let go.
kill -STOP "$pid"
kill -INT "$pid"
kill -TERM "$pid"
kill -CONT "$pid"
wait "$pid"
RC=$?
[ "$RC" -eq 1 ] && grep -q "second signal" "$W/err"
check 6-second-signal $? "two interrupts: exit $RC, $(tr '\n' ' ' <"$W/err")"

echo "== 7 FIFOs, devices, appending standard output, a reader that quits"
mkfifo "$W/fifo.json"
cat "$W/fifo.json" >"$W/from-fifo.json" &
reader=$!
say --voice "$ESPEAK" --out "$W/f.wav" --timings "$W/fifo.json" short.txt
wait "$reader"
[ "$RC" -eq 0 ] && [ -p "$W/fifo.json" ] && python3 -c 'import json,sys; json.load(open(sys.argv[1]))' "$W/from-fifo.json"
check 7-fifo-timings $? "timings into a FIFO: exit $RC, still a FIFO, the reader got JSON $ERR"
mkfifo "$W/fifo.wav"
cat "$W/fifo.wav" >"$W/from-fifo.wav" &
reader=$!
say --voice "$ESPEAK" --out "$W/fifo.wav" short.txt
wait "$reader"
[ "$RC" -eq 0 ] && [ -p "$W/fifo.wav" ] && [ "$(frames "$W/from-fifo.wav")" -gt 0 ]
check 7-fifo-audio $? "audio into a FIFO: exit $RC, still a FIFO, the reader got audio $ERR"
if mknod "$W/null.vtt" c 1 3 2>/dev/null; then
    say --voice "$ESPEAK" --out "$W/f.wav" --timings "$W/null.vtt" short.txt
    [ "$RC" -eq 0 ] && [ -c "$W/null.vtt" ]
    check 7-device $? "timings into a device node: exit $RC, still a device $ERR"
fi
printf 'earlier' >"$W/append.wav"
"$SAY" --voice "$ESPEAK" --out - short.txt >>"$W/append.wav" 2>"$W/err"
RC=$?
[ "$RC" -eq 0 ] && [ "$(head -c 7 "$W/append.wav")" = earlier ] &&
    [ "$(tail -c +8 "$W/append.wav" | head -c 4)" = RIFF ] &&
    [ "$(tail -c +8 "$W/append.wav" | od -An -tu4 -j4 -N4 | tr -d ' ')" = 4294967295 ]
check 7-append-stdout $? "--out - appended to a file: exit $RC, the earlier bytes kept, RIFF size 0xFFFFFFFF $(tr '\n' ' ' <"$W/err")"
"$SAY" --voice "$ESPEAK" --out "$W/p.wav" --events "$GPL" 2>"$W/err" | head -c 100 >/dev/null
RC=${PIPESTATUS[0]}
[ "$RC" -eq 1 ] && grep -q "standard output" "$W/err"
check 7-events-reader-quits $? "--events into a reader that quits: exit $RC, $(tr '\n' ' ' <"$W/err")"
"$SAY" --voice "$ESPEAK" --out - "$GPL" 2>"$W/err" | head -c 1000 >/dev/null
RC=${PIPESTATUS[0]}
[ "$RC" -eq 1 ] && grep -qiE "broken pipe|standard output" "$W/err"
check 7-audio-reader-quits $? "--out - into a reader that quits: exit $RC, $(tr '\n' ' ' <"$W/err")"

echo "== 8 FLAC STREAMINFO after an interrupt and a full disk"
flac_whole() { # the header's sample count equals the decoded one
    local header decoded
    header=$(ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts -of csv=p=0 "$1")
    decoded=$(frames "$1")
    echo "header $header, decoded $decoded samples"
    [ -n "$header" ] && [ "$header" = "$decoded" ] && [ "$decoded" -gt 0 ]
}
"$SAY" --voice "$ESPEAK" --out "$W/cut.flac" "$W/long.txt" 2>"$W/err" &
pid=$!
sleep 4
kill -INT "$pid"
wait "$pid"
RC=$?
detail=$(flac_whole "$W/cut.flac")
ok=$?
[ "$RC" -eq 1 ] && [ $ok -eq 0 ]
check 8-interrupt $? "exit $RC, $detail"
if [ "$HAVE_DISK" -eq 1 ] && disk 400k "$W/full8"; then
    say --voice "$ESPEAK" --out "$W/full8/cut.flac" "$GPL"
    detail=$(flac_whole "$W/full8/cut.flac")
    ok=$?
    [ "$RC" -eq 1 ] && [ $ok -eq 0 ]
    check 8-full-disk $? "exit $RC, $detail: $ERR"
fi

echo "== 9 the render spool for GPL-3 x10 at --jobs 8"
if [ "$HAVE_DISK" -eq 1 ] && disk 2G "$W/spool"; then
    for i in 1 2 3 4 5 6 7 8 9 10; do cat "$GPL"; done >"$W/gpl10.txt"
    TMPDIR="$W/spool" "$SAY" --voice "$ESPEAK" --jobs 8 --out "$W/gpl10.ogg" "$W/gpl10.txt" 2>"$W/err" &
    pid=$!
    peak=0
    while kill -0 "$pid" 2>/dev/null; do
        used=$(df -B1 --output=used "$W/spool" | tail -1)
        [ "$used" -gt "$peak" ] && peak=$used
        sleep 0.2
    done
    wait "$pid"
    RC=$?
    [ "$RC" -eq 0 ] && [ "$peak" -le $((256 * 1024 * 1024)) ]
    check 9-spool $? "exit $RC, peak spool $((peak / 1048576)) MB on a tmpfs of 2 GB (at most 256 MB) $(tr '\n' ' ' <"$W/err")"
fi

echo "== 10 PARLEN_RENDER_JOBS"
for value in abc 0 -3 999 ' 4' '8x' ''; do
    PARLEN_RENDER_JOBS="$value" "$SAY" --voice "$ESPEAK" --out "$W/j.wav" short.txt 2>"$W/err"
    RC=$?
    count=$(grep -c PARLEN_RENDER_JOBS "$W/err")
    [ "$RC" -eq 0 ] && [ "$count" -eq 1 ] && { [ "$value" != 999 ] || grep -q 64 "$W/err"; }
    check "10-'$value'" $? "exit $RC, $count warning(s): $(tr '\n' ' ' <"$W/err")"
done
PARLEN_RENDER_JOBS=3 "$SAY" --voice "$ESPEAK" --out "$W/j.wav" short.txt 2>"$W/err"
[ $? -eq 0 ] && [ ! -s "$W/err" ]
check "10-valid" $? "a valid value gives no warning"

echo "== full-disk sweep: 13 text lengths x 5 formats"
if [ "$HAVE_DISK" -eq 1 ] && disk 1M "$W/sweep"; then
    mkdir -p "$W/roomy"
    for length in 40 120 300 700 1500 3000 5000 8000 12000 16000 20000 26000 34000; do
        head -c "$length" "$GPL" >"$W/len.txt"
        for ext in ogg opus flac mp3 wav; do
            rm -rf "${W:?}/sweep/"* "$W/sweep/".[!.]* 2>/dev/null
            say --voice "$ESPEAK" --out "$W/sweep/s.$ext" "$W/len.txt"
            if [ "$RC" -eq 0 ]; then
                # The same render on a roomy disk, for a file reported written.
                "$SAY" --voice "$ESPEAK" --out "$W/roomy/r.$ext" "$W/len.txt" 2>/dev/null
                want=$(frames "$W/roomy/r.$ext")
                got=$(frames "$W/sweep/s.$ext")
                [ "$got" = "$want" ]
                check "sweep-$length.$ext" $? "exit 0, $got samples, on a roomy disk $want"
            else
                [ "$RC" -eq 1 ] && [ -n "$ERR" ]
                check "sweep-$length.$ext" $? "exit $RC: $ERR"
            fi
        done
    done
fi

echo "$FAILS probe(s) failed"
[ "$FAILS" -eq 0 ]

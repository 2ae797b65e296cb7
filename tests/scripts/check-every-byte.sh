#!/usr/bin/env bash
# Every byte of a long run without blanks is spoken: long words, a URL, digit strings,
# a long run of "[[a]]" and lines of Chinese, Japanese and Thai render with parlen-say
# within 3 % of the duration the engines' own programs give for the same text and voice.
#
# espeak-ng -w itself says only about 160 bytes of one word and a bounded number of
# phonemes per clause. The reference for espeak-ng is therefore the same text as SSML
# with zero-length breaks every 150 bytes inside longer ASCII runs, so that the
# program reads all of it; its plain -w figure is shown beside it. espeak-ng -w reads
# "[[...]]" as phoneme input, which parlen-say never does (text is data), and no
# option of the program turns that off: the 100,000 "[[a]]" must last 100 times as
# long as 1,000 of them instead. flite reads the text as it is; its "[[a]]" run is
# 2,000 long because the flite command needs minutes for longer ones.
#
# Usage: tests/scripts/check-every-byte.sh [BIN_DIR]   (default: build/bin)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="${1:-$ROOT/build/bin}"
SAY="$BIN/parlen-say"
ESPEAK="English (America) - espeak-ng"
KAL="kal (US English male, 8 kHz) - flite"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
for tool in espeak-ng flite soxi awk; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 2; }
done
[ -x "$SAY" ] || { echo "FAIL: no $SAY (build parlen-say first)"; exit 2; }

repeat() { awk -v s="$1" -v n="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%s", s; print "" }'; }
repeat abcdefghij 100 >"$WORK/letters-1000.txt"
repeat abcdefghij 1000 >"$WORK/letters-10000.txt"
repeat 1234567890 100 >"$WORK/digits-1000.txt"
repeat '[[a]]' 100000 >"$WORK/brackets-100000.txt"
repeat '[[a]]' 1000 >"$WORK/brackets-1000.txt"
repeat '[[a]]' 2000 >"$WORK/brackets-2000.txt"
awk 'BEGIN {
    split("archive documents reports annual download section index users profile settings", w, " ")
    url = "https://www.example.com/"
    for (i = 0; length(url) < 1900; i++) url = url w[i % 10 + 1] (i * 7919 % 9990 + 10) "/"
    url = url "page.html?"
    for (; length(url) < 2000; i++) url = url w[i % 10 + 1] "=" (i * 104729 % 99999) "&"
    print substr(url, 1, 2000)
}' >"$WORK/url-2000.txt"
cat >"$WORK/chinese.txt" <<'EOF'
今天天气很好，我们一起去公园散步吧。公园里有很多花，红的、黄的、白的，非常漂亮。孩子们在草地上玩耍，老人们在树下下棋。
我喜欢在周末读书，也喜欢和朋友们一起喝茶聊天。生活虽然忙碌，但是我们应该学会享受每一天的美好时光。
EOF
cat >"$WORK/japanese.txt" <<'EOF'
今日はとても良い天気なので、友達と一緒に公園へ散歩に行きました。桜の花がきれいに咲いていて、たくさんの人が写真を撮っていました。
週末には本を読んだり、音楽を聴いたりするのが好きです。毎日忙しいですが、小さな幸せを大切にしたいと思います。
EOF
cat >"$WORK/thai.txt" <<'EOF'
วันนี้อากาศดีมากเราจึงไปเดินเล่นที่สวนสาธารณะด้วยกันในสวนมีดอกไม้หลายชนิดสวยงามมากเด็กๆกำลังเล่นอยู่บนสนามหญ้า
ฉันชอบอ่านหนังสือในวันหยุดสุดสัปดาห์และชอบดื่มชากับเพื่อนๆชีวิตอาจจะยุ่งแต่เราควรมีความสุขกับทุกวัน
EOF

# The text as SSML that espeak-ng reads whole (see above).
as_ssml() {
    awk 'function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); return s }
    BEGIN { brk = "<break time=\"0ms\"/>"; printf "<speak>" }
    {
        n = split($0, tok, " ")
        for (k = 1; k <= n; k++) {
            t = tok[k]; out = ""
            if (length(t) > 150 && t ~ /^[!-~]+$/) {
                for (i = 1; i <= length(t); i += 150) out = out (i > 1 ? brk : "") esc(substr(t, i, 150))
            } else out = esc(t)
            printf "%s%s", out, (k < n ? " " : "\n")
        }
    }
    END { print "</speak>" }' "$1"
}

seconds() { soxi -D "$1"; }
failures=0
printf '%-16s %-8s %10s %10s %7s %12s\n' text voice parlen-say reference diff "espeak-ng -w"
check() {  # name, parlen-say voice, reference (espeak:<voice>, flite or ours:<name>*<n>)
    local name="$1" voice="$2" ref="$3" text="$WORK/$1.txt" plain="-"
    "$SAY" --voice "$voice" --wav "$WORK/ours.wav" "$text" >/dev/null
    if [ "${ref%%:*}" = ours ]; then
        local part="${ref#*:}"
        "$SAY" --voice "$voice" --wav "$WORK/part.wav" "$WORK/${part%\**}.txt" >/dev/null
        # n renderings of the shorter text, laid end to end.
        awk -v d="$(seconds "$WORK/part.wav")" -v n="${part#*\*}" 'BEGIN { printf "%f", d * n }' \
            >"$WORK/ref.seconds"
    elif [ "${ref%%:*}" = espeak ]; then
        as_ssml "$text" >"$WORK/ref.ssml"
        espeak-ng -m -v "${ref#*:}" -w "$WORK/ref.wav" -f "$WORK/ref.ssml"
        espeak-ng -v "${ref#*:}" -w "$WORK/plain.wav" -f "$text"
        plain="$(seconds "$WORK/plain.wav")"
    else
        flite -voice kal -f "$text" -o "$WORK/ref.wav"
    fi
    local ours theirs
    ours="$(seconds "$WORK/ours.wav")"
    if [ -f "$WORK/ref.seconds" ]; then theirs="$(cat "$WORK/ref.seconds")"; rm "$WORK/ref.seconds"
    else theirs="$(seconds "$WORK/ref.wav")"; fi
    if ! awk -v a="$ours" -v b="$theirs" -v n="$name" -v v="${ref%%:*}" -v p="$plain" 'BEGIN {
        d = (a / b - 1) * 100
        printf "%-16s %-8s %10.2f %10.2f %+6.2f%% %12s\n", n, v, a, b, d, p
        exit (d > 3 || d < -3)
    }'; then
        failures=$((failures + 1))
    fi
}

for name in letters-1000 letters-10000 url-2000 digits-1000; do
    check "$name" "$ESPEAK" espeak:en-us
done
check brackets-100000 "$ESPEAK" "ours:brackets-1000*100"
check chinese "Chinese (Mandarin, latin as English) - espeak-ng" espeak:cmn
check japanese "Japanese - espeak-ng" espeak:ja
check thai "Thai - espeak-ng" espeak:th
for name in letters-1000 letters-10000 url-2000 digits-1000 brackets-2000; do
    check "$name" "$KAL" flite
done
if [ "$failures" -gt 0 ]; then
    echo "FAIL: $failures renderings differ by more than 3 %"
    exit 1
fi
echo "ok"

#!/usr/bin/env bash
# flite pieces join without audible seams: GPL-3 (LICENSE) rendered with each flite voice
# through parlen-say --out lasts within 2 % of what the flite command renders from the
# same file, and no silence inside a sentence is longer than the command's longest
# silence inside a sentence plus 50 ms.
#
# A silence is a run of 5 ms windows whose peak stays under 1 % of full scale (flite's
# pauses are not digital silence). Our sentences and where their speech starts and ends
# come from parlen-say's --timings; the command's are found by rendering each of those
# sentences on its own with `flite -f` and leaving out the silence before and after it.
#
# Usage: tests/scripts/check-flite-joins.sh [BIN_DIR]   (default: build/bin)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="${1:-$ROOT/build/bin}"
SAY="$BIN/parlen-say"
TEXT="$ROOT/LICENSE"
VOICES=(kal kal16 slt rms awb)
THRESHOLD=328 # 1 % of full scale
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
for tool in flite soxi sox od jq awk bc; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 2; }
done
[ -x "$SAY" ] || { echo "FAIL: no $SAY (build parlen-say first)"; exit 2; }

# silences WAV: "start_ms length_ms" of every silent run.
silences() {
    local rate width
    rate=$(soxi -r "$1")
    width=$((rate / 100)) # bytes in 5 ms of 16-bit samples
    sox "$1" -t raw -e signed -b 16 -c 1 -L - | od -An -v -t d2 -w"$width" |
        awk -v th="$THRESHOLD" '
            { m = 0; for (i = 1; i <= NF; i++) { v = $i < 0 ? -$i : $i; if (v > m) m = v } }
            m < th { if (!quiet) { from = NR - 1; quiet = 1 }; next }
            quiet { print from * 5, (NR - 1 - from) * 5; quiet = 0 }
            END { if (quiet) print from * 5, (NR - from) * 5 }'
}

# inner_longest WAV: the longest silence of a sentence's render, not counting the
# silence it starts and ends with.
inner_longest() {
    local total
    total=$(soxi -D "$1" | awk '{ printf "%d", $1 * 1000 }')
    silences "$1" | awk -v total="$total" '
        $1 > 0 && $1 + $2 < total - 5 && $2 > best { best = $2 }
        END { print best + 0 }'
}

status=0
printf '%-6s %10s %10s %8s %12s %12s  %s\n' voice "flite s" "ours s" "diff %" \
    "flite gap" "ours gap" result
for voice in "${VOICES[@]}"; do
    mode="$("$SAY" --list | cut -f2 | grep -m1 "^$voice (.*) - flite\$")" ||
        { echo "$voice: FAIL (no such voice in parlen-say --list)"; status=1; continue; }
    "$SAY" --voice "$mode" --out "$WORK/ours.wav" --timings "$WORK/ours.json" "$TEXT"
    flite -voice "$voice" -f "$TEXT" -o "$WORK/flite.wav"
    theirs=$(soxi -D "$WORK/flite.wav")
    ours=$(soxi -D "$WORK/ours.wav")
    diff=$(echo "($ours / $theirs - 1) * 100" | bc -l)

    # Our longest silence lying wholly inside a sentence's speech.
    jq -r '.sentences[] | "\(.start_ms) \(.end_ms)"' "$WORK/ours.json" >"$WORK/spans.txt"
    silences "$WORK/ours.wav" >"$WORK/silences.txt"
    ours_gap=$(awk 'NR == FNR { from[NR] = $1; to[NR] = $2; n = NR; next }
        { while (k < n && to[k + 1] <= $1) k++
          if (k < n && $1 > from[k + 1] && $1 + $2 < to[k + 1] && $2 > best) best = $2 }
        END { print best + 0 }' "$WORK/spans.txt" "$WORK/silences.txt")

    # The command's: each sentence rendered on its own.
    theirs_gap=0
    i=0
    while IFS= read -r sentence; do
        printf '%s\n' "$sentence" >"$WORK/sentence.txt"
        flite -voice "$voice" -f "$WORK/sentence.txt" -o "$WORK/sentence.wav"
        gap=$(inner_longest "$WORK/sentence.wav")
        ((gap > theirs_gap)) && theirs_gap=$gap
        i=$((i + 1))
    done < <(jq -r '.sentences[].text | gsub("\n"; " ")' "$WORK/ours.json")

    verdict=PASS
    if (($(echo "$diff > 2 || $diff < -2" | bc -l))) || ((ours_gap > theirs_gap + 50)); then
        verdict=FAIL
        status=1
    fi
    printf '%-6s %10.2f %10.2f %+8.2f %9d ms %9d ms  %s (%d sentences)\n' "$voice" "$theirs" \
        "$ours" "$diff" "$theirs_gap" "$ours_gap" "$verdict" "$i"
done
exit $status

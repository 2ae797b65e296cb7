#!/usr/bin/env bash
# Benchmarks of Parlen Maker, measured side by side in one run on a release build and
# the private sound server. Prints one line per figure, "name: value unit", or
# "name: error <reason>" when that measurement failed. Details go to build-bench/bench.log.
#
#   ./bench.sh            build, then measure everything (a few minutes)
set -u
ROOT="$(cd "$(dirname "$0")" && pwd)"
BUILD="$ROOT/build-bench"
WORK="$BUILD/work"
LOG="$BUILD/bench.log"
GPL=/usr/share/common-licenses/GPL-3
PAIRS="${BENCH_PAIRS:-9}"
mkdir -p "$WORK"
: >"$LOG"

# What the measurements use beyond the test tools: bc for the arithmetic, GNU time for
# the peak memory, the flite command line as the peer of the flite voices, and the
# encoders' command lines as the peers of compressed renders.
(
    source "$ROOT/scripts/common.sh"
    enable_nonfree
    install_missing "${RUNTIME_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${RHVOICE_PACKAGES[@]}" \
        "${RHVOICE_TEST_PACKAGES[@]}" bc time flite lame vorbis-tools opus-tools flac pandoc poppler-utils
) >>"$LOG" 2>&1 || echo "bench.sh: could not install the packages it needs (see $LOG)" >&2

log() { echo "$*" >>"$LOG"; }

# Runs a command that prints figures; every expected name missing from its output is
# reported as an error with the last line it wrote to standard error.
measure() {
    local names="$1"
    shift
    local out="$WORK/out.txt" err="$WORK/err.txt" rc
    log "== $*"
    if declare -F "$1" >/dev/null; then
        "$@" >"$out" 2>"$err"
    else
        timeout 600 "$@" >"$out" 2>"$err"
    fi
    rc=$?
    cat "$err" "$out" >>"$LOG"
    local reason
    reason="$(grep -v '^\s*$' "$err" | tail -n 1)"
    [ -n "$reason" ] || reason="exit status $rc"
    [ "$rc" = 124 ] && reason="timed out"
    for name in $names; do
        if grep -q "^$name: " "$out"; then
            grep "^$name: " "$out"
        else
            echo "$name: error $reason"
        fi
    done
}

ALL_FIGURES="render_speed_vs_espeak_cli render_duration_ratio render_speed_vs_espeak_cli_one_core
render_speed_10x render_speed_vs_flite_cli render_mp3_vs_pipeline render_ogg_vs_pipeline
render_opus_vs_pipeline render_flac_vs_pipeline render_m4b_vs_pipeline import_pdf_300_pages_vs_pdftotext import_epub_1MB_vs_pandoc
render_epub_chaptered_mp3_vs_pipeline batch_20_docs_vs_single_runs first_audio_ms_1MB
word_sync_error_ms_p95 pause_to_silence_ms stop_to_silence_ms resume_start_after_sound_ms
render_peak_rss_mib_3500KB
render_peak_rss_mib_one_word startup_ms_one_word stall_load_5MB_ms stall_speak_click_5MB_ms stall_save_click_5MB_ms stall_speaking_ms
stall_rendering_ms stall_load_5MB_document_ms window_word_sync_error_ms_p95 list_voices_ms festival_first_audio_ms_1MB
render_speed_vs_text2wave_one_job festival_duration_ratio render_speed_vs_text2wave
first_audio_ms_1MB_rhvoice render_speed_vs_rhvoice_test_one_core rhvoice_duration_ratio
render_speed_vs_rhvoice_test
render_lexicon_10k_cost render_lexicon_1k_regex_cost"

fail_all() {
    for name in $ALL_FIGURES; do echo "$name: error $1"; done
    exit 1
}

# --- build -------------------------------------------------------------------------
{
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARLEN_WERROR=ON \
        -DPARLEN_TESTS=OFF &&
        ninja -C "$BUILD" -j2 parlen-say bench_speech bench_window bench_make_pdf parlen_pdf parlen_m4b
} >>"$LOG" 2>&1 || fail_all "build failed (see $LOG)"
SAY="$BUILD/bin/parlen-say"

# --- sound server ------------------------------------------------------------------
# shellcheck source=scripts/sound-server.sh
source "$ROOT/scripts/sound-server.sh"
sound_server_start "$BUILD/sound" >>"$LOG" 2>&1
trap 'sound_server_stop' EXIT
pactl info >/dev/null 2>&1 || fail_all "the sound server did not start"

# --- the voice espeak-ng speaks by default -------------------------------------------
# espeak-ng's default voice is "en"; its entry in the voice list names our mode.
default_voice() {
    local name
    name="$(espeak-ng --voices=en | awk '$5 ~ /\/en$/ { print $4; exit }' | tr '_' ' ')"
    [ -n "$name" ] || return 1
    "$SAY" --list 2>/dev/null | cut -f2 | grep -Fx "$name - espeak-ng"
}
VOICE="$(default_voice)" || fail_all "no mode for espeak-ng's default voice"
log "voice: $VOICE"

# --- rendering speed against the engines' command lines ------------------------------
# Each figure times the two commands in alternated pairs (the first of a pair changes
# every time) and takes the ratio pair by pair, so that a burst of load elsewhere on
# the machine skews one pair rather than one side. Ratios are the peer's time over
# ours: above 1 we are faster. Prints "NAME: median x (min .. max, N pairs)".
now() { date +%s.%N; }
elapsed() { # elapsed START -> seconds since START
    echo "$(now) - $1" | bc
}
paired_ratio() { # NAME PEER_FUNCTION OUR_FUNCTION [PEER_SCALE OUR_SCALE]
    local name="$1" peer="$2" ours="$3" ratios=() t tp to
    for ((i = 0; i < PAIRS; i++)); do
        if ((i % 2 == 0)); then
            t=$(now) && "$peer" && tp=$(elapsed "$t") || { echo "$peer failed" >&2; return 1; }
            t=$(now) && "$ours" && to=$(elapsed "$t") || { echo "$ours failed" >&2; return 1; }
        else
            t=$(now) && "$ours" && to=$(elapsed "$t") || { echo "$ours failed" >&2; return 1; }
            t=$(now) && "$peer" && tp=$(elapsed "$t") || { echo "$peer failed" >&2; return 1; }
        fi
        # Per second of audio where the two sides render different lengths.
        ratios+=("$(echo "($tp / ${4:-1}) / ($to / ${5:-1})" | bc -l)")
        echo "$name pair $i: $peer $tp s, $ours $to s, ratio ${ratios[i]}" >&2
    done
    local sorted
    sorted=$(printf '%s\n' "${ratios[@]}" | sort -g)
    printf '%s: %.3f x (%.3f .. %.3f, %d pairs)\n' "$name" \
        "$(sed -n "$((PAIRS / 2 + 1))p" <<<"$sorted")" "$(head -n 1 <<<"$sorted")" \
        "$(tail -n 1 <<<"$sorted")" "$PAIRS"
}

TEN="$WORK/gpl-3-10x.txt"
for _ in $(seq 10); do cat "$GPL"; done >"$TEN"
espeak_gpl() { espeak-ng -w "$WORK/espeak.wav" -f "$GPL"; }
ours_gpl() { "$SAY" --wav "$WORK/ours.wav" --voice "$VOICE" "$GPL"; }
espeak_gpl_one_core() { taskset -c 0 espeak-ng -w "$WORK/espeak.wav" -f "$GPL"; }
ours_gpl_one_core() {
    PARLEN_RENDER_JOBS=1 taskset -c 0 "$SAY" --wav "$WORK/ours.wav" --voice "$VOICE" "$GPL"
}
espeak_10x() { espeak-ng -w "$WORK/espeak.wav" -f "$TEN"; }
ours_10x() { "$SAY" --wav "$WORK/ours.wav" --voice "$VOICE" "$TEN"; }
flite_gpl() { flite -voice kal -f "$GPL" -o "$WORK/flite.wav"; }
ours_flite_gpl() { "$SAY" --wav "$WORK/ours-kal.wav" --voice "$FLITE_VOICE" "$GPL"; }

render_speed() {
    paired_ratio render_speed_vs_espeak_cli espeak_gpl ours_gpl || return 1
    local dt do
    dt=$(soxi -D "$WORK/espeak.wav") && do=$(soxi -D "$WORK/ours.wav") || return 1
    echo "durations: espeak-ng $dt s, parlen-say $do s" >&2
    printf 'render_duration_ratio: %.4f x\n' "$(echo "$do / $dt" | bc -l)"
    paired_ratio render_speed_vs_espeak_cli_one_core espeak_gpl_one_core ours_gpl_one_core &&
        paired_ratio render_speed_10x espeak_10x ours_10x
}
measure "render_speed_vs_espeak_cli render_duration_ratio render_speed_vs_espeak_cli_one_core
render_speed_10x" render_speed

# flite renders slower than real time on some voices; the figure is per second of audio.
flite_speed() {
    FLITE_VOICE="$("$SAY" --list 2>/dev/null | cut -f2 | grep -m1 '^kal (.*) - flite$')" ||
        { echo "no mode for flite's kal voice" >&2; return 1; }
    flite_gpl && ours_flite_gpl || return 1
    local dp do
    dp=$(soxi -D "$WORK/flite.wav") && do=$(soxi -D "$WORK/ours-kal.wav") || return 1
    echo "durations: flite $dp s, parlen-say $do s" >&2
    paired_ratio render_speed_vs_flite_cli flite_gpl ours_flite_gpl "$dp" "$do"
}
measure render_speed_vs_flite_cli flite_speed

# --- compressed renders against espeak-ng piped into each encoder's command line -------
# The same setting on both sides: MP3 at 64 kbit/s CBR (lame -b 64), Vorbis at quality 4
# (oggenc -q 4), Opus at 32 kbit/s VBR (opusenc --bitrate 32), FLAC at level 5 (flac -5),
# M4B as AAC at 64 kbit/s (ffmpeg -c:a aac -b:a 64k, the same encoder).
pipe_mp3() { espeak-ng --stdout -v en -f "$GPL" | lame --silent -b 64 - "$WORK/pipe.mp3"; }
pipe_ogg() { espeak-ng --stdout -v en -f "$GPL" | oggenc -Q -q 4 - -o "$WORK/pipe.ogg"; }
pipe_opus() { espeak-ng --stdout -v en -f "$GPL" | opusenc --quiet --bitrate 32 - "$WORK/pipe.opus"; }
# flac warns that the piped WAV ends before its header's length, and encodes it whole.
pipe_flac() { espeak-ng --stdout -v en -f "$GPL" | flac -s -5 -f - -o "$WORK/pipe.flac"; }
# FFmpeg's AAC encoder takes about a minute for GPL-3 on either side: a fifth of it.
head -c 7000 "$GPL" >"$WORK/gpl-7k.txt"
pipe_m4b() {
    espeak-ng --stdout -v en -f "$WORK/gpl-7k.txt" |
        ffmpeg -v error -y -i - -c:a aac -b:a 64k -f ipod "$WORK/pipe.m4b"
}
ours_mp3() { "$SAY" --wav "$WORK/ours.mp3" --voice "$VOICE" "$GPL"; }
ours_ogg() { "$SAY" --wav "$WORK/ours.ogg" --voice "$VOICE" "$GPL"; }
ours_opus() { "$SAY" --wav "$WORK/ours.opus" --voice "$VOICE" "$GPL"; }
ours_flac() { "$SAY" --wav "$WORK/ours.flac" --voice "$VOICE" "$GPL"; }
ours_m4b() { "$SAY" --wav "$WORK/ours.m4b" --voice "$VOICE" "$WORK/gpl-7k.txt"; }
compressed_speed() {
    paired_ratio render_mp3_vs_pipeline pipe_mp3 ours_mp3 &&
        paired_ratio render_ogg_vs_pipeline pipe_ogg ours_ogg &&
        paired_ratio render_opus_vs_pipeline pipe_opus ours_opus &&
        paired_ratio render_flac_vs_pipeline pipe_flac ours_flac &&
        paired_ratio render_m4b_vs_pipeline pipe_m4b ours_m4b
}
measure "render_mp3_vs_pipeline render_ogg_vs_pipeline render_opus_vs_pipeline render_flac_vs_pipeline
render_m4b_vs_pipeline" compressed_speed

# --- importing documents, against pdftotext and pandoc ------------------------------
# A 300-page PDF with a running head and page numbers, and an EPUB of 1 MB of text in
# chapters (made by pandoc from Markdown), each read into plain text on both sides.
import_speed() {
    local book="$WORK/book.md" chapter=0
    "$BUILD/bin/bench_make_pdf" "$GPL" 300 "$WORK/book.pdf" || return 1
    : >"$book"
    while [ "$(stat -c %s "$book")" -lt 1048576 ]; do
        chapter=$((chapter + 1))
        printf '# Chapter %d\n\n' "$chapter" >>"$book"
        head -c 30000 "$GPL" | sed 's/[<>*_#`\\[]/ /g' >>"$book"
        printf '\n\n' >>"$book"
    done
    pandoc -f markdown -o "$WORK/book.epub" "$book" || return 1
    pdftotext_pdf() { pdftotext "$WORK/book.pdf" "$WORK/peer.txt"; }
    ours_pdf() { "$SAY" --print-text "$WORK/book.pdf" >"$WORK/ours.txt"; }
    pandoc_epub() { pandoc -t plain -o "$WORK/peer.txt" "$WORK/book.epub"; }
    ours_epub() { "$SAY" --print-text "$WORK/book.epub" >"$WORK/ours.txt"; }
    paired_ratio import_pdf_300_pages_vs_pdftotext pdftotext_pdf ours_pdf &&
        paired_ratio import_epub_1MB_vs_pandoc pandoc_epub ours_epub
}
measure "import_pdf_300_pages_vs_pdftotext import_epub_1MB_vs_pandoc" import_speed

# An EPUB of GPL-3 in four chapters into one MP3 at 64 kbit/s: ours with its chapter
# marks, against pandoc's text piped through espeak-ng into lame.
chaptered_speed() {
    local book="$WORK/gpl.md"
    awk 'NR == 1 || NR % 170 == 0 { print "\n# Part " ++n "\n" } { print }' "$GPL" |
        sed 's/[<>*_`\[]/ /g' >"$book"
    pandoc -f markdown -o "$WORK/gpl.epub" "$book" || return 1
    pipe_epub_mp3() {
        pandoc -t plain "$WORK/gpl.epub" | espeak-ng --stdout -v en |
            lame --silent -b 64 - "$WORK/pipe-book.mp3"
    }
    ours_epub_mp3() { "$SAY" --out "$WORK/ours-book.mp3" --voice "$VOICE" "$WORK/gpl.epub"; }
    paired_ratio render_epub_chaptered_mp3_vs_pipeline pipe_epub_mp3 ours_epub_mp3
}
measure render_epub_chaptered_mp3_vs_pipeline chaptered_speed

# Twenty documents of about 5 KB (stretches of GPL-3) into MP3: one batch of ours against
# a loop of our single-book runs.
batch_speed() {
    local dir="$WORK/batch" i
    rm -rf "$dir" && mkdir -p "$dir/books"
    for i in $(seq -w 1 20); do
        { printf '# Document %s\n\n' "$i"; tail -c +$((10#$i * 1500)) "$GPL" | head -c 5000 |
            sed 's/[<>*_`#\[]/ /g'; } >"$dir/books/doc$i.md"
    done
    loop_books() {
        rm -rf "$dir/loop" && mkdir "$dir/loop" || return 1
        for f in "$dir"/books/*.md; do
            "$SAY" --voice "$VOICE" --out-dir "$dir/loop" --format mp3 "$f" || return 1
        done
    }
    batch_books() {
        rm -rf "$dir/batch" && mkdir "$dir/batch" &&
            "$SAY" --voice "$VOICE" --out-dir "$dir/batch" --format mp3 "$dir/books" 2>/dev/null
    }
    paired_ratio batch_20_docs_vs_single_runs loop_books batch_books
}
measure batch_20_docs_vs_single_runs batch_speed

# --- speaking aloud ----------------------------------------------------------------
SPEECH=("$BUILD/bin/bench_speech")
measure first_audio_ms_1MB "${SPEECH[@]}" first-audio --voice "$VOICE" --text "$GPL" --dir "$WORK"
measure word_sync_error_ms_p95 "${SPEECH[@]}" word-sync --voice "$VOICE" --text "$GPL" \
    --dir "$WORK"
measure "pause_to_silence_ms stop_to_silence_ms resume_start_after_sound_ms" "${SPEECH[@]}" \
    pause-stop --voice "$VOICE" --text "$GPL" --dir "$WORK"

# --- the window: a 5 MB text, and the word highlight against the voice -------------
measure "stall_load_5MB_ms stall_speak_click_5MB_ms stall_save_click_5MB_ms stall_speaking_ms
stall_rendering_ms stall_load_5MB_document_ms" env QT_QPA_PLATFORM=offscreen "$BUILD/bin/bench_window" stalls \
    --voice "$VOICE" --text "$GPL" --dir "$WORK"
measure window_word_sync_error_ms_p95 env QT_QPA_PLATFORM=offscreen "$BUILD/bin/bench_window" \
    word-sync --voice "$VOICE" --dir "$WORK"

# --- memory rendering a 3.5 MB text --------------------------------------------------
peak_rss() {
    local text="$WORK/text-3500KB.txt" kib
    for _ in $(seq 110); do cat "$GPL"; done | head -c 3584000 >"$text"
    /usr/bin/time -f '%M' -o "$WORK/rss.txt" "$SAY" --wav "$WORK/big.wav" --voice "$VOICE" \
        "$text" || { echo "parlen-say failed on the 3.5 MB text" >&2; return 1; }
    kib=$(tail -n 1 "$WORK/rss.txt")
    echo "rendered $(soxi -D "$WORK/big.wav") s of audio, peak $kib KiB" >&2
    rm -f "$WORK/big.wav"  # about 9 GB
    printf 'render_peak_rss_mib_3500KB: %.1f MiB\n' "$(echo "$kib / 1024" | bc -l)"
    # The same program rendering one word: what the text and its rendering add is the
    # difference.
    echo "one" >"$WORK/one-word.txt"
    /usr/bin/time -f '%M' -o "$WORK/rss.txt" "$SAY" --wav "$WORK/one-word.wav" --voice "$VOICE" \
        "$WORK/one-word.txt" || { echo "parlen-say failed on one word" >&2; return 1; }
    kib=$(tail -n 1 "$WORK/rss.txt")
    printf 'render_peak_rss_mib_one_word: %.1f MiB\n' "$(echo "$kib / 1024" | bc -l)"
}
measure "render_peak_rss_mib_3500KB render_peak_rss_mib_one_word" peak_rss

# --- start-up: one word into a file, against the espeak-ng command doing the same -----
# What a batch of small files pays per file. Timed with the shell's clock (no process
# of its own around each run) in alternated pairs; prints our median in ms with the
# peer's median and the median of per-pair ratios (ours over the peer's: below 1 we
# start faster).
startup() {
    local pairs=21 ours=() peer=() ratios=() to tp i
    echo "one" >"$WORK/one-word.txt"
    run_ours() { "$SAY" --out "$WORK/startup.wav" --voice "$VOICE" "$WORK/one-word.txt"; }
    run_peer() { espeak-ng -w "$WORK/startup-espeak.wav" one; }
    run_ours && run_peer || { echo "a one-word render failed" >&2; return 1; }
    # timed VAR FUNCTION: FUNCTION's wall time in ms into VAR.
    timed() {
        local s=$EPOCHREALTIME e
        "$2" || return 1
        e=$EPOCHREALTIME
        printf -v "$1" '%s' "$(echo "(${e/,/.} - ${s/,/.}) * 1000" | bc -l)"
    }
    for ((i = 0; i < pairs; i++)); do
        if ((i % 2 == 0)); then
            timed tp run_peer && timed to run_ours
        else
            timed to run_ours && timed tp run_peer
        fi || { echo "a one-word render failed" >&2; return 1; }
        ours+=("$to") peer+=("$tp") ratios+=("$(echo "$to / $tp" | bc -l)")
        echo "startup pair $i: parlen-say $to ms, espeak-ng $tp ms" >&2
    done
    median() { printf '%s\n' "$@" | sort -g | sed -n "$(($# / 2 + 1))p"; }
    printf 'startup_ms_one_word: %.1f ms (espeak-ng %.1f ms; ratio %.2f x, %d pairs)\n' \
        "$(median "${ours[@]}")" "$(median "${peer[@]}")" "$(median "${ratios[@]}")" "$pairs"
}
measure startup_ms_one_word startup

# --- Festival: listing without starting it, first audio, and its own command line -----
list_voices() {
    local runs=() t
    for _ in 1 2 3 4 5; do
        t=$(now) && "$SAY" --list >/dev/null || { echo "parlen-say --list failed" >&2; return 1; }
        runs+=("$(echo "($(now) - $t) * 1000" | bc -l)")
    done
    echo "list runs (ms): ${runs[*]}" >&2
    printf 'list_voices_ms: %.1f ms\n' "$(printf '%s\n' "${runs[@]}" | sort -g | sed -n 3p)"
}
measure list_voices_ms list_voices

FEST_VOICE="$("$SAY" --list 2>/dev/null | cut -f2 | grep -m1 '^slt (.*HTS) - festival$')"
log "Festival voice: ${FEST_VOICE:-none}"
festival_first_audio() {
    [ -n "$FEST_VOICE" ] || { echo "no Festival slt voice" >&2; return 1; }
    "${SPEECH[@]}" first-audio --voice "$FEST_VOICE" --text "$GPL" --dir "$WORK" |
        sed 's/^first_audio_ms_1MB:/festival_first_audio_ms_1MB:/'
}
measure festival_first_audio_ms_1MB festival_first_audio

# text2wave renders a minute of GPL-3 or more: three pairs each.
text2wave_gpl() { text2wave -eval "(voice_cmu_us_slt_arctic_hts)" "$GPL" -o "$WORK/t2w.wav"; }
ours_festival_one_job() { "$SAY" --out "$WORK/ours-fest.wav" --jobs 1 --voice "$FEST_VOICE" "$GPL"; }
ours_festival() { "$SAY" --out "$WORK/ours-fest.wav" --voice "$FEST_VOICE" "$GPL"; }
festival_speed() {
    [ -n "$FEST_VOICE" ] || { echo "no Festival slt voice" >&2; return 1; }
    local PAIRS=3 dt do
    paired_ratio render_speed_vs_text2wave_one_job text2wave_gpl ours_festival_one_job || return 1
    dt=$(soxi -D "$WORK/t2w.wav") && do=$(soxi -D "$WORK/ours-fest.wav") || return 1
    echo "durations: text2wave $dt s, parlen-say $do s" >&2
    printf 'festival_duration_ratio: %.4f x\n' "$(echo "$do / $dt" | bc -l)"
    paired_ratio render_speed_vs_text2wave text2wave_gpl ours_festival
}
measure "render_speed_vs_text2wave_one_job festival_duration_ratio render_speed_vs_text2wave" \
    festival_speed

# --- RHVoice: first audio, and its own command line (RHVoice-test) with the same voice --
# RHVoice-test speaks at RHVoice's own rate, pitch and volume (100 %), as our defaults do.
RHV_VOICE="$("$SAY" --list 2>/dev/null | cut -f2 | grep -m1 '^slt (.*) - RHVoice$')"
log "RHVoice voice: ${RHV_VOICE:-none}"
rhvoice_first_audio() {
    [ -n "$RHV_VOICE" ] || { echo "no RHVoice slt voice" >&2; return 1; }
    "${SPEECH[@]}" first-audio --voice "$RHV_VOICE" --text "$GPL" --dir "$WORK" |
        sed 's/^first_audio_ms_1MB:/first_audio_ms_1MB_rhvoice:/'
}
measure first_audio_ms_1MB_rhvoice rhvoice_first_audio

rhvoice_test_gpl() { RHVoice-test -p slt -i "$GPL" -o "$WORK/rhv-test.wav"; }
rhvoice_test_one_core() { taskset -c 0 RHVoice-test -p slt -i "$GPL" -o "$WORK/rhv-test.wav"; }
ours_rhvoice_one_core() {
    taskset -c 0 "$SAY" --out "$WORK/ours-rhv.wav" --jobs 1 --voice "$RHV_VOICE" "$GPL"
}
ours_rhvoice() { "$SAY" --out "$WORK/ours-rhv.wav" --voice "$RHV_VOICE" "$GPL"; }
# Each side renders about half a minute of GPL-3 or more: five pairs each, since on one
# core both sides spend over nine tenths of their time in RHVoice's own synthesis.
rhvoice_speed() {
    [ -n "$RHV_VOICE" ] || { echo "no RHVoice slt voice" >&2; return 1; }
    local PAIRS=5 dt do
    paired_ratio render_speed_vs_rhvoice_test_one_core rhvoice_test_one_core \
        ours_rhvoice_one_core || return 1
    dt=$(soxi -D "$WORK/rhv-test.wav") && do=$(soxi -D "$WORK/ours-rhv.wav") || return 1
    echo "durations: RHVoice-test $dt s, parlen-say $do s" >&2
    printf 'rhvoice_duration_ratio: %.4f x\n' "$(echo "$do / $dt" | bc -l)"
    paired_ratio render_speed_vs_rhvoice_test rhvoice_test_gpl ours_rhvoice
}
measure "render_speed_vs_rhvoice_test_one_core rhvoice_duration_ratio render_speed_vs_rhvoice_test" \
    rhvoice_speed

# --- lexicons: what applying them costs a render ----------------------------------------
# GPL-3 with a lexicon of 10,000 words (every word of GPL-3, said as written, and made-up
# ones up to the count), and with one of 1,000 regular expressions (a few that match),
# against the same render without: the ratio is our time with the lexicon over our time
# without, so 1.05 is five per cent more.
LEX_WORDS="$WORK/lexicon-10k.pls" LEX_REGEX="$WORK/lexicon-1k-regex.pls"
make_lexicons() {
    local head='<?xml version="1.0" encoding="UTF-8"?>
<lexicon version="1.0" xmlns="http://www.w3.org/2005/01/pronunciation-lexicon" xmlns:pm="urn:x-parlenmaker:lexicon" xml:lang="und" pm:scope="global">'
    {
        echo "$head"
        tr -cs 'A-Za-z' '\n' <"$GPL" | sort -u | grep -v '^$' |
            awk '{ print "<lexeme><grapheme>" $0 "</grapheme><alias>" $0 "</alias></lexeme>"; n++ }
                 END { for (i = n; i < 10000; i++)
                         print "<lexeme><grapheme>qz" i "word</grapheme><alias>word</alias></lexeme>" }'
        echo '</lexicon>'
    } >"$LEX_WORDS"
    {
        echo "$head"
        awk 'BEGIN { for (i = 0; i < 1000; i++)
                       if (i % 100 == 0) print "<pm:regex pm:pattern=\"\\bsoftware\\b\"><alias>software</alias></pm:regex>"
                       else print "<pm:regex pm:pattern=\"\\b(?:w" i "x|z" i "y)[a-z]*\\b\"><alias>w</alias></pm:regex>" }'
        echo '</lexicon>'
    } >"$LEX_REGEX"
}
plain_gpl() { "$SAY" --no-user-lexicon --wav "$WORK/plain.wav" --voice "$VOICE" "$GPL"; }
lexicon_gpl() {
    "$SAY" --no-user-lexicon --lexicon "$LEX_WORDS" --wav "$WORK/lex.wav" --voice "$VOICE" "$GPL"
}
regex_gpl() {
    "$SAY" --no-user-lexicon --lexicon "$LEX_REGEX" --wav "$WORK/regex.wav" --voice "$VOICE" "$GPL"
}
lexicon_cost() {
    make_lexicons || return 1
    paired_ratio render_lexicon_10k_cost lexicon_gpl plain_gpl &&
        paired_ratio render_lexicon_1k_regex_cost regex_gpl plain_gpl
}
measure "render_lexicon_10k_cost render_lexicon_1k_regex_cost" lexicon_cost

#!/usr/bin/env bash
# parlen-say --out-dir with many books:
# - a batch of ten documents, two at a time, killed (SIGKILL) midway and run again
#   resumes: the files
#   finished before keep their times, no half-written file ever shows under a book's
#   name, and every output equals the one of an uninterrupted run, byte for byte;
# - a folder's pipes are left out; books split by chapter get a folder each, and a
#   rerun skips them;
# - a book that cannot be read, or one named as another, fails alone: the others are
#   rendered, the exit status is 1 and the summary names the book and the reason;
# - SIGINT stops the batch at once, keeps the books finished and leaves no partial file;
# - a full disk fails the book it hits with the system's reason and leaves nothing of it.
#
# Usage: tests/scripts/check-batch.sh [BIN_DIR]   (default: build/bin)
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="$(cd "${1:-$ROOT/build/bin}" && pwd)"
SAY="$BIN/parlen-say"
VOICE="English (America) - espeak-ng"
W="$(mktemp -d)"
trap 'umount -l "$W/disk" 2>/dev/null; rm -rf "$W"' EXIT
FAILS=0
pass() { echo "PASS $1: $2"; }
fail() { echo "FAIL $1: $2"; FAILS=$((FAILS + 1)); }
JOBS=1
say() {
    "$SAY" --voice "$VOICE" --jobs "$JOBS" "$@" 2>"$W/err"
    RC=$?
    ERR="$(cat "$W/err")"
}
visible() { ls "$1" | tr '\n' ' '; }
times() { (cd "$1" && stat -c '%n %y' -- $2); }

mkdir -p "$W/books" "$W/ref" "$W/out"
for i in 01 02 03 04 05 06 07 08 09 10; do
    {
        printf '# Book %s\n\n' "$i"
        for c in One Two; do
            printf '## Chapter %s\n\n' "$c"
            for s in $(seq 1 12); do
                printf 'Sentence %s of chapter %s in book %s goes on for a while. ' "$s" "$c" "$i"
            done
            printf '\n\n'
        done
    } >"$W/books/book$i.md"
done

# A pipe among the books is no book: reading it would hold the batch up.
mkfifo "$W/books/pipe.txt"
# Two books at a time, each rendered by one process.
JOBS=2
say --out-dir "$W/ref" --format wav "$W/books"
[ "$RC" -eq 0 ] && [ "$(ls "$W/ref" | wc -l)" = 10 ] || fail reference "exit $RC: $ERR"

"$SAY" --voice "$VOICE" --jobs 2 --out-dir "$W/out" --format wav "$W/books" 2>/dev/null &
pid=$!
for _ in $(seq 1 600); do
    [ "$(ls "$W/out" | wc -l)" -ge 4 ] && break
    sleep 0.05
done
kill -KILL "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
names="$(ls "$W/out")"
before="$(times "$W/out" "$names")"
kept=$(wc -w <<<"$names")
partial=""
for f in "$W"/out/*.wav; do cmp -s "$f" "$W/ref/${f##*/}" || partial+="${f##*/} "; done
sleep 1.1
say --out-dir "$W/out" --format wav "$W/books"
after="$(times "$W/out" "$names")"
same=""
for f in "$W"/ref/*.wav; do cmp -s "$f" "$W/out/${f##*/}" || same+="${f##*/} "; done
if [ "$kept" -ge 4 ] && [ "$kept" -lt 10 ] && [ -z "$partial" ] && [ "$RC" -eq 0 ] &&
    [ "$before" = "$after" ] && [ -z "$same" ] && [ "$(ls -A "$W/out" | wc -l)" = 10 ] &&
    grep -q "$((10 - kept)) rendered, $kept finished before, 0 failed" <<<"$ERR"; then
    pass resume "killed after $kept books; those kept their times, all 10 equal the reference"
else
    fail resume "kept $kept, partial '$partial', differing '$same', exit $RC: $ERR"
fi
JOBS=1

mkdir "$W/chapters"
say --out-dir "$W/chapters" --format flac --per-chapter "$W/books/book01.md" "$W/books/book02.md"
first="$(visible "$W/chapters") / $(visible "$W/chapters/book01")"
say --out-dir "$W/chapters" --format flac --per-chapter "$W/books/book01.md" "$W/books/book02.md"
if [ "$first" = "book01 book02  / 01 Book 01.flac 02 Chapter One.flac 03 Chapter Two.flac " ] &&
    [ "$RC" -eq 0 ] && grep -q "0 rendered, 2 finished before" <<<"$ERR"; then
    pass per-chapter "$first, skipped on the rerun"
else
    fail per-chapter "'$first', exit $RC: $ERR"
fi

mkdir "$W/mixed"
printf 'not a zip' >"$W/books/broken.epub"
mkdir "$W/other" && cp "$W/books/book02.md" "$W/other/book01.md"
say --out-dir "$W/mixed" --format mp3 "$W/books/book01.md" "$W/books/broken.epub" \
    "$W/books/book02.md" "$W/other/book01.md"
rm "$W/books/broken.epub"
if [ "$RC" -eq 1 ] && [ "$(visible "$W/mixed")" = "book01.mp3 book02.mp3 " ] &&
    grep -q "2 rendered, 0 finished before, 2 failed" <<<"$ERR" &&
    grep -q "failed: '$W/books/broken.epub': .*broken.epub" <<<"$ERR" &&
    grep -q "failed: '$W/other/book01.md': .* the same name" <<<"$ERR"; then
    pass failure "exit 1: $(tail -1 <<<"$ERR")"
else
    fail failure "exit $RC, files '$(visible "$W/mixed")': $ERR"
fi

mkdir "$W/stopped"
"$SAY" --voice "$VOICE" --jobs 1 --out-dir "$W/stopped" --format ogg "$W/books" 2>"$W/err" &
pid=$!
for _ in $(seq 1 600); do
    [ "$(ls "$W/stopped" | wc -l)" -ge 2 ] && break
    sleep 0.05
done
kill -INT "$pid"
wait "$pid"
RC=$?
ERR="$(cat "$W/err")"
n=$(ls "$W/stopped" | wc -l)
if [ "$RC" -eq 1 ] && [ "$n" -lt 10 ] && [ "$(ls -A "$W/stopped" | wc -l)" = "$n" ] &&
    grep -q "interrupted: .* books not begun" <<<"$ERR"; then
    pass interrupt "exit 1 after $n whole books, nothing partial"
else
    fail interrupt "exit $RC, $n files: $ERR"
fi

if mkdir -p "$W/disk" && mount -t tmpfs -o size=256k tmpfs "$W/disk" 2>/dev/null; then
    say --out-dir "$W/disk" --format wav "$W/books"
    if [ "$RC" -eq 1 ] && grep -q "No space left" <<<"$ERR" && grep -q "failed: '" <<<"$ERR" &&
        [ -z "$(ls -A "$W/disk" | grep '^\.')" ]; then
        pass full-disk "exit 1, $(ls "$W/disk" | wc -l) whole books, no leftovers: $(tail -1 <<<"$ERR")"
    else
        fail full-disk "exit $RC, files '$(ls -A "$W/disk" | tr '\n' ' ')': $ERR"
    fi
else
    echo "NOTE: mounting a tmpfs is refused (not root?): the full-disk probe is skipped"
fi
[ "$FAILS" -eq 0 ] && echo "all batch checks pass" || echo "$FAILS check(s) failed"
exit $((FAILS > 0))

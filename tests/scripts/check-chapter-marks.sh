#!/usr/bin/env bash
# Chapter marks in parlen-say's files. A book of three chapters is rendered into each
# format (MP3, Ogg Vorbis, Opus, FLAC, M4B) with its timings:
# - ffprobe lists every chapter with its title, each start within 1 ms of the timings'
#   chapter start and no later than the chapter's first word;
# - the MP3's table of contents (CTOC, read with mutagen) is top-level and ordered, and
#   lists every CHAP frame in time order; the M4B has the brand "M4B ", a Nero chapter
#   list and a chapter track; the WAV file's cue points carry the titles;
# - a read-along EPUB passes epubcheck, its overlays' clips lie on the timings' word
#   starts and sentence ends, and its chapters last as long as the one-file render;
# - --only gives marks for the chosen chapters alone, the first at the start;
# - --per-chapter splits the render into "NN Title" files with safe names and track
#   numbers, which together hold exactly the samples of the one-file render;
# - --split-minutes and --split-mb keep every file within the limit, cut at chapter
#   starts or sentence ends, and together hold exactly the one-file render's samples;
# - a target that is no regular file gets the audio and a warning, not marks;
# - a disk too full for the marked file keeps the file as rendered, exits 1 and names it.
#
# Usage: tests/scripts/check-chapter-marks.sh [BIN_DIR]   (default: build/bin)
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BIN="$(cd "${1:-$ROOT/build/bin}" && pwd)"
SAY="$BIN/parlen-say"
VOICE="English (America) - espeak-ng"
W="$(mktemp -d)"
trap 'umount -l "$W/disk" 2>/dev/null; rm -rf "$W"' EXIT
for tool in ffprobe python3 java; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 2; }
done
FAILS=0
pass() { echo "PASS $1: $2"; }
fail() { echo "FAIL $1: $2"; FAILS=$((FAILS + 1)); }
say() {
    "$SAY" --voice "$VOICE" "$@" 2>"$W/err"
    RC=$?
    ERR="$(tr '\n' ' ' <"$W/err")"
}

cat >"$W/book.md" <<'EOF'
# Chapter One

The first chapter begins here. It has two sentences.

# Chapter «Two»

Second chapter words.

## A Part of Two

Deeper text, said last.
EOF

# compare TIMINGS MARKS TITLES...: the marks (JSON: [[title, start_ms], ...]) against the
# timings' chapters and words.
compare() {
    python3 - "$@" <<'EOF'
import json, sys
timings, marks, titles = json.load(open(sys.argv[1])), json.load(open(sys.argv[2])), sys.argv[3:]
chapters = timings.get("chapters", [])
problems = []
if [c["title"] for c in chapters] != titles:
    problems.append("timings chapters %r" % [c["title"] for c in chapters])
if [m[0] for m in marks] != titles:
    problems.append("file chapters %r" % [m[0] for m in marks])
words, at = timings["words"], 0
for c, m in zip(chapters, marks):
    if abs(m[1] - c["start_ms"]) > 1:
        problems.append("%s starts at %s ms, the timings say %s" % (c["title"], m[1], c["start_ms"]))
    first = c["title"].split()[0]
    while at < len(words) and words[at]["text"] != first:
        at += 1
    if at == len(words) or m[1] > words[at]["start_ms"] + 0.001:
        problems.append("%s starts after its first word" % c["title"])
    at += 1
if chapters and chapters[0]["start_ms"] != 0:
    problems.append("the first chapter starts at %s ms" % chapters[0]["start_ms"])
print("; ".join(problems) or "%d chapters" % len(marks))
sys.exit(1 if problems else 0)
EOF
}
ffprobe_marks() {
    ffprobe -v error -show_chapters -of json "$1" | python3 -c '
import json, sys
print(json.dumps([[c.get("tags", {}).get("title"), round(float(c["start_time"]) * 1000, 3)]
                  for c in json.load(sys.stdin)["chapters"]]))'
}
TITLES=("Chapter One" "Chapter «Two»" "A Part of Two")
for ext in mp3 ogg opus flac m4b; do
    say --out "$W/b.$ext" --timings "$W/b.$ext.json" "$W/book.md"
    if [ "$RC" -ne 0 ]; then fail "$ext" "exit $RC: $ERR"; continue; fi
    ffprobe_marks "$W/b.$ext" >"$W/marks.json"
    out="$(compare "$W/b.$ext.json" "$W/marks.json" "${TITLES[@]}")"
    [ $? -eq 0 ] && pass "$ext" "$out" || fail "$ext" "$out"
done

# Debian's own Python, which has Debian's mutagen.
out="$(/usr/bin/python3 - "$W/b.mp3" <<'EOF' 2>&1
import sys
from mutagen.id3 import ID3, CTOCFlags
tag = ID3(sys.argv[1])
tocs, chaps = tag.getall("CTOC"), tag.getall("CHAP")
assert len(tocs) == 1, "%d CTOC frames" % len(tocs)
toc = tocs[0]
assert toc.flags & CTOCFlags.TOP_LEVEL and toc.flags & CTOCFlags.ORDERED, "flags %r" % toc.flags
by_time = [c.element_id for c in sorted(chaps, key=lambda c: c.start_time)]
assert list(toc.child_element_ids) == by_time, "%r" % toc.child_element_ids
assert all("TIT2" in c.sub_frames for c in chaps), "a CHAP has no title"
print("CTOC lists %d CHAP frames in order" % len(chaps))
EOF
)"
[ $? -eq 0 ] && pass mp3-toc "$out" || fail mp3-toc "$out"

# A read-along EPUB: epubcheck finds nothing wrong; every clip of its overlays lies, in
# the one-file render's time, on a word start or a sentence end of the timings within
# 1 ms; its chapters last as long as the one-file render within 0.1 %.
say --out "$W/b.epub" --timings "$W/b.epub.json" "$W/book.md"
check="$(java -jar /usr/bin/epubcheck "$W/b.epub" 2>&1)"
if [ "$RC" -eq 0 ] && grep -q "0 fatals / 0 errors" <<<"$check"; then
    pass epubcheck "$(grep -m1 Messages <<<"$check")"
else
    fail epubcheck "exit $RC $ERR: $(grep -E 'ERROR|FATAL|Messages' <<<"$check" | head -5)"
fi
out="$(python3 - "$W/b.epub" "$W/b.epub.json" "$W/b.flac" <<'EOF'
import json, re, subprocess, sys, zipfile
book, timings = zipfile.ZipFile(sys.argv[1]), json.load(open(sys.argv[2]))
marks = [w["start_ms"] for w in timings["words"]] + [s["end_ms"] for s in timings["sentences"]]
starts = [c["start_ms"] for c in timings["chapters"]]
opf = book.read("OEBPS/book.opf").decode()
durations = [int(h) * 3600000 + int(m) * 60000 + round(float(s) * 1000) for h, m, s in
             re.findall(r'refines="#mo\d+">(\d+):(\d+):([\d.]+)<', opf)]
whole = float(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                              "csv=p=0", sys.argv[3]], capture_output=True, text=True).stdout) * 1000
problems, clips = [], 0
for i, start in enumerate(starts):
    smil = book.read("OEBPS/c%03d.smil" % (i + 1)).decode()
    for begin, end in re.findall(r'clipBegin="([\d.]+)s" clipEnd="([\d.]+)s"', smil):
        clips += 1
        for t in (begin, end):
            at = start + round(float(t) * 1000)
            if min(abs(at - m) for m in marks) > 1:
                problems.append("chapter %d clip at %d ms" % (i + 1, at))
if len(durations) != len(starts): problems.append("%d overlays, %d chapters" % (len(durations), len(starts)))
if abs(sum(durations) - whole) > whole / 1000: problems.append("%d ms against %d" % (sum(durations), whole))
print("; ".join(problems[:5]) if problems else "ok %d clips in %d overlays, %d ms" % (clips, len(durations), sum(durations)))
EOF
)"
[[ "$out" == ok* ]] && pass read-along "$out" || fail read-along "$out"
printf 'Plain text, no chapters.\nTwo lines of it.\n' >"$W/plain.txt"
say --out "$W/plain.epub" "$W/plain.txt"
if [ "$RC" -eq 0 ] && java -jar /usr/bin/epubcheck "$W/plain.epub" 2>&1 | grep -q "0 fatals / 0 errors"; then
    pass read-along-plain "a text without chapters is a book of one"
else
    fail read-along-plain "exit $RC: $ERR"
fi

# The M4B's brand, its Nero chapter list and QuickTime chapter track, and its tags.
out="$(/usr/bin/python3 - "$W/b.m4b" <<'EOF' 2>&1
import sys
from mutagen.mp4 import MP4
data = open(sys.argv[1], "rb").read()
assert data[8:12] == b"M4B ", "major brand %r" % data[8:12]
assert b"chpl" in data and b"chap" in data, "no Nero chapter list or no chapter track"
tags = MP4(sys.argv[1]).tags
assert tags.get("\xa9nam"), "tags %r" % dict(tags)
print("brand M4B, chpl and a chapter track, title %r" % tags["\xa9nam"][0])
EOF
)"
[ $? -eq 0 ] && pass m4b-layout "$out" || fail m4b-layout "$out"

say --out "$W/b.wav" --timings "$W/b.wav.json" "$W/book.md"
python3 - "$W/b.wav" >"$W/marks.json" <<'EOF'
import json, struct, sys
data = open(sys.argv[1], "rb").read()
at, rate, cues, labels = 12, 0, {}, {}
while at + 8 <= len(data):
    kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    body = data[at + 8:at + 8 + size]
    if kind == b"fmt ":
        rate = struct.unpack("<I", body[4:8])[0]
    elif kind == b"cue ":
        for i in range(struct.unpack("<I", body[:4])[0]):
            point = struct.unpack("<II4sIII", body[4 + 24 * i:28 + 24 * i])
            cues[point[0]] = point[5]
    elif kind == b"LIST" and body[:4] == b"adtl":
        p = 4
        while p + 12 <= len(body):
            n = struct.unpack("<I", body[p + 4:p + 8])[0]
            labels[struct.unpack("<I", body[p + 8:p + 12])[0]] = body[p + 12:p + 8 + n].rstrip(b"\0").decode()
            p += 8 + n + (n & 1)
    at += 8 + size + (size & 1)
print(json.dumps([[labels.get(i), cues[i] * 1000 / rate] for i in sorted(cues)]))
EOF
out="$(compare "$W/b.wav.json" "$W/marks.json" "${TITLES[@]}")"
[ $? -eq 0 ] && ffprobe -v error "$W/b.wav" && pass wav "$out, and it decodes" || fail wav "exit $RC $ERR: $out"

say --only 2-3 --out "$W/o.mp3" --timings "$W/o.json" "$W/book.md"
ffprobe_marks "$W/o.mp3" >"$W/marks.json"
out="$(compare "$W/o.json" "$W/marks.json" "Chapter «Two»" "A Part of Two")"
[ $? -eq 0 ] && pass only "$out" || fail only "exit $RC $ERR: $out"

printf '# What? A: B/C...\n\nSome words first.\n\n# Two\n\nThen a few more words.\n' >"$W/odd.md"
mkdir "$W/split"
say --out "$W/odd.flac" "$W/odd.md"
say --out-dir "$W/split" --format flac --per-chapter "$W/odd.md"
samples() { ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 "$1"; }
names="$(ls "$W/split" | tr '\n' '|')"
sum=$(($(samples "$W/split/01 What_ A_ B_C.flac" 2>/dev/null || echo 0) + $(samples "$W/split/02 Two.flac" 2>/dev/null || echo 0)))
track="$(ffprobe -v error -show_entries format_tags=track,TRACKTOTAL -of csv=p=0 "$W/split/02 Two.flac")"
if [ "$RC" -eq 0 ] && [ "$names" = "01 What_ A_ B_C.flac|02 Two.flac|" ] &&
    [ "$sum" = "$(samples "$W/odd.flac")" ] && [ "$track" = "2,2" ]; then
    pass per-chapter "$names $sum samples as the one file, track $track"
else
    fail per-chapter "exit $RC $ERR: files '$names', $sum samples against $(samples "$W/odd.flac"), track '$track'"
fi

# A book of about three minutes, its second chapter over a minute long, split into files
# of at most a minute, and into FLAC files (variable in size) of at most 1 MB.
python3 - "$W/long.md" <<'EOF'
import sys
words = "the voice reads a long book aloud and every page of it goes into the file".split()
out = []
for c, count in (("First", 6), ("Second", 30), ("Third", 10)):
    out.append("# %s\n\n" % c)
    out += [" ".join(words[(s + k) % len(words)] for k in range(12)).capitalize() + ". "
            for s in range(count)]
    out.append("\n\n")
open(sys.argv[1], "w").write("".join(out))
EOF
say --out "$W/long.flac" --timings "$W/long.json" "$W/long.md"
mkdir "$W/minutes" "$W/minutes-chapters" "$W/mb"
say --out-dir "$W/minutes" --format flac --split-minutes 1 "$W/long.md"
say --out-dir "$W/minutes-chapters" --format flac --split-minutes 1 --per-chapter "$W/long.md"
say --out-dir "$W/mb" --format flac --split-mb 1 "$W/long.md"
# parts FOLDER LIMIT_S LIMIT_BYTES: the files' count, their samples against the one
# file's, and where each is cut, against the timings' chapter starts and sentence ends;
# "ok ..." when all hold.
parts() {
    python3 - "$W/long.json" "$@" "$W/long.flac" <<'EOF'
import json, os, subprocess, sys
timings, folder = json.load(open(sys.argv[1])), sys.argv[2]
limit, size, one = float(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
rate = timings["sample_rate"]
files = sorted(f for f in os.listdir(folder) if not f.startswith("."))
def samples(path):
    return int(subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=duration_ts",
                               "-of", "csv=p=0", path], capture_output=True, text=True).stdout)
counts = [samples(os.path.join(folder, f)) for f in files]
whole, cuts, at = samples(one), [], 0
for n in counts[:-1]:
    at += n
    cuts.append(at * 1000 // rate)
allowed = [c["start_ms"] for c in timings["chapters"]] + [s["end_ms"] for s in timings["sentences"]]
problems = []
if len(files) < 2: problems.append("%d file(s)" % len(files))
if sum(counts) != whole: problems.append("%d samples, the one file %d" % (sum(counts), whole))
if max(counts) > limit * rate: problems.append("a file of %.1f s" % (max(counts) / rate))
big = max(os.path.getsize(os.path.join(folder, f)) for f in files)
if big > size: problems.append("a file of %d bytes" % big)
off = [c for c in cuts if min(abs(c - a) for a in allowed) > 1]
if off: problems.append("cuts at %r ms, neither chapter start nor sentence end" % off)
print("; ".join(problems) if problems else
      "ok %d files (%s), %d samples" % (len(files), " | ".join(files), whole))
EOF
}
for case in "minutes 60 100000000" "minutes-chapters 60 100000000" "mb 100000 1000000"; do
    set -- $case
    out="$(parts "$W/$1" "$2" "$3")"
    [[ "$out" == ok* ]] && pass "split-$1" "$out" || fail "split-$1" "$out"
done
[[ "$(ls "$W/minutes-chapters")" == *"02 Second (1).flac"* ]] ||
    fail split-names "$(ls "$W/minutes-chapters" | tr '\n' '|')"
marks="$(ffprobe -v error -show_chapters -of csv "$W/minutes/02 long (2).flac" | wc -l)"
[ "$marks" -ge 1 ] && pass split-marks "the second part holds $marks chapter mark(s)" ||
    fail split-marks "the second part holds no chapter mark"

mkfifo "$W/fifo.ogg"
cat "$W/fifo.ogg" >/dev/null &
say --out "$W/fifo.ogg" "$W/book.md"
wait
if [ "$RC" -eq 0 ] && grep -q "no chapter marks" <<<"$ERR"; then
    pass fifo "exit 0 with: $ERR"
else
    fail fifo "exit $RC: $ERR"
fi

# Room for the rendered file, not for its marked copy.
if mkdir -p "$W/disk" && mount -t tmpfs -o size=4M tmpfs "$W/disk" 2>/dev/null; then
    size=$(stat -c %s "$W/b.mp3")
    dd if=/dev/zero of="$W/disk/filler" bs=4k 2>/dev/null
    truncate -s $(($(stat -c %s "$W/disk/filler") - size - 65536)) "$W/disk/filler"
    say --out "$W/disk/b.mp3" "$W/book.md"
    left="$(ls -A "$W/disk" | tr '\n' ' ')"
    plain="$(ffprobe -v error -show_chapters -of csv "$W/disk/b.mp3" | wc -l)"
    if [ "$RC" -eq 1 ] && grep -qF "'$W/disk/b.mp3'" <<<"$ERR" && grep -q "No space left" <<<"$ERR" &&
        ffprobe -v error "$W/disk/b.mp3" && [ "$plain" = 0 ] && [ "$left" = "b.mp3 filler " ]; then
        pass full-disk "exit 1, the file decodes without marks: $ERR"
    else
        fail full-disk "exit $RC, files '$left', $plain chapters: $ERR"
    fi
else
    echo "NOTE: mounting a tmpfs is refused (not root?): the full-disk probe is skipped"
fi
[ "$FAILS" -eq 0 ] && echo "all chapter-mark checks pass" || echo "$FAILS check(s) failed"
exit $((FAILS > 0))

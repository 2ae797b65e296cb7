#pragma once
// Chapter marks and a book's tags, written into a finished audio file where each
// container keeps them:
// - MP3: ID3v2.4 CHAP frames (start and end in ms, each titled by a TIT2 frame) under
//   one top-level, ordered CTOC frame that lists them all;
// - FLAC, Ogg Vorbis, Ogg Opus: Vorbis comments CHAPTER001=HH:MM:SS.mmm and
//   CHAPTER001NAME=title;
// - WAV and RF64: a cue point per chapter at its first sample, labelled with its title.
// With title, authors (ARTIST, one each), album, the track number of a file that holds
// one chapter, and the cover where there is one; WAV files take only the cue points.
//
// A compressed file is replaced whole: TagLib marks a copy in memory, which is written
// beside the file, synced and renamed over it. A WAV file gets its cue chunks appended
// (WavCues.h). Either way a failure (a full disk) leaves the file as it was.
#include <string>
#include <vector>

#include "containers/Chapters.h"
#include "containers/Container.h"

namespace containers {

struct BookTags {
    std::string title;  // the album, and the title unless trackTitle is given
    std::vector<std::string> authors;
    std::string coverMediaType;  // "image/jpeg", "image/png"; empty for no cover
    std::string cover;
    // A file that holds one chapter of the book: its title and track number of tracks.
    std::string trackTitle;
    unsigned track = 0, tracks = 0;
    std::string language;  // as the document gives it, e.g. "en-US"; may be empty
};

// Writes chapters (in order, from PlaceChapters; none for a file of one chapter) and
// tags into the file at path, which
// holds audio of `format` whose marks were placed at `rate` samples per second. The last
// chapter is made to end with the audio as the file tells its length. Throws
// EWriteError naming the file and the reason; the file is then unchanged.
void WriteChapterMarks(const std::string& path, FileFormat format,
                       std::vector<ChapterMark>& chapters, uint32_t rate, const BookTags& tags);

// "HH:MM:SS.mmm" of whole milliseconds, as Vorbis comments give chapter starts.
std::string ClockTime(uint64_t ms);

}  // namespace containers

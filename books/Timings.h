#pragma once
// The word and sentence timings of a file render, written as subtitles (WebVTT, SubRip)
// or as a JSON word list, and the sentences a read-along book is timed by. The times are
// the samples the speech service reports for each word start and sentence end, turned
// into milliseconds.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "containers/Chapters.h"
#include "speech/speech.h"

namespace books {

enum class TimingsFormat { WebVtt, SubRip, Json };

// The format a file name's extension names (letter case ignored); nothing for any other.
std::optional<TimingsFormat> TimingsFormatOf(const std::string& path);

struct TimingsSource {
    const std::string& text;  // as handed over: the offsets point into it
    std::string voice;
    uint32_t rate = 0;                      // samples per second of the frames
    std::span<const ParlenWordTime> marks;  // word starts and sentence ends, in order
    bool complete = true;                   // the whole text was rendered, else up to the last mark
    std::span<const containers::ChapterMark> chapters = {};  // a document's, placed
};

// The whole file's content.
std::string FormatTimings(TimingsFormat format, const TimingsSource& source);

// Every sentence of the timeline, cut where a line break lies inside it: its words
// joined by blanks, the offset of its first word, and when its speech begins and ends,
// in whole milliseconds.
struct TimedSentence {
    std::string text;
    uint32_t offset = 0;
    uint64_t startMs = 0, endMs = 0;
};
std::vector<TimedSentence> TimedSentences(const TimingsSource& source);

}  // namespace books

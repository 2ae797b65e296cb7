#pragma once
// Chapter marks of a rendered text: where in the audio each chapter begins and ends.
//
// A chapter begins where the previous chapter's speech ends (the end of its last
// sentence), so the pause before a chapter's first word belongs to that chapter and a
// player that jumps to a mark hears the chapter from its start. The first chapter of
// the text begins at the start of the audio.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "speech/speech.h"

namespace containers {

// A chapter of the text that was rendered: its title and the byte offset of its first
// byte in that text.
struct ChapterStart {
    std::string title;
    uint32_t offset = 0;
};

struct ChapterMark {
    std::string title;
    uint64_t startFrame = 0, endFrame = 0;
    uint64_t startMs = 0, endMs = 0;  // whole milliseconds, rounded down
};

// Milliseconds of `frame` at `rate` samples per second, rounded down, so that a mark
// never comes after the sample it stands for.
uint64_t FrameMs(uint64_t frame, uint32_t rate);

// The marks of chapters (in text order) over the audio that a render's word starts and
// sentence ends (in time order, at `rate` samples per second) describe; the last one
// ends with the last of them. A chapter none of whose words was reached (a render cut
// short) gets no mark; nor does one whose text is empty.
std::vector<ChapterMark> PlaceChapters(std::span<const ChapterStart> chapters,
                                       std::span<const ParlenWordTime> marks, uint32_t rate);

}  // namespace containers

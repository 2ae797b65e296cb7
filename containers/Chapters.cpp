#include "containers/Chapters.h"

#include <algorithm>
#include <limits>

namespace containers {

uint64_t FrameMs(uint64_t frame, uint32_t rate) {
    if (rate == 0) return 0;
    // Split so that the product cannot overflow for any length of audio.
    return frame / rate * 1000 + frame % rate * 1000 / rate;
}

std::vector<ChapterMark> PlaceChapters(std::span<const ChapterStart> chapters,
                                       std::span<const ParlenWordTime> marks, uint32_t rate) {
    std::vector<ChapterMark> placed;
    size_t next = 0;                       // the first mark not yet passed
    const ParlenWordTime* last = nullptr;  // the last mark passed
    for (size_t i = 0; i < chapters.size(); ++i) {
        const uint32_t begin = chapters[i].offset;
        const uint32_t end =
            i + 1 < chapters.size() ? chapters[i + 1].offset : std::numeric_limits<uint32_t>::max();
        // Everything said before the chapter's text: a sentence's end may be told at the
        // chapter's very first byte, a word only before it.
        while (next < marks.size() &&
               (marks[next].sentenceEnd ? marks[next].offset <= begin : marks[next].offset < begin))
            last = &marks[next++];
        const ParlenWordTime* first = nullptr;
        for (size_t k = next; k < marks.size() && marks[k].offset < end; ++k) {
            if (!marks[k].sentenceEnd) {
                first = &marks[k];
                break;
            }
        }
        if (first == nullptr) continue;
        // Where the speech before it ends; without a sentence's end to tell it, at the
        // chapter's first word, since where the word before ends is not known.
        uint64_t start = 0;
        if (last != nullptr)
            start = last->sentenceEnd ? std::min(last->frame, first->frame) : first->frame;
        if (!placed.empty()) placed.back().endFrame = std::max(placed.back().startFrame, start);
        placed.push_back(ChapterMark{chapters[i].title, start, start, 0, 0});
    }
    uint64_t lastFrame = 0;
    for (const ParlenWordTime& m : marks) lastFrame = std::max(lastFrame, m.frame);
    if (!placed.empty()) placed.back().endFrame = std::max(placed.back().startFrame, lastFrame);
    for (ChapterMark& m : placed) {
        m.startMs = FrameMs(m.startFrame, rate);
        m.endMs = FrameMs(m.endFrame, rate);
    }
    return placed;
}

}  // namespace containers

#pragma once
// A book rendered whole into one WAV file, split at its chapter marks (or sentence ends)
// into files "NN Title.ext" in a folder, each tagged with its title, the book's title as
// album, its authors, cover and track number. Splitting the one render keeps the audio
// exactly: the files together hold every sample of it, in order. The window's "one file
// per chapter" and parlen-say's --per-chapter and --split-* write them.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "containers/ChapterTags.h"
#include "containers/Container.h"
#include "speech/speech.h"

namespace books {

// What the caller of a long making asks of it, both optional: whether to stop, asked
// between two stretches of audio (so that a stop is heard within a fraction of a
// second), and how far it is, the share of the render's audio made so far.
struct Making {
    std::function<bool()> stopped;
    std::function<void(double done)> progress;
    bool Stopped() const { return stopped && stopped(); }
};

// A file of a split render: the audio from startFrame up to the next part's start, its
// title, and the chapter marks of the stretch of audio it holds, counted from its start.
struct SplitPart {
    uint64_t startFrame = 0;
    std::string title;
    std::vector<containers::ChapterMark> marks;
};

// The files a render of totalFrames (at rate) is split into. perChapter: a file per
// chapter (chapters in time order, each running to the next). limitFrames (0: none):
// no file longer, cut at the last chapter start before the limit, else at the last
// sentence end of marks before it, else at the limit itself; with perChapter a chapter
// is cut only at its sentence ends, its parts titled "Title (1)", "Title (2)"..., and
// without it the parts of the book are titled "book (1)"... and each holds the marks
// of the chapters it holds (a chapter it begins inside of is marked at its start).
std::vector<SplitPart> PlanParts(const std::vector<containers::ChapterMark>& chapters,
                                 std::span<const ParlenWordTime> marks, uint64_t totalFrames,
                                 uint32_t rate, uint64_t limitFrames, bool perChapter,
                                 const std::string& book);

// Writes the WAV file `whole` as parts (placed at `rate` samples per second), files of
// format in dir named "NN Title.ext", tagged with their title, track number and the
// book's tags, and carrying their marks. Each is written under a hidden name and
// renamed when whole and tagged; one already there and changed at or after keepAfterNs
// (nanoseconds since the epoch; -1: never) was finished by an earlier run and is kept
// as it is. written gets the names of the parts' files. False when a file cannot be
// written, why then naming the file and the reason; the files finished before it stay,
// whole. Stopped, it ends between two stretches of audio with the file being written
// removed: false, why empty.
bool WriteParts(const std::string& whole, const std::vector<SplitPart>& parts, uint32_t rate,
                const std::string& dir, FileFormat format, const std::string& ext,
                const containers::BookTags& tags, long long keepAfterNs, const Making& making,
                std::string& why, std::vector<std::string>* written = nullptr);

// A file per chapter (placed on the render at rate) of the render in whole, as
// WriteParts writes them; written gets their names.
bool WriteChapterFiles(const std::string& whole,
                       const std::vector<containers::ChapterMark>& chapters,
                       std::span<const ParlenWordTime> marks, uint32_t rate, const std::string& dir,
                       FileFormat format, const std::string& ext, const containers::BookTags& tags,
                       const Making& making, std::string& why,
                       std::vector<std::string>* written = nullptr);

// The frames of the WAV file at rate; 0 when it cannot be read.
uint64_t RenderFrames(const std::string& whole, uint32_t rate);

// A new hidden WAV file in dir for a render to be made into other files, its name; empty
// when it cannot be made, why then naming the folder and the reason.
std::string HiddenRender(const std::string& dir, std::string& why);

}  // namespace books

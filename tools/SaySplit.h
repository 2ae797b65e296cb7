#pragma once
// parlen-say --per-chapter, --split-minutes and --split-mb: a book rendered whole is
// split at its chapter marks (or sentence ends) into files "NN Title.ext" in the chosen
// folder, each tagged with its title, the book's title as album, its authors, cover and
// track number. Splitting the one render keeps the audio exactly: the files together
// hold every sample of it, in order.
#include <span>
#include <string>
#include <vector>

#include "containers/ChapterTags.h"
#include "tools/SayOptions.h"

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
// as it is. written gets the names of the parts' files. False, with the message
// printed, when a file cannot be written; the files finished before it stay, whole.
// An interrupt (SaySignals::Caught) stops it between two stretches of audio, the file
// being written removed; false then, with nothing printed.
bool WriteParts(const std::string& whole, const std::vector<SplitPart>& parts, uint32_t rate,
                const std::string& dir, FileFormat format, const std::string& ext,
                const containers::BookTags& tags, long long keepAfterNs,
                std::vector<std::string>* written = nullptr);

// The frames of the WAV file at rate; 0 when it cannot be read.
uint64_t RenderFrames(const std::string& whole, uint32_t rate);

// The book rendered into whole written as o asks: a file per chapter (perChapter)
// and/or files within --split-minutes and --split-mb, in o.outDir, named after the
// input. A size limit is kept by planning from the format's usual bytes per second and
// planning again, shorter, while a file comes out larger. False, with the message
// printed, when a file cannot be written or a size cannot be kept.
bool WriteBookParts(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    std::span<const ParlenWordTime> marks, uint32_t rate, const Options& o,
                    const containers::BookTags& tags, long long keepAfterNs);

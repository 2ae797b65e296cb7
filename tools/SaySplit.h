#pragma once
// parlen-say --per-chapter, --split-minutes and --split-mb: a book rendered whole is
// split into files "NN Title.ext" in the chosen folder as books/ChapterFiles.h splits
// it, each file within the time or size asked.
#include <span>
#include <string>
#include <vector>

#include "books/ChapterFiles.h"
#include "containers/ChapterTags.h"
#include "tools/SayOptions.h"

// The book rendered into whole written as o asks: a file per chapter (perChapter)
// and/or files within --split-minutes and --split-mb, in o.outDir, named after the
// input. A size limit is kept by planning from the format's usual bytes per second and
// planning again, shorter, while a file comes out larger. False when a file cannot be
// written or a size cannot be kept, why then naming the file and the reason; false, why
// empty, when stopped.
bool WriteBookParts(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    std::span<const ParlenWordTime> marks, uint32_t rate, const Options& o,
                    const containers::BookTags& tags, long long keepAfterNs,
                    const books::Making& making, std::string& why);

#pragma once
// parlen-say --per-chapter: a book rendered whole is split at its chapter marks into a
// file per chapter, "NN Title.ext" in the chosen folder, each tagged with its title, the
// book's title as album, its authors, cover and track number. Splitting the one render
// keeps the audio exactly: the files together hold every sample of it, in order.
#include <string>
#include <vector>

#include "containers/ChapterTags.h"

// Splits the WAV file `whole` at chapters (placed at `rate` samples per second) into
// files of format in dir; the first file also holds what comes before its chapter.
// Each is written under a hidden name and renamed when whole and tagged; one already
// there and changed at or after keepAfterNs (nanoseconds since the epoch; -1: never)
// was finished by an earlier run and is kept as it is. False, with the message
// printed, when a file cannot be written; the files finished before it stay, whole.
bool SplitByChapter(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    uint32_t rate, const std::string& dir, FileFormat format,
                    const std::string& ext, const containers::BookTags& tags,
                    long long keepAfterNs = -1);

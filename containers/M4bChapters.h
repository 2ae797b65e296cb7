#pragma once
// Chapters of an M4B audiobook: its MP4 bytes remuxed by FFmpeg's libraries (the AAC
// copied untouched) with a QuickTime chapter track and a Nero chapter list ("chpl"),
// which between them every player reads, and the major brand "M4B ".
#include <cstdint>
#include <string>
#include <vector>

#include "containers/Chapters.h"

namespace containers {

// The file's bytes with chapters (times in whole milliseconds; the last is made to end
// with the audio). Throws EWriteError with the reason when they cannot be read or
// written.
std::string WithM4bChapters(const std::string& bytes, std::vector<ChapterMark>& chapters);

}  // namespace containers

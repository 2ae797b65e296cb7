#pragma once
// M4B audiobooks, written by FFmpeg's libraries in a bridge library of our own
// (m4b/M4bEntry.h), mapped the first time an M4B file is written.
#include <cstdint>
#include <string>
#include <vector>

#include "containers/Chapters.h"
#include "containers/m4b/M4bEntry.h"

namespace containers {

// The bridge's table, mapped once; null with why when it cannot be.
const m4b_bridge::Entry* M4bWriter(std::string& why);

// The file's bytes with chapters: remuxed, the AAC copied untouched, with a QuickTime
// chapter track and a Nero chapter list ("chpl"), which between them every player reads,
// and the major brand "M4B ". Times in whole milliseconds; the last chapter is made to
// end with the audio. Throws EWriteError with the reason when they cannot be read or
// written.
std::string WithM4bChapters(const std::string& bytes, std::vector<ChapterMark>& chapters);

}  // namespace containers

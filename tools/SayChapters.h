#pragma once
// parlen-say's chapter marks: a document's chapters placed on the render's word times
// and written into the audio file it rendered.
#include <span>
#include <string>
#include <vector>

#include "speech/speech.h"
#include "tools/SayDocument.h"

// Places book's chapters on marks (at rate samples per second) into placed, and writes
// them with the book's tags into the file out. Nothing for a text without chapters. A
// target that is no regular file (a pipe, a device) takes no marks: a warning says so.
// False, with the message printed, when the marks cannot be written; the file is then
// as rendered.
bool MarkChapters(const std::string& out, const SayBook& book,
                  std::span<const ParlenWordTime> marks, uint32_t rate,
                  std::vector<containers::ChapterMark>& placed);

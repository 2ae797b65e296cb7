#pragma once
// parlen-say's read-along books (--out x.epub, --format epub): the book rendered whole
// into a hidden WAV file, cut at its chapters into MP3 files, and packed with its text
// and the render's own sentence timings as an EPUB 3 book with Media Overlays
// (containers/ReadAlong.h).
#include <span>
#include <string>
#include <vector>

#include "containers/Chapters.h"
#include "speech/speech.h"
#include "tools/SayDocument.h"

// True when out names a read-along book.
bool IsReadAlongName(const std::string& out);

// Writes the book rendered into whole (the text as spoken, its word and sentence marks
// and chapters placed at rate) as the EPUB file out; name is the book's when its
// document gives no title. False, with the message printed, when it cannot be written.
bool WriteReadAlongBook(const std::string& whole, const std::string& out, const std::string& text,
                        const SayBook& book, std::span<const ParlenWordTime> marks,
                        const std::vector<containers::ChapterMark>& placed, uint32_t rate,
                        const std::string& name);

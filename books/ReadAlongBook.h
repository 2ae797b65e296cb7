#pragma once
// Read-along books: a book rendered whole into a hidden WAV file, cut at its chapters
// into MP3 files, and packed with its text and the render's own sentence timings as an
// EPUB 3 book with Media Overlays (containers/ReadAlong.h). parlen-say's --out x.epub
// and --format epub and the window's Save... as .epub make them.
#include <span>
#include <string>
#include <vector>

#include "books/ChapterFiles.h"
#include "containers/Chapters.h"
#include "speech/speech.h"

namespace books {

// True when out names a read-along book.
bool IsReadAlongName(const std::string& out);

// What a render made into a read-along book was: the text as spoken, its word and
// sentence marks, the chapters' starts in the text and their marks placed on the audio
// (at rate), and the document's tags; name titles a book whose document gives no title.
struct SpokenBook {
    const std::string& text;
    std::span<const ParlenWordTime> marks;
    std::span<const containers::ChapterStart> starts;
    const std::vector<containers::ChapterMark>& placed;
    uint32_t rate = 0;
    const containers::BookTags& tags;
    std::string name;
};

// Writes the book rendered into whole as the EPUB file out; a text without chapters is
// one chapter. False when it cannot be written, why then naming the file and the
// reason; false, why empty, when stopped.
bool WriteReadAlongBook(const std::string& whole, const std::string& out, const SpokenBook& book,
                        const Making& making, std::string& why);

}  // namespace books

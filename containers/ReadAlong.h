#pragma once
// EPUB 3 read-along books: the text and its audio synchronised as Media Overlays. Each
// chapter is an XHTML file with every sentence in a <span id>, an MP3 file of its audio
// and a SMIL overlay with a <par> per sentence, whose clip is where the render spoke
// it: exact, with no alignment guessed afterwards. The package names each overlay's
// duration and the whole book's, and the class a reading system gives the sentence
// being read; a navigation document lists the chapters.
#include <cstdint>
#include <string>
#include <vector>

#include "containers/ChapterTags.h"

namespace containers {

struct ReadAlongSentence {
    std::string text;
    uint64_t beginMs = 0, endMs = 0;  // within its chapter's audio
    bool paragraphStart = false;      // a new paragraph begins with it
};

struct ReadAlongChapter {
    std::string title;
    std::vector<ReadAlongSentence> sentences;
    std::string mp3;  // the chapter's audio file, its bytes
    uint64_t durationMs = 0;
};

// Writes the book as the EPUB file at path, whole or not at all (see FileReplace.h).
// Throws EWriteError naming the file and the reason.
void WriteReadAlong(const std::string& path, const BookTags& tags,
                    const std::vector<ReadAlongChapter>& chapters);

}  // namespace containers

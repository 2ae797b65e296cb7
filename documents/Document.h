#pragma once
// A document as the program reads it: the plain text the voices say, its chapters and
// what the document tells of itself. Every importer (EPUB, PDF, DOCX, ODT, HTML,
// Markdown) makes one; the window and parlen-say take it as it is. Nothing here knows of
// the speech service or the window.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace documents {

enum class ChapterKind { Body, FrontMatter, BackMatter };

struct Chapter {
    std::string title;  // UTF-8, one line
    int level = 1;      // 1 is the top of the outline
    size_t offset = 0;  // byte offset of the chapter's first byte in Document::text
    ChapterKind kind = ChapterKind::Body;
};

struct Metadata {
    std::string title;
    std::vector<std::string> authors;
    std::string language;        // as the document gives it, e.g. "en-US"; may be empty
    std::string coverMediaType;  // e.g. "image/jpeg"; empty when there is no cover
    std::string cover;           // the cover image's bytes
    // The document's own pronunciation lexicons (PLS files an EPUB carries): the name of
    // each in the container, and its bytes.
    std::vector<std::pair<std::string, std::string>> lexicons;
};

struct Document {
    // UTF-8; paragraphs separated by "\n", none empty, no "\n" at the end.
    std::string text;
    // In text order: offsets never decrease, each is below text.size() (or 0 for an
    // empty text).
    std::vector<Chapter> chapters;
    Metadata metadata;
};

enum class Format { PlainText, Epub, Pdf, Docx, Odt, Html, Markdown };

// Told the share of the work done (0 to 1) now and then; false cancels the import, which
// then throws EDocumentCancelled.
using ImportProgress = std::function<bool(double done)>;

// The words of a text as a listener hears them: runs of letters or digits.
size_t CountWords(std::string_view utf8);

const char* ChapterKindName(ChapterKind kind);  // "body", "front", "back"

}  // namespace documents

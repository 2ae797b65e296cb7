#pragma once
// Documents built in memory from text written here: EPUB 2 and 3 books, a DOCX and an
// ODT with headings, and hostile and broken files, with what a listener must hear of
// each. Shared by the tests of the importers, the window and parlen-say.
#include <string>
#include <utility>
#include <vector>

#include "documents/Document.h"

namespace fixtures {

struct ZipEntry {
    std::string name;
    std::string bytes;
    bool stored = false;  // not compressed
};
// A ZIP container with the entries in this order.
std::string MakeZip(const std::vector<ZipEntry>& entries);

// Every piece of text a listener must not hear (hidden elements, notes, page-break
// markers, deleted runs, printed tables of contents) holds this word.
inline constexpr const char* kUnheardWord = "Zanzibar";

struct DocumentFixture {
    std::string name;  // what messages call the file
    documents::Format format;
    std::string bytes;
    std::vector<std::pair<std::string, int>> chapters;  // titles and levels, in order
    std::vector<documents::ChapterKind> kinds;          // each chapter's kind
    std::string heard;  // all the text a listener must hear, in order
};

DocumentFixture Epub2Book();  // NCX with ids shared, guide, mimetype first, malformed HTML
DocumentFixture Epub3Book();  // also carries kHarbourLexicon as OEBPS/names.pls
inline constexpr const char* kHarbourLexicon =
    R"(<lexicon version="1.0" xmlns="http://www.w3.org/2005/01/pronunciation-lexicon" )"
    R"(alphabet="ipa" xml:lang="en"><lexeme><grapheme>Harbour</grapheme>)"
    R"(<alias>harbor</alias></lexeme></lexicon>)";  // nav and landmarks, mimetype not first, fragments in the spine
DocumentFixture DocxDocument();
DocumentFixture OdtDocument();
DocumentFixture HtmlPage();
DocumentFixture MarkdownText();

// Files that must be refused with a message naming them.
struct HostileFixture {
    std::string name;
    documents::Format format;
    std::string bytes;
};
std::vector<HostileFixture> HostileFixtures();

// An EPUB of about this many bytes of text, in chapters of about 20 kB, for timing.
std::string LargeEpub(size_t textBytes);

}  // namespace fixtures

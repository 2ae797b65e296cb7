#pragma once
// What the fixtures of DocumentFixtures.cpp and DocumentFixturesOffice.cpp share.
#include <string>
#include <utility>
#include <vector>

#include "documents/DocumentFixtures.h"

namespace fixtures_detail {

using fixtures::DocumentFixture;
using fixtures::ZipEntry;

using documents::ChapterKind;
using documents::Format;

inline const char* const kWords[] = {"river",  "lantern", "quiet",  "morning", "harbour", "stone",
                                     "letter", "garden",  "winter", "copper",  "valley",  "window"};

// A sentence of twelve words that differ from paragraph to paragraph.
inline std::string Sentence(int n) {
    std::string out = "Paragraph " + std::to_string(n);
    for (int i = 0; i < 10; ++i) out += std::string(" ") + kWords[(n * 7 + i * 5) % 12];
    return out + ".";
}

struct Book {
    DocumentFixture fixture;
    std::string body;  // the content file being written

    void Heading(const std::string& title, int level, ChapterKind kind = ChapterKind::Body) {
        fixture.chapters.emplace_back(title, level);
        fixture.kinds.push_back(kind);
    }
    // A paragraph heard, written in the markup given around it.
    void Heard(const std::string& text, const std::string& open = "<p>",
               const std::string& close = "</p>") {
        body += open + text + close + "\n";
        fixture.heard += text + "\n";
    }
    void Unheard(const std::string& markup) { body += markup + "\n"; }
    std::string Take() { return std::exchange(body, {}); }
};

inline std::string Xhtml(const std::string& title, const std::string& body,
                         const std::string& bodyAttributes = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
           "xmlns:epub=\"http://www.idpf.org/2007/ops\">"
           "<head><title>" +
           title + "</title><style>p { color: black }</style></head>\n<body" + bodyAttributes +
           ">\n" + body + "</body></html>\n";
}

inline const char kContainer[] = R"(<?xml version="1.0"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>)";

// Notes, markers and hidden elements of every kind a book hides.
inline void HiddenParts(Book& book, int n) {
    book.Heard("Before the note " + Sentence(n), "<p>",
               "<a epub:type=\"noteref\" href=\"#n" + std::to_string(n) + "\">Zanzibar</a></p>");
    book.Unheard("<aside epub:type=\"footnote\" id=\"n" + std::to_string(n) +
                 "\"><p>Zanzibar note.</p></aside>");
    book.Unheard("<span epub:type=\"pagebreak\" title=\"Zanzibar\">Zanzibar</span>");
    book.Unheard(
        "<div role=\"doc-pagebreak\">Zanzibar</div><div style=\"DISPLAY : none\">Zanzibar</div>");
    book.Unheard("<p hidden=\"hidden\">Zanzibar</p><script>var Zanzibar = 1;</script>");
    book.Unheard("<div role=\"doc-endnote\"><p>Zanzibar</p></div><aside><p>Zanzibar</p></aside>");
}

}  // namespace fixtures_detail

#pragma once
// PDF files for the tests, made as a word processor would print them: QPdfWriter lays out
// text we write, and an incremental update adds the outline and the metadata it cannot
// write. They need a QGuiApplication (EnsureGuiApplication makes one, offscreen when
// QT_QPA_PLATFORM says so).
#include <string>
#include <vector>

namespace pdf_fixtures {

void EnsureGuiApplication();

struct ExpectedChapter {
    std::string title;
    int level;
    std::string firstLine;  // what the text at the chapter's offset starts with
};

// A short book: its first page only an image, then pages with a running head that
// differs on odd and even pages (the even one with the page's number), a running foot
// "Page N" alternating left and right, paragraphs marked by indentation, words broken at
// line ends ("nega-" "tive") beside compounds broken at their hyphen ("power-"
// "performance"), and an outline of two chapters and a section.
struct Book {
    std::string bytes;
    std::string text;  // the document's text once imported: paragraphs joined by "\n"
    std::vector<ExpectedChapter> chapters;
    std::vector<std::string> running;  // what the heads and feet say, never in the text
    std::string title, author, language;
};
Book MakeBook();

// A long book of `pages` pages of text with running heads, feet and page numbers, for
// timing an import.
std::string MakeLongBook(int pages);

// Pages that are only scanned images, without text.
std::string MakeScannedPdf();
// A PDF that opens only with a password.
std::string MakeLockedPdf();
// A book cut off after its first half.
std::string MakeTruncatedPdf();
// Plain text named as a PDF.
std::string MakeNotAPdf();

}  // namespace pdf_fixtures

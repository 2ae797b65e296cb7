// The importers of ZIP-based and markup formats, on documents built in memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "documents/DocumentFixtures.h"
#include "documents/Import.h"
#include "documents/TextBuilder.h"
#include "support/Errors.h"

namespace {

using documents::ChapterKind;
using fixtures::DocumentFixture;

struct BookCase {
    const char* label;
    std::function<DocumentFixture()> make;
    const char* title;
    size_t authors;
    const char* language;
    const char* coverType;
};

const BookCase kBooks[] = {
    {"epub2", fixtures::Epub2Book, "The Lantern Keeper", 2, "en-GB", "image/png"},
    {"epub3", fixtures::Epub3Book, "A Harbour in Winter", 1, "fr", "image/jpeg"},
    {"docx", fixtures::DocxDocument, "The Test Report", 1, "de-DE", ""},
    {"odt", fixtures::OdtDocument, "Field Notes", 1, "", ""},
    {"html", fixtures::HtmlPage, "Page", 1, "en", ""},
    {"markdown", fixtures::MarkdownText, "Guide", 0, "", ""},
};

void PrintTo(const BookCase& book, std::ostream* out) {
    *out << book.label;
}

class Books : public testing::TestWithParam<BookCase> {};

// Chapters as the file's table of contents or headings give them, every paragraph a
// listener must hear, nothing hidden, and what the file says of itself.
TEST_P(Books, ImportAsTheListenerHearsThem) {
    const DocumentFixture fixture = GetParam().make();
    const auto document = documents::ImportBytes(fixture.name, fixture.bytes, fixture.format);

    std::vector<std::pair<std::string, int>> chapters;
    for (const auto& chapter : document.chapters)
        chapters.emplace_back(chapter.title, chapter.level);
    EXPECT_EQ(chapters, fixture.chapters);
    for (size_t i = 0; i < fixture.kinds.size() && i < document.chapters.size(); ++i)
        EXPECT_EQ(document.chapters[i].kind, fixture.kinds[i]) << document.chapters[i].title;
    // A chapter whose title is a heading of the text starts at that heading.
    for (const auto& chapter : document.chapters) {
        if (("\n" + fixture.heard).find("\n" + chapter.title + "\n") == std::string::npos) continue;
        EXPECT_EQ(document.text.compare(chapter.offset, chapter.title.size(), chapter.title), 0)
            << chapter.title << " at " << chapter.offset;
    }

    EXPECT_EQ(document.text.find(fixtures::kUnheardWord), std::string::npos) << document.text;
    size_t from = 0;
    for (size_t at = 0; at < fixture.heard.size();) {
        const size_t lf = fixture.heard.find('\n', at);
        const std::string line = documents::CleanLine(fixture.heard.substr(at, lf - at));
        at = lf + 1;
        const size_t found = document.text.find(line, from);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line;
        if (found != std::string::npos) from = found + line.size();
    }
    const double heard = static_cast<double>(documents::CountWords(fixture.heard));
    EXPECT_NEAR(static_cast<double>(documents::CountWords(document.text)), heard, heard / 100);

    const auto& metadata = document.metadata;
    EXPECT_EQ(metadata.title, GetParam().title);
    EXPECT_EQ(metadata.authors.size(), GetParam().authors);
    EXPECT_EQ(metadata.language, GetParam().language);
    EXPECT_EQ(metadata.coverMediaType, GetParam().coverType);
    EXPECT_EQ(metadata.cover.empty(), metadata.coverMediaType.empty());
    // Its own pronunciation lexicon comes with it.
    if (std::string(GetParam().label) == "epub3") {
        EXPECT_EQ(metadata.lexicons, (std::vector<std::pair<std::string, std::string>>{
                                         {"OEBPS/names.pls", fixtures::kHarbourLexicon}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, Books, testing::ValuesIn(kBooks),
                         [](const auto& info) { return std::string(info.param.label); });

// Hostile, broken and protected files: one error that names the file, no crash, no hang.
TEST(Documents, RefusesHostileFilesNamingThem) {
    for (const auto& hostile : fixtures::HostileFixtures()) {
        try {
            documents::ImportBytes(hostile.name, hostile.bytes, hostile.format);
            ADD_FAILURE() << hostile.name << " was imported";
        } catch (const EDocumentError& error) {
            EXPECT_EQ(error.Message().rfind(hostile.name + ": ", 0), 0u) << error.Message();
            EXPECT_GT(error.Message().size(), hostile.name.size() + 8) << error.Message();
        }
    }
}

// References resolved without any DTD, and pages in older encodings.
TEST(Documents, HtmlTextIsDecoded) {
    const struct {
        const char* page;
        const char* text;
    } kPages[] = {
        {"<p>&hearts;&Yuml;&thetasym;&apos;&#65;&#x1F600;&#0;&bogus; &amp</p>",
         "\u2665\u0178\u03D1'A\U0001F600\uFFFD&bogus; &amp"},
        {"<p>\x93"
         "Caf\xe9\x94 \x80</p>",
         "\u201cCaf\u00e9\u201d \u20ac"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><p>Caf\xe9</p>", "Caf\u00e9"},
        {"<meta charset=utf-8><p>Caf\xc3\xa9 \xff</p>", "Caf\u00e9 \uFFFD"},
    };
    for (const auto& page : kPages)
        EXPECT_EQ(documents::ImportBytes("e.html", page.page, documents::Format::Html).text,
                  page.text);
}

TEST(Documents, CancelledImportStops) {
    const auto book = fixtures::Epub3Book();
    int calls = 0;
    EXPECT_THROW(documents::ImportBytes(book.name, book.bytes, book.format,
                                        [&](double) { return ++calls < 3; }),
                 EDocumentCancelled);
}

// A throwaway timing run, not a test of time: PARLEN_TIME_EPUB=bytes prints the time.
TEST(Documents, LargeBookImports) {
    const char* size = std::getenv("PARLEN_TIME_EPUB");
    const std::string book = fixtures::LargeEpub(size ? std::strtoul(size, nullptr, 10) : 200000);
    const auto start = std::chrono::steady_clock::now();
    const auto document = documents::ImportBytes("large.epub", book, documents::Format::Epub);
    const auto ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
    if (size) std::printf("%zu bytes of text in %.1f ms\n", document.text.size(), ms.count());
    EXPECT_GT(document.chapters.size(), 3u);
    EXPECT_EQ(document.text.find("pagebreak"), std::string::npos);
}

}  // namespace

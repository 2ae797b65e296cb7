// The PDF importer on files printed from text we wrote. The fixtures are printed by a
// child process with a QGuiApplication; this process never makes a QCoreApplication,
// as parlen-say never does, so every import here shows the reader needs none.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PdfFixtures.h"
#include "documents/Import.h"
#include "documents/PdfHyphens.h"
#include "documents/PdfPages.h"
#include "documents/PdfText.h"
#include "support/BridgeLibrary.h"
#include "support/Errors.h"

namespace {
namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The fixtures' folder, printed once by a child process.
const fs::path& Fixtures() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/pdf-fixtures-XXXXXX";
        const fs::path dir = ::mkdtemp(pattern);
        const pid_t child = ::fork();
        if (child == 0) {
            const pdf_fixtures::Book book = pdf_fixtures::MakeBook();
            Write(dir / "book.pdf", book.bytes);
            Write(dir / "book.txt", book.text);
            std::string chapters;
            for (const auto& c : book.chapters)
                chapters += std::to_string(c.level) + "\t" + c.title + "\t" + c.firstLine + "\n";
            Write(dir / "chapters.txt", chapters);
            Write(dir / "long.pdf", pdf_fixtures::MakeLongBook(30));
            Write(dir / "scanned.pdf", pdf_fixtures::MakeScannedPdf());
            Write(dir / "locked.pdf", pdf_fixtures::MakeLockedPdf());
            Write(dir / "truncated.pdf", pdf_fixtures::MakeTruncatedPdf());
            Write(dir / "letter.pdf", pdf_fixtures::MakeNotAPdf());
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "the fixtures were not printed";
        return dir;
    }();
    return folder;
}

class Cleanup : public ::testing::Environment {
    void TearDown() override { fs::remove_all(Fixtures()); }
};
const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new Cleanup);

TEST(PdfImport, ABookReadsAsItWasWritten) {
    const fs::path file = Fixtures() / "book.pdf";
    std::vector<double> progress;
    const documents::Document doc = documents::ImportFile(file, [&](double done) {
        progress.push_back(done);
        return true;
    });
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    // Reading order, paragraphs and words broken at line ends made whole ("negative",
    // "comprehensive") beside compounds that keep their hyphen ("power-performance"),
    // with no running head, foot or page number left.
    EXPECT_EQ(doc.text, Read(Fixtures() / "book.txt"));
    for (const char* running : {"Parlen Book", "Two Voices", "Page", "nega-"})
        EXPECT_EQ(doc.text.find(running), std::string::npos) << running;

    std::istringstream expected(Read(Fixtures() / "chapters.txt"));
    size_t i = 0;
    for (std::string level, title, first;
         std::getline(expected, level, '\t') && std::getline(expected, title, '\t') &&
         std::getline(expected, first);
         ++i) {
        ASSERT_LT(i, doc.chapters.size());
        const documents::Chapter& chapter = doc.chapters[i];
        EXPECT_EQ(chapter.title, title);
        EXPECT_EQ(chapter.level, std::stoi(level)) << title;
        EXPECT_EQ(doc.text.substr(chapter.offset, first.size()), first) << title;
    }
    EXPECT_EQ(doc.chapters.size(), i);

    EXPECT_EQ(doc.metadata.title, "The Parlen Book");
    EXPECT_EQ(doc.metadata.authors, std::vector<std::string>{"Ada Reader"});
    EXPECT_EQ(doc.metadata.language, "en-GB");
    ASSERT_GE(progress.size(), 7u);  // once before, once a page, once at the end
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_THROW(documents::ImportFile(file, [](double done) { return done < 0.5; }),
                 EDocumentCancelled);
}

// The outline's parts and the words broken at line ends lie all over a long book.
TEST(PdfImport, ALongBookLosesNoPage) {
    const documents::Document doc = documents::ImportFile(Fixtures() / "long.pdf");
    ASSERT_EQ(doc.chapters.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(doc.chapters[i].title, "Part " + std::to_string(i + 1));
    EXPECT_GT(documents::CountWords(doc.text), 30u * 30 * 8);
    EXPECT_EQ(doc.text.find("compre-"), std::string::npos);

    // A second process reads the same pages as one does.
    std::string why;
    const auto entry = reinterpret_cast<const pdf_bridge::Entry* (*)()>(
        MapBridgeLibrary(kPdfLibraryName, kPdfEntrySymbol, why));
    ASSERT_TRUE(entry) << why;
    const pdf_bridge::Entry& reader = *entry();
    const std::string bytes = Read(Fixtures() / "long.pdf");
    pdf_bridge::Opened opened{};
    pdf_bridge::Document* document = reader.open(bytes.data(), bytes.size(), opened, why);
    ASSERT_TRUE(document) << why;
    const documents::Source source{"long.pdf", bytes};
    std::vector<pdf_bridge::Page> pages[2];
    for (const auto readers : {documents::Readers::One, documents::Readers::Two})
        pages[readers == documents::Readers::Two] =
            documents::ReadPdfPages(reader, document, 30, source, {}, readers);
    reader.close(document);
    std::string one, two;
    for (const auto& page : pages[0]) documents::AppendPage(one, page);
    for (const auto& page : pages[1]) documents::AppendPage(two, page);
    EXPECT_EQ(one, two);
    EXPECT_EQ(pages[1].size(), 30u);
}

TEST(PdfImport, ABadFileGivesOneMessageWithItsNameAndTheReason) {
    const struct {
        const char* file;
        const char* reason;
    } cases[] = {
        {"locked.pdf", "is protected by a password"},
        {"truncated.pdf", "is truncated"},
        {"letter.pdf", "is not a PDF"},
        {"scanned.pdf", "holds only scanned pages"},
    };
    for (const auto& c : cases) {
        const std::string path = Fixtures() / c.file;
        try {
            documents::ImportFile(path);
            ADD_FAILURE() << c.file << " was imported";
        } catch (const EDocumentError& e) {
            EXPECT_EQ(e.Message().rfind(path + ": it ", 0), 0u) << e.Message();
            EXPECT_NE(e.Message().find(c.reason), std::string::npos) << e.Message();
        }
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak RSS in KiB";
}

TEST(PdfHyphens, ABrokenWordIsJoinedOnlyWhenItIsOneWord) {
    const struct {
        const char *left, *right;
        bool withDictionary, without;
    } cases[] = {
        {"nega", "tive", true, true},           {"compre", "hensive", true, false},
        {"power", "performance", false, false}, {"well", "known", false, false},
        {"Anglo", "Saxon", false, false},       {"self", "ish", true, false},
    };
    documents::HyphenJudge english("en-US"), none("en-US", "/nonexistent");
    ASSERT_EQ(english.Dictionary(), "en_US");
    EXPECT_EQ(none.Dictionary(), "");
    for (const auto& c : cases) {
        EXPECT_EQ(english.Join(c.left, c.right), c.withDictionary) << c.left << "-" << c.right;
        EXPECT_EQ(none.Join(c.left, c.right), c.without) << c.left << "-" << c.right;
    }
    for (const auto& [tag, name] : std::vector<std::pair<const char*, const char*>>{
             {"en-GB", "en_GB"}, {"de", "de"}, {"pt-br", "pt_BR"}, {"../../etc/x", ""}, {"x", ""}})
        EXPECT_EQ(documents::DictionaryName(tag), name) << tag;
}

// Pages laid out as a long report is: each chapter's title as the running head of its
// own pages, a chapter's first page with its title at the head's height, and a list.
TEST(PdfText, RunningHeadsOfEachChapterGoAndItsTitleStays) {
    std::vector<pdf_bridge::Page> pages;
    const auto chapter = [](int p) { return std::to_string(p / 6 + 1); };
    for (int p = 0; p < 18; ++p) {
        pdf_bridge::Page page{400, 600, {}};
        const auto line = [&](double left, double top, std::string text, double width = 300) {
            page.lines.push_back({std::move(text), {left, top, left + width, top + 10}, 10});
        };
        if (p % 6 == 0)
            line(50, 40, "Chapter " + chapter(p));
        else
            line(200, 40,
                 "The chapter called " + std::string(p < 6    ? "one"
                                                     : p < 12 ? "two"
                                                              : "three"));
        line(50, 100, "Page " + std::to_string(p) + " says this:");
        line(50, 112, "\u2022 an item");
        line(60, 124, "and its second line.", 100);
        line(190, 570, std::to_string(p + 1));
        pages.push_back(std::move(page));
    }
    documents::HyphenJudge judge("en-US", "/nonexistent");
    documents::TextBuilder builder;
    documents::BuildPdfText(pages, {}, judge, builder);
    const std::string text = builder.Finish().text;
    std::string expected;
    for (int p = 0; p < 18; ++p)
        expected += (p % 6 ? "" : "Chapter " + chapter(p) + "\n") + "Page " + std::to_string(p) +
                    " says this:\n\u2022 an item and its second line." + (p < 17 ? "\n" : "");
    EXPECT_EQ(text, expected);
}

}  // namespace

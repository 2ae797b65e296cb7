#include <gtest/gtest.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTextBlock>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "qt_app.h"
#include "support/Errors.h"
#include "support/qt/MemoStrings.h"
#include "support/StringList.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {
const auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

class MemoStrings : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lines-memo-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Loads bytes from a file into a fresh text box and saves them back.
    std::string RoundTrip(const std::string& bytes) {
        QPlainTextEdit memo;
        TMemoStrings lines(&memo);
        Write(Path("in.txt"), bytes);
        lines.LoadTextFile(Path("in.txt"));
        lines.SaveTextFile(Path("out.txt"));
        return Read(Path("out.txt"));
    }

    fs::path dir_;
};

double ThreadSeconds() {
    timespec now = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<std::string> Lines(const TStrings& lines) {
    std::vector<std::string> all;
    for (int i = 0; i < lines.LineCount(); ++i) all.push_back(lines.LineAt(i));
    return all;
}
}  // namespace

TEST_F(MemoStrings, CountsLinesOnlyOnceTheWindowExists) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("abc\r\n");
    EXPECT_EQ(lines.LineCount(), 0);  // never shown: no window yet
    EXPECT_EQ(lines.JoinLines(), "abc\r\n");
    memo.show();
    EXPECT_EQ(lines.LineCount(), 1);  // the empty line after the final break is dropped
    lines.SplitText("abc\r\ndef");
    EXPECT_EQ(lines.LineCount(), 2);
    EXPECT_EQ(Lines(lines), (std::vector<std::string>{"abc", "def"}));
    lines.SplitText("");
    EXPECT_EQ(lines.LineCount(), 0);
    TStringList copy;
    copy.AppendLine("old");
    copy.CopyLines(lines);
    EXPECT_EQ(copy.LineCount(), 0);
    lines.SplitText("\r\n\r\n");
    EXPECT_EQ(Lines(lines), (std::vector<std::string>{"", ""}));
}

TEST_F(MemoStrings, SplitNormalisesBreaksAndFiresOneChange) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    QSignalSpy changes(&memo, &QPlainTextEdit::textChanged);
    lines.SplitText("one\ntwo\rthree\n\rfour");
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(lines.JoinLines(), "one\r\ntwo\r\nthree\r\n\r\nfour");
    EXPECT_EQ(memo.blockCount(), 5);
    // The same text again, in any break style, changes nothing and fires nothing.
    lines.SplitText("one\r\ntwo\r\nthree\r\n\r\nfour");
    lines.SplitText("one\rtwo\nthree\n\nfour");
    EXPECT_EQ(changes.count(), 1);
    lines.SplitText("");
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(memo.toPlainText(), "");
    lines.SplitText("");
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(MemoStrings, ControlTakesTextUpToTheFirstZeroByte) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("before\0after"s);
    EXPECT_EQ(lines.JoinLines(), "before");
}

TEST_F(MemoStrings, RefusedTextFailsAndKeepsTheOldText) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("old");
    lines.SetCapacity(10);
    QSignalSpy changes(&memo, &QPlainTextEdit::textChanged);
    try {
        lines.SplitText("eleven byte");
        ADD_FAILURE() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "Text exceeds memo capacity");
    }
    EXPECT_NO_THROW(lines.SplitText("ten bytes!"));
    EXPECT_EQ(lines.JoinLines(), "ten bytes!");

    lines.SetCapacity(TMemoStrings::kDefaultCapacity);
    memo.setMaximumBlockCount(2);
    EXPECT_THROW(lines.SplitText("a\nb\nc"), EInvalidOperation);
    EXPECT_EQ(lines.JoinLines(), "ten bytes!");
    EXPECT_EQ(changes.count(), 1);
    // A failed load leaves the list as it was and the bracket closed.
    Write(Path("big.txt"), "1\n2\n3\n");
    EXPECT_THROW(lines.LoadTextFile(Path("big.txt")), EInvalidOperation);
    EXPECT_EQ(lines.UpdateCount(), 0);
    EXPECT_TRUE(memo.updatesEnabled());
    EXPECT_EQ(lines.JoinLines(), "ten bytes!");
}

TEST_F(MemoStrings, CrLfFilesComeBackByteIdentical) {
    const std::string utf8 =
        "Gr\xc3\xbc\xc3\x9f Gott\r\n\xe2\x82\xac 5\xc2\xa0kg\t\xf0\x9f\x98\x80\r\n";
    EXPECT_EQ(RoundTrip(utf8), utf8);
    const std::string latin1 = "K\xe4se\r\n\xff\xfe\x80\r\n\xc3";
    EXPECT_EQ(RoundTrip(latin1), latin1);
    // Private-use characters that look like escaped bytes, and characters that the
    // document would take for structure (frame marks).
    const std::string tricky = "\xef\x9f\xa4\xe4|\xef\xb7\x90\xef\xb7\x91\r\n\xef\xbb\xbf";
    EXPECT_EQ(RoundTrip(tricky), tricky);
    // Paragraph and line separators are breaks in the box, and so in the file.
    EXPECT_EQ(RoundTrip("a\xe2\x80\xa9|b\xe2\x80\xa8\xe2\x80|\xe2\x80\xa8"),
              "a\r\n|b\r\n\xe2\x80|\r\n");
    EXPECT_EQ(RoundTrip(""), "");
    EXPECT_EQ(RoundTrip("\r\n"), "\r\n");
}

TEST_F(MemoStrings, LfAndCrFilesComeBackWithCrLf) {
    EXPECT_EQ(RoundTrip("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(RoundTrip("a\rb"), "a\r\nb");
    EXPECT_EQ(RoundTrip("a\n\rb"), "a\r\n\r\nb");
}

TEST_F(MemoStrings, LoadingTheSameTextFiresNoChange) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("same\r\ntext");
    QSignalSpy changes(&memo, &QPlainTextEdit::textChanged);
    Write(Path("same.txt"), "same\ntext");
    lines.LoadTextFile(Path("same.txt"));
    EXPECT_EQ(changes.count(), 0);
    Write(Path("other.txt"), "other");
    lines.LoadTextFile(Path("other.txt"));
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(MemoStrings, MissingFileLeavesTheTextAsItWas) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("kept");
    try {
        lines.LoadTextFile(Path("missing.txt"));
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + Path("missing.txt"));
    }
    EXPECT_EQ(lines.JoinLines(), "kept");
    EXPECT_THROW(lines.LoadTextFile(dir_.string()), EFOpenError);
    EXPECT_EQ(lines.JoinLines(), "kept");
}

TEST_F(MemoStrings, SaveWritesTheTextWithoutAddingABreak) {
    QPlainTextEdit memo;
    TMemoStrings lines(&memo);
    lines.SplitText("last line\nhas no break");
    lines.SaveTextFile(Path("a.txt"));
    EXPECT_EQ(Read(Path("a.txt")), "last line\r\nhas no break");
    lines.SplitText("");
    lines.SaveTextFile(Path("a.txt"));
    EXPECT_EQ(fs::file_size(Path("a.txt")), 0u);
}

TEST_F(MemoStrings, ShownControlReportsWrappedPiecesAsLines) {
    QPlainTextEdit memo;
    memo.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo.resize(200, 300);
    memo.show();
    TMemoStrings lines(&memo);
    std::string paragraph;
    for (int i = 0; i < 40; ++i) paragraph += "word" + std::to_string(i) + " ";
    paragraph += "end";
    lines.SplitText("short\r\n" + paragraph + "\r\n");
    const auto all = Lines(lines);
    ASSERT_GT(all.size(), 3u) << "the long paragraph was not wrapped";
    EXPECT_EQ(all.front(), "short");
    std::string joined;
    for (size_t i = 1; i < all.size(); ++i) {
        if (i + 1 < all.size()) {
            EXPECT_EQ(all[i].back(), ' ') << "piece lost its blank";
        }
        joined += all[i];
    }
    EXPECT_EQ(joined, paragraph);
    EXPECT_EQ(lines.JoinLines(), "short\r\n" + paragraph + "\r\n");  // no break at wraps
    TStringList copy;
    copy.CopyLines(lines);
    EXPECT_EQ(copy.LineCount(), static_cast<int>(all.size()));
    // A wider box wraps into fewer pieces.
    memo.resize(600, 300);
    QApplication::processEvents();
    EXPECT_LT(lines.LineCount(), static_cast<int>(all.size()));
}

TEST_F(MemoStrings, LongLinesAreCutTo4096Bytes) {
    QPlainTextEdit memo;
    memo.setLineWrapMode(QPlainTextEdit::NoWrap);
    memo.show();
    TMemoStrings lines(&memo);
    const std::string longLine = std::string(3000, 'x') + std::string(1500, 'y');
    lines.SplitText(longLine + "\r\nnext");
    ASSERT_EQ(lines.LineCount(), 2);
    EXPECT_EQ(lines.LineAt(0), longLine.substr(0, 4096));
    EXPECT_EQ(lines.LineAt(1), "next");
    EXPECT_EQ(lines.JoinLines(), longLine + "\r\nnext");  // the text itself is whole
}

TEST_F(MemoStrings, BracketStopsRedrawingAndKeepsVisibility) {
    QPlainTextEdit memo;
    memo.show();
    TMemoStrings lines(&memo);
    lines.BeginLinesUpdate();
    lines.BeginLinesUpdate();
    EXPECT_FALSE(memo.updatesEnabled());
    lines.EndLinesUpdate();
    EXPECT_FALSE(memo.updatesEnabled());
    lines.EndLinesUpdate();
    EXPECT_TRUE(memo.updatesEnabled());
    EXPECT_TRUE(memo.isVisible());

    QPlainTextEdit hidden;
    TMemoStrings hiddenLines(&hidden);
    Write(Path("t.txt"), "text");
    hiddenLines.LoadTextFile(Path("t.txt"));
    EXPECT_FALSE(hidden.isVisible());
    EXPECT_TRUE(hidden.updatesEnabled());
    EXPECT_EQ(hiddenLines.JoinLines(), "text");
}

TEST_F(MemoStrings, FiveMegabytesLoadAndCopyWithoutStalling) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "timings mean nothing under the sanitizers";
#endif
    std::string text;
    for (int i = 0; text.size() < (5u << 20); ++i)
        text += "Line " + std::to_string(i) +
                " of a long text that the box wraps into pieces "
                "when it is narrow enough, with some more words at its end.\r\n";
    Write(Path("big.txt"), text);
    QPlainTextEdit memo;
    memo.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo.resize(500, 400);
    memo.show();
    TMemoStrings lines(&memo);
    // Processor time of this thread: what the window would stall on a machine of its
    // own, whatever else shares the processors of the test machine.
    double start = ThreadSeconds();
    lines.LoadTextFile(Path("big.txt"));
    const double load = ThreadSeconds() - start;
    start = ThreadSeconds();
    TStringList copy;
    copy.CopyLines(lines);
    const double collect = ThreadSeconds() - start;
    std::printf("5 MB: load %.3f s, copy of %d laid-out lines %.3f s\n", load, copy.LineCount(),
                collect);
    EXPECT_GT(copy.LineCount(), memo.blockCount() - 1);
    // Loading stays well under a second. Collecting lays out every paragraph, which is
    // Qt's own text shaping: about 0.8 s of it on an idle machine, over 1 s when the
    // processors are shared. The bound catches any slip into work per line that grows
    // with the text (that would take minutes here).
    EXPECT_LT(load, 1.0);
    EXPECT_LT(collect, 2.0);
    EXPECT_EQ(lines.JoinLines(), text);
}

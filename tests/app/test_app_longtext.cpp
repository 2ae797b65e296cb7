// A 5 MB text: it loads whole, "Speak" and "Save..." clicked while the box is still
// laying it out hand all of it over once that is done, and the highlight and progress
// follow it to its end.
// How long each step takes is printed for information; the stall figures themselves
// are measured by bench_window.
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "WindowFixture.h"

namespace {

class LongText : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Start();
        ShowEditPage();
        speaker = LastCentral();
        speaker->FireAudioStart();
        speaker->FireAudioStop();
        // About 5 MB of paragraphs of wrapped prose.
        std::string paragraph;
        for (int i = 0; i < 40; ++i) paragraph += "lorem ipsum dolor sit amet consectetur ";
        paragraph += "\r\n";
        while (text.size() < 5u * 1024 * 1024) text += paragraph;
        paragraphs = text.size() / paragraph.size();
        file = ScratchDir() + "/long.txt";
        WriteFileBytes(file, text);
    }
    template <class F>
    void Timed(const char* what, F f) {
        QElapsedTimer t;
        t.start();
        f();
        std::printf("[ timing ] %s: %lld ms\n", what, static_cast<long long>(t.elapsed()));
    }
    void Load() {
        ui.answers = {file};
        Timed("load 5 MB", [&] { form->btTextLoad->click(); });
        ASSERT_TRUE(ui.boxes.empty());
        ASSERT_GT(form->mmEditText->document()->characterCount(), 5'000'000);
    }
    // The handed-over text (NUL dropped) is the file's text with a CR LF at every wrap
    // point: taking the breaks out of both leaves the same characters.
    void ExpectWholeText(std::string spoken) {
        ASSERT_FALSE(spoken.empty());
        EXPECT_EQ('\0', spoken.back());
        spoken.pop_back();
        EXPECT_GT(spoken.size(), text.size() + 2 * paragraphs);  // wrapped, not one line each
        auto unbroken = [](std::string s) {
            s.erase(
                std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }),
                s.end());
            return s;
        };
        EXPECT_TRUE(unbroken(spoken) == unbroken(text)) << "the handed-over text differs";
    }

    FakeCentral* speaker = nullptr;
    std::string text;
    size_t paragraphs = 0;
    QString file;
};

TEST_F(LongText, SpeakAndSaveClickedDuringTheLayoutHandOverTheWholeTextOnceItIsDone) {
    Load();
    // Clicked before the background layout is through: the click returns at once and
    // the text is handed over when the box has laid the rest out, the window answering
    // all the while.
    ASSERT_TRUE(form->TextLayoutPending());
    Timed("Speak click, text not yet laid out", [&] { form->btConverterSpeak->click(); });
    EXPECT_EQ(1u, speaker->texts.size()) << "handed over before the text was laid out";
    EXPECT_EQ(Qt::BusyCursor, form->cursor().shape());
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start(0);
    ASSERT_TRUE(WaitFor([&] { return speaker->texts.size() == 2; }, 120000));
    EXPECT_FALSE(form->TextLayoutPending());
    EXPECT_GT(turns, 10) << "the message loop stood still while the text was laid out";
    EXPECT_NE(Qt::BusyCursor, form->cursor().shape());
    ExpectWholeText(speaker->texts.back());
    const int lines = form->fwMSpeech->Text().LineCount();
    EXPECT_GT(lines, int(paragraphs));
    speaker->FireAudioStart();
    form->btConverterStop->click();
    speaker->FireAudioStop();

    // Cleared and loaded again, so that the layout starts over; "Save..." twice counts
    // once.
    form->btTextClear->click();
    Load();
    ASSERT_TRUE(form->TextLayoutPending());
    const int before = service.CentralCount();
    const QString wav = ScratchDir() + "/early.wav";
    ui.answers = {wav, wav};
    Timed("Save... click, text not yet laid out", [&] { form->btConverterSave->click(); });
    form->btConverterSave->click();
    EXPECT_EQ(before, service.CentralCount());
    ASSERT_TRUE(WaitFor([&] { return service.CentralCount() > before; }, 120000));
    WaitFor(nullptr, 50);
    ASSERT_EQ(before + 1, service.CentralCount());
    FakeCentral* saver = LastCentral();
    ASSERT_EQ(1u, saver->texts.size());
    ExpectWholeText(saver->texts.back());
    EXPECT_EQ(lines, form->fwMSpeechSave->Text().LineCount());
}

TEST_F(LongText, TextChangedWhileWaitingIsTheTextSpoken) {
    Load();
    ASSERT_TRUE(form->TextLayoutPending());
    form->btConverterSpeak->click();
    // Cleared before the layout was through: the box is empty, as if Speak came now.
    form->btTextClear->click();
    ASSERT_TRUE(WaitFor([&] { return speaker->texts.size() == 2; }, 120000));
    EXPECT_EQ(std::string("1 2 3\r\n\0", 8), speaker->texts.back());
}

TEST_F(LongText, HighlightAndProgressReachTheEndOfTheText) {
    Load();
    // The box lays the text out between messages, and finishes.
    QElapsedTimer all;
    all.start();
    while (form->TextLayoutPending() && all.elapsed() < 120000) QCoreApplication::processEvents();
    std::printf("[ timing ] background layout: %lld ms\n", static_cast<long long>(all.elapsed()));
    EXPECT_FALSE(form->TextLayoutPending());

    Timed("Speak click", [&] { form->btConverterSpeak->click(); });
    ASSERT_EQ(2u, speaker->texts.size());
    const std::string& spoken = speaker->texts.back();
    ExpectWholeText(spoken);
    speaker->FireAudioStart();

    // Highlight near the start, the middle and the end: five characters of the word
    // at that offset.
    const QString box = form->mmEditText->toPlainText();
    for (size_t offset : {size_t(6), spoken.size() / 2, spoken.size() - 12}) {
        SCOPED_TRACE(offset);
        const size_t word = spoken.find_first_not_of(" \r\n", spoken.rfind(' ', offset) + 1);
        speaker->FireWordPosition(DWORD(word));
        Timed("highlight", [&] {
            speaker->FireVisual(0, nullptr);
            QCoreApplication::processEvents();
        });
        const QTextCursor cursor = form->mmEditText->textCursor();
        EXPECT_EQ(5, cursor.selectedText().size());
        EXPECT_EQ(QString::fromStdString(spoken.substr(word, 5)), cursor.selectedText());
    }
    Timed("Pause click", [&] { form->btConverterPause->click(); });
    EXPECT_TRUE(form->fwMSpeech->Paused());

    ui.answers = {ScratchDir() + "/long.wav"};
    Timed("Save... click", [&] { form->btConverterSave->click(); });
    FakeCentral* saver = LastCentral();
    ASSERT_NE(saver, speaker);
    ASSERT_EQ(1u, saver->texts.size());
    saver->FireAudioStart();
    EXPECT_EQ(int(spoken.size() - 1), form->pbConverter->maximum());  // the text form, no NUL
    EXPECT_EQ(0, form->pbConverter->value());
    const int max = form->pbConverter->maximum();
    Timed("progress, 200 steps", [&] {
        for (DWORD offset = 0; offset < spoken.size(); offset += DWORD(spoken.size() / 200)) {
            saver->FireWordPosition(offset);
            saver->FireVisual(0, nullptr);
            QCoreApplication::processEvents();
            ASSERT_EQ(int(std::min<DWORD>(offset, DWORD(max))), form->pbConverter->value());
        }
    });
    const DWORD last = DWORD(spoken.size() - 3);
    saver->FireWordPosition(last);
    saver->FireVisual(0, nullptr);
    EXPECT_EQ(int(last), form->pbConverter->value());
    EXPECT_EQ(QString::number(last) + " / " + QString::number(max), form->lbConverterPos->text());
}

}  // namespace

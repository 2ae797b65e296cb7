// A 5 MB text: loading it, starting speech or a conversion, and the highlight and
// progress handlers must never stall the window for long.
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
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
        file = ScratchDir() + "/long.txt";
        WriteFileBytes(file, text);
    }
    template <class F>
    qint64 Millis(F f) {
        QElapsedTimer t;
        t.start();
        f();
        return t.elapsed();
    }
    static void Report(const char* what, qint64 ms) {
        std::printf("[ timing ] %s: %lld ms\n", what, static_cast<long long>(ms));
    }

    FakeCentral* speaker = nullptr;
    std::string text;
    QString file;
};

TEST_F(LongText, NoHandlerStallsTheWindow) {
    ui.answers = {file};
    const qint64 load = Millis([&] { form->btTextLoad->click(); });
    Report("load 5 MB", load);
    ASSERT_TRUE(ui.boxes.empty());
    ASSERT_GT(form->mmEditText->document()->characterCount(), 5'000'000);
    // The box lays the text out between messages; no turn of the loop takes long.
    qint64 worstTurn = 0;
    QElapsedTimer all;
    all.start();
    while (form->TextLayoutPending() && all.elapsed() < 20000)
        worstTurn = std::max(worstTurn, Millis([] { QCoreApplication::processEvents(); }));
    Report("background layout", all.elapsed());
    Report("worst turn of the loop while laying out", worstTurn);
    EXPECT_FALSE(form->TextLayoutPending());

    const qint64 speak = Millis([&] { form->btConverterSpeak->click(); });
    Report("Speak click", speak);
    ASSERT_FALSE(speaker->texts.empty());
    const size_t spoken = speaker->texts.back().size();
    EXPECT_GT(spoken, text.size());  // CR LF at every wrap point
    speaker->FireAudioStart();

    // Highlight near the start, the middle and the end.
    qint64 worstVisual = 0;
    for (size_t offset : {size_t(6), spoken / 2, spoken - 20}) {
        speaker->FireWordPosition(DWORD(offset));
        worstVisual = std::max(worstVisual, Millis([&] {
                                   speaker->FireVisual(0, nullptr);
                                   QCoreApplication::processEvents();
                               }));
        EXPECT_EQ(5, form->mmEditText->textCursor().selectedText().size());
    }
    Report("worst highlight", worstVisual);
    const qint64 pause = Millis([&] { form->btConverterPause->click(); });
    Report("Pause click", pause);

    ui.answers = {ScratchDir() + "/long.wav"};
    const qint64 save = Millis([&] { form->btConverterSave->click(); });
    Report("Save... click", save);
    FakeCentral* saver = LastCentral();
    ASSERT_NE(saver, speaker);
    saver->FireAudioStart();
    qint64 worstProgress = 0;
    for (DWORD offset = 0; offset < spoken; offset += DWORD(spoken / 200)) {
        saver->FireWordPosition(offset);
        worstProgress = std::max(worstProgress, Millis([&] {
                                     saver->FireVisual(0, nullptr);
                                     QCoreApplication::processEvents();
                                 }));
    }
    Report("worst progress", worstProgress);
    EXPECT_EQ(int(spoken - 1), form->pbConverter->maximum());  // the text form, no NUL

    EXPECT_LT(load, 1000);
    EXPECT_LT(worstTurn, 200);
    EXPECT_LT(speak, 1000);
    EXPECT_LT(save, 1000);
    EXPECT_LT(worstVisual, 200);
    EXPECT_LT(pause, 200);
    EXPECT_LT(worstProgress, 200);
}

}  // namespace

// The text group and the converter over the recording speech service: the state
// table and its transitions, the word highlight and the WAV conversion's progress.
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>

#include "WindowFixture.h"
#include "support/Errors.h"

namespace {

enum class State { Idle, Speaking, Paused, Saving };

class Converter : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Start();
        ShowEditPage();
        speaker = LastCentral();  // fwMSpeech's engine, attached at start-up
        ASSERT_NE(nullptr, speaker);
        speaker->FireAudioStart();  // the start-up phrase runs through speaking to idle
        speaker->FireAudioStop();
        ExpectState(State::Idle);
    }

    // The controls of each state, as the handlers leave them.
    void ExpectState(State s) {
        SCOPED_TRACE(int(s));
        auto* f = form.get();
        switch (s) {
            case State::Idle:
                EXPECT_FALSE(f->btConverterSpeak->isHidden());
                EXPECT_TRUE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterPause->isHidden());
                EXPECT_FALSE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_TRUE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->lbConverterPos->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_TRUE(f->gbEditVoice->isEnabled());
                break;
            case State::Speaking:
                EXPECT_TRUE(f->btConverterSpeak->isHidden());
                EXPECT_FALSE(f->btConverterPause->isHidden());
                EXPECT_TRUE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_FALSE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
            case State::Paused:
                EXPECT_FALSE(f->btConverterSpeak->isHidden());
                EXPECT_TRUE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterPause->isHidden());
                EXPECT_TRUE(f->btConverterStop->isEnabled());
                EXPECT_FALSE(f->btConverterSave->isHidden());
                EXPECT_TRUE(f->btConverterSave->isEnabled());
                EXPECT_TRUE(CancelUnseen());
                EXPECT_TRUE(f->pbConverter->isHidden());
                EXPECT_TRUE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
            case State::Saving:
                EXPECT_FALSE(f->btConverterSpeak->isEnabled());
                EXPECT_TRUE(f->btConverterSave->isHidden());
                EXPECT_FALSE(f->btConverterCancel->isHidden());
                EXPECT_FALSE(f->pbConverter->isHidden());
                EXPECT_FALSE(f->lbConverterPos->isHidden());
                EXPECT_FALSE(f->gbEditText->isEnabled());
                EXPECT_FALSE(f->gbEditVoice->isEnabled());
                break;
        }
    }
    // Until a conversion has run, "Cancel" stays shown beneath "Save...", as at start-up.
    bool CancelUnseen() const {
        return form->btConverterCancel->isHidden() ||
               form->gbEditConverter->childAt(form->btConverterCancel->geometry().center()) ==
                   form->btConverterSave;
    }
    void SetText(const QString& text) { form->mmEditText->setPlainText(text); }
    // Starts a WAV conversion into a fresh file; returns the engine object rendering it.
    FakeCentral* StartConversion(const QString& name) {
        const int before = service.CentralCount();
        ui.answers = {name};
        form->btConverterSave->click();
        return service.CentralCount() > before ? LastCentral() : nullptr;
    }
    QString Selected() const { return form->mmEditText->textCursor().selectedText(); }
    int SelectionStart() const { return form->mmEditText->textCursor().selectionStart(); }

    FakeCentral* speaker = nullptr;
};

TEST_F(Converter, SpeakPauseResumeStopFollowTheStateTable) {
    SetText("one two three");
    form->btConverterSpeak->setFocus();
    form->btConverterSpeak->click();
    EXPECT_TRUE(form->mmEditText->hasFocus());
    ASSERT_EQ(2u, speaker->texts.size());
    EXPECT_EQ(std::string("one two three\r\n\0", 16), speaker->texts.back());
    ExpectState(State::Idle);  // nothing changes before the engine reports
    speaker->FireAudioStart();
    ExpectState(State::Speaking);

    form->btConverterPause->click();
    EXPECT_EQ(1u, Logged("AudioPause").size());
    EXPECT_TRUE(form->fwMSpeech->Paused());
    ExpectState(State::Paused);

    // Speak resumes; no control changes until the engine reports again.
    form->btConverterSpeak->click();
    EXPECT_EQ(1u, Logged("AudioResume").size());
    EXPECT_EQ(2u, speaker->texts.size());
    ExpectState(State::Paused);
    speaker->FireAudioStart();
    ExpectState(State::Speaking);

    const size_t resets = Logged("AudioReset").size();
    form->btConverterStop->click();
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    ExpectState(State::Speaking);
    speaker->FireAudioStop();
    ExpectState(State::Idle);
}

TEST_F(Converter, SpeakWithAnEmptyBoxSaysTheTestPhrase) {
    SetText("");
    form->btConverterSpeak->click();
    EXPECT_EQ(std::string("1 2 3\r\n\0", 8), speaker->texts.back());
    EXPECT_EQ("", form->mmEditText->toPlainText());
    // Blanks or breaks only are text and are handed over.
    SetText("  \n");
    form->btConverterSpeak->click();
    EXPECT_EQ(0u, speaker->texts.back().rfind("  \r\n", 0));
}

TEST_F(Converter, EditingStopsAPausedSpeechOnly) {
    SetText("some words here");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    const size_t resets = Logged("AudioReset").size();
    QTest::keyClicks(form->mmEditText, "x");
    EXPECT_EQ(resets, Logged("AudioReset").size());  // speaking goes on
    form->btConverterPause->click();
    QTest::keyClicks(form->mmEditText, "y");
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    speaker->FireAudioStop();
    ExpectState(State::Idle);
}

TEST_F(Converter, LoadingTheSameTextFiresNoChange) {
    const QString file = ScratchDir() + "/same.txt";
    WriteFileBytes(file, "alpha\r\nbeta");
    SetText("alpha\nbeta");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    form->btConverterPause->click();
    const size_t resets = Logged("AudioReset").size();
    ui.answers = {file};
    form->btTextLoad->click();
    EXPECT_EQ(resets, Logged("AudioReset").size());
    EXPECT_TRUE(form->fwMSpeech->Paused());
    // Clearing is an edit.
    form->btTextClear->click();
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
}

TEST_F(Converter, HighlightFollowsTheWordsThroughWrapsAndAccents) {
    // One paragraph that the box wraps, a real break, and a line with accents.
    QString para;
    for (int i = 0; i < 30; ++i) para += QString("word%1 ").arg(i, 2, 10, QChar('0'));
    const QString text = para + "\ncaf\u00e9 na\u00efve end";
    SetText(text);
    form->btConverterSpeak->click();
    const std::string spoken = speaker->texts.back();
    ASSERT_GT(form->fwMSpeech->Text().LineCount(), 2);  // wrapped into several lines
    speaker->FireAudioStart();
    for (const char* word : {"word00", "word07", "word29", "na\xC3\xAFve", "end"}) {
        SCOPED_TRACE(word);
        const size_t offset = spoken.find(word);
        ASSERT_NE(std::string::npos, offset);
        speaker->FireWordPosition(DWORD(offset));
        speaker->FireVisual(0, nullptr);
        const QString expected = QString::fromUtf8(word).left(5);
        EXPECT_EQ(text.indexOf(QString::fromUtf8(word)), SelectionStart());
        EXPECT_EQ(expected, Selected().left(expected.size()));
        EXPECT_EQ(5, Selected().size() + (QString::fromUtf8(word) == "end" ? 2 : 0));
    }
    // Beyond the end: the caret at the end, nothing selected.
    speaker->FireWordPosition(DWORD(spoken.size() + 10));
    speaker->FireVisual(0, nullptr);
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_EQ(int(text.size()), form->mmEditText->textCursor().position());
}

TEST_F(Converter, HighlightUsesTheTextAsHandedOverNotTheLiveBox) {
    SetText("first second third");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    // The user adds a long paragraph after the text while it is spoken.
    QTextCursor end = form->mmEditText->textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText("\n" + QString("more words ").repeated(40));
    const size_t offset = speaker->texts.back().find("third");
    speaker->FireWordPosition(DWORD(offset));
    speaker->FireVisual(0, nullptr);
    EXPECT_EQ("third", Selected());
}

TEST_F(Converter, TheTestPhraseSelectsAtItsOwnOffsets) {
    SetText("abcdefghijklmnop");
    form->btVoiceTest->click();
    speaker->FireAudioStart();
    for (int offset : {0, 2, 4}) {
        speaker->FireWordPosition(DWORD(offset));
        speaker->FireVisual(0, nullptr);
        EXPECT_EQ(offset, SelectionStart());
        EXPECT_EQ(QString("abcdefghijklmnop").mid(offset, 5), Selected());
    }
}

TEST_F(Converter, ConversionShowsProgressAndReturnsToIdle) {
    SetText("abc");
    const QString wav = ScratchDir() + "/out";
    FakeCentral* saver = StartConversion(wav);
    ASSERT_NE(nullptr, saver);
    EXPECT_EQ((wav + ".wav").toStdU16String(), form->fwMSpeechSave->Filename());
    EXPECT_EQ(std::string("abc\r\n\0", 6), saver->texts.back());
    EXPECT_FALSE(Logged("File#").empty());
    // The engine values of fwMSpeech, copied as tags.
    EXPECT_FALSE(Logged("Central#" + std::to_string(saver->id()) + ".Inject(\\Pit=").empty());
    ExpectState(State::Idle);
    saver->FireAudioStart();
    ExpectState(State::Saving);
    EXPECT_EQ(5, form->pbConverter->maximum());
    EXPECT_EQ(0, form->pbConverter->value());
    EXPECT_EQ("0 / 5", form->lbConverterPos->text());
    saver->FireWordPosition(3);
    saver->FireVisual(0, nullptr);
    EXPECT_EQ(3, form->pbConverter->value());
    EXPECT_EQ("3 / 5", form->lbConverterPos->text());
    saver->FireWordPosition(120);  // beyond: the bar stops at its end, the label tells
    saver->FireVisual(0, nullptr);
    EXPECT_EQ(5, form->pbConverter->value());
    EXPECT_EQ("120 / 5", form->lbConverterPos->text());

    form->btConverterCancel->click();
    EXPECT_FALSE(Logged("Central#" + std::to_string(saver->id()) + ".AudioReset").empty());
    ExpectState(State::Saving);
    saver->FireAudioStop();
    ExpectState(State::Idle);
    EXPECT_FALSE(Logged(".Flush").empty());  // the WAV file completed on stop

    // A second conversion starts from an empty bar.
    SetText("a longer text");
    FakeCentral* again = StartConversion(ScratchDir() + "/two.wav");
    ASSERT_NE(nullptr, again);
    again->FireAudioStart();
    EXPECT_EQ(0, form->pbConverter->value());
    EXPECT_EQ(15, form->pbConverter->maximum());
    EXPECT_EQ("0 / 15", form->lbConverterPos->text());
}

TEST_F(Converter, ConversionWhilePausedLeavesTheSpeechPaused) {
    SetText("pause me");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    form->btConverterPause->click();
    ExpectState(State::Paused);
    FakeCentral* saver = StartConversion(ScratchDir() + "/p.wav");
    ASSERT_NE(nullptr, saver);
    saver->FireAudioStart();
    ExpectState(State::Saving);
    saver->FireAudioStop();
    EXPECT_TRUE(form->fwMSpeech->Paused());
    EXPECT_TRUE(form->btConverterSpeak->isEnabled());
    EXPECT_TRUE(form->gbEditVoice->isEnabled());
    form->btConverterSpeak->click();
    EXPECT_EQ(1u, Logged("AudioResume").size());
}

TEST_F(Converter, ConversionWithoutAnEngineStartsNothingAndSaysNothing) {
    SetText("text");
    form->cbVoiceEngines->setCurrentIndex(-1);
    EXPECT_EQ(nullptr, StartConversion(ScratchDir() + "/none.wav"));
    EXPECT_TRUE(ui.boxes.empty());
    ExpectState(State::Idle);
    // A cancelled dialog does nothing either.
    form->cbVoiceEngines->setCurrentIndex(0);
    const size_t logged = service.log.size();
    form->btConverterSave->click();
    EXPECT_EQ(logged, service.log.size());
}

TEST_F(Converter, AWavFileThatCannotBeCreatedIsReported) {
    SetText("text");
    service.FailAt("File.Set", E_ACCESSDENIED, 0);
    const QString name = ScratchDir() + "/denied.wav";
    StartConversion(name);
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Cannot create file " + name + ".", ui.boxes[0].text);
    ExpectState(State::Idle);
}

TEST_F(Converter, AFailingPauseKeepsTheSpeakingState) {
    SetText("words");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    service.FailAt("Central.AudioPause", E_FAIL, 0);
    form->btConverterPause->click();
    ASSERT_EQ(1u, ui.boxes.size());
    ExpectState(State::Speaking);
}

TEST_F(Converter, TextFilesLoadAndSaveThroughTheirDialogs) {
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/in.txt", "line one\nline two\r\n");
    ui.answers = {dir + "/in", dir + "/out"};
    form->btTextLoad->click();
    EXPECT_EQ("Load Text from File...", ui.dialogTitles.back());
    EXPECT_EQ("line one\nline two\n", form->mmEditText->toPlainText());
    form->btTextSave->click();
    EXPECT_EQ("Save Text to File...", ui.dialogTitles.back());
    EXPECT_EQ("line one\r\nline two\r\n", ReadFileBytes(dir + "/out.txt"));
    // Cannot create: the folder is missing.
    ui.answers = {dir + "/missing/x.txt"};
    form->btTextSave->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Cannot create file " + dir + "/missing/x.txt.", ui.boxes[0].text);
}

}  // namespace

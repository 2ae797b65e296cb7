// The converter over the recording speech service: the state table and its
// transitions, and the WAV conversion's progress.
#include <QFileInfo>

#include "ConverterFixture.h"
#include "app/TextLayoutRunner.h"
#include "support/Errors.h"

namespace {

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

TEST_F(Converter, StopWhilePausedResetsTheEngineAndReturnsToIdle) {
    SetText("words to stop");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    form->btConverterPause->click();
    ExpectState(State::Paused);
    const size_t resets = Logged("AudioReset").size();
    form->btConverterStop->click();
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    EXPECT_FALSE(form->fwMSpeech->Paused());
    ExpectState(State::Paused);  // until the engine reports the stop
    speaker->FireAudioStop();
    ExpectState(State::Idle);
}

TEST_F(Converter, SpeakWithAnEmptyBoxSaysTheTestPhrase) {
    SetText("");
    form->btConverterSpeak->click();
    EXPECT_EQ(std::string("1 2 3\r\n\0", 8), speaker->texts.back());
    EXPECT_EQ("", form->mmEditText->toPlainText());
    speaker->FireAudioStart();
    ExpectState(State::Speaking);
    speaker->FireAudioStop();
    // Blanks or breaks only are text and are handed over.
    SetText("  \n");
    form->btConverterSpeak->click();
    EXPECT_EQ(0u, speaker->texts.back().rfind("  \r\n", 0));
}

TEST_F(Converter, TestEnginePickAndSettingsLoadSpeakThroughTheSpeakingState) {
    auto throughSpeaking = [&](FakeCentral* engine) {
        ASSERT_NE(nullptr, engine);
        ExpectState(State::Idle);  // nothing changes before the engine reports
        engine->FireAudioStart();
        ExpectState(State::Speaking);
        engine->FireAudioStop();
        ExpectState(State::Idle);
    };
    {
        SCOPED_TRACE("Test");
        const int phrases = TestPhrases();
        form->btVoiceTest->click();
        EXPECT_EQ(phrases + 1, TestPhrases());
        throughSpeaking(speaker);
    }
    {
        SCOPED_TRACE("engine pick");
        form->cbVoiceEngines->setCurrentIndex(1);
        emit form->cbVoiceEngines->activated(1);
        ASSERT_NE(speaker, LastCentral());
        throughSpeaking(LastCentral());
    }
    {
        SCOPED_TRACE("settings load");
        const QString cfg = ScratchDir() + "/voice.cfg";
        WriteFileBytes(cfg,
                       "[Voice]\r\nEngine=Fake Alpha\r\nPitch=120\r\nSpeed=200\r\nVolume=50\r\n");
        const int engines = service.CentralCount();
        ui.answers = {cfg};
        form->btVoiceLoad->click();
        ASSERT_TRUE(ui.boxes.empty());
        ASSERT_EQ(engines + 1, service.CentralCount());
        throughSpeaking(LastCentral());
    }
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

TEST_F(Converter, AFailingPauseResumeOrStopShowsItsErrorAndChangesNoControl) {
    SetText("words");
    form->btConverterSpeak->click();
    speaker->FireAudioStart();
    service.FailAt("Central.AudioPause", E_FAIL);
    form->btConverterPause->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_FALSE(form->fwMSpeech->Paused());
    ExpectState(State::Speaking);
    service.FailAt("Central.AudioReset", E_FAIL);
    form->btConverterStop->click();
    ASSERT_EQ(2u, ui.boxes.size());
    ExpectState(State::Speaking);

    form->btConverterPause->click();
    ExpectState(State::Paused);
    service.FailAt("Central.AudioResume", E_FAIL);
    form->btConverterSpeak->click();
    ASSERT_EQ(3u, ui.boxes.size());
    EXPECT_TRUE(form->fwMSpeech->Paused());
    ExpectState(State::Paused);
    service.FailAt("Central.AudioReset", E_FAIL);
    form->btConverterStop->click();
    ASSERT_EQ(4u, ui.boxes.size());
    ExpectState(State::Paused);
    for (const ShownBox& box : ui.boxes) EXPECT_FALSE(box.text.isEmpty());
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
    // What the saving state leaves as it was: the idle state's.
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_TRUE(form->btConverterPause->isHidden());
    EXPECT_FALSE(form->btConverterStop->isEnabled());
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

TEST_F(Converter, ClosingWhileTheTextIsLaidOutStartsNothingAfterwards) {
    SetText(QString("word ").repeated(TTextLayoutRunner::kAtOnceCharacters / 4));
    ASSERT_TRUE(form->TextLayoutPending());
    const int before = service.CentralCount();
    const QString wav = ScratchDir() + "/late.wav";
    ui.answers = {wav};
    form->btConverterSave->click();
    form->close();
    ASSERT_TRUE(WaitFor([&] { return !form->TextLayoutPending(); }, 60000));
    WaitFor(nullptr, 20);
    EXPECT_EQ(before, service.CentralCount());
    EXPECT_FALSE(QFileInfo::exists(wav));
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
    // What the saving state leaves as it was: the paused state's.
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_TRUE(form->btConverterPause->isHidden());
    EXPECT_TRUE(form->btConverterStop->isEnabled());
    saver->FireAudioStop();
    // The idle column's controls that the end of the conversion sets, although the
    // speech is still paused; "Stop" stays enabled.
    EXPECT_TRUE(form->fwMSpeech->Paused());
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_TRUE(form->btConverterSpeak->isEnabled());
    EXPECT_TRUE(form->btConverterPause->isHidden());
    EXPECT_TRUE(form->btConverterStop->isEnabled());
    EXPECT_FALSE(form->btConverterSave->isHidden());
    EXPECT_TRUE(form->btConverterCancel->isHidden());
    EXPECT_TRUE(form->pbConverter->isHidden());
    EXPECT_TRUE(form->gbEditText->isEnabled());
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

TEST_F(Converter, AConversionWhoseEngineCannotBeSelectedStartsNothingAndSaysNothing) {
    SetText("text");
    service.FailAt("Enum.Select", E_FAIL);
    const size_t texts = Logged(".TextData(").size();
    StartConversion(ScratchDir() + "/unselected.wav");
    EXPECT_FALSE(form->fwMSpeechSave->Selected());
    EXPECT_EQ(texts, Logged(".TextData(").size());
    EXPECT_TRUE(ui.boxes.empty());
    ExpectState(State::Idle);
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

}  // namespace

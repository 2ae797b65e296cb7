// The voice panel over the recording speech service: picking engines, the bars, their
// labels and exits, the test phrase and settings files.
#include <QFocusEvent>
#include <QLabel>

#include "WindowFixture.h"
#include "support/Errors.h"
#include "support/FileReplace.h"

namespace {

class Voice : public WindowFixture {
  protected:
    void SetUp() override {
        FakeMode alpha = NamedMode("Fake Alpha");
        FakeMode beta = NamedMode("Fake Beta");
        // Beta's pitch range lies wholly below Alpha's, and it starts silent.
        beta.pitchMin = 10, beta.pitchMax = 40, beta.pitch = 20;
        beta.speedMin = 100, beta.speedMax = 300, beta.speed = 150;
        beta.volume = 0;
        service.modes = {alpha, beta};
        WindowFixture::SetUp();
        Start();
        ShowEditPage();
    }
    void ExpectPanelShowsEngine() {
        ::ExpectPanelShowsEngine(*form, form->fwMSpeech->EngineInfo());
    }
    void Pick(int index) {
        form->cbVoiceEngines->setFocus();
        while (form->cbVoiceEngines->currentIndex() < index)
            QTest::keyClick(form->cbVoiceEngines, Qt::Key_Down);
        while (form->cbVoiceEngines->currentIndex() > index)
            QTest::keyClick(form->cbVoiceEngines, Qt::Key_Up);
    }
    // The end of the speech, so that the voice panel is usable again.
    void EndSpeech() {
        if (FakeCentral* c = LastCentral()) c->FireAudioStop();
    }
    std::string PitchTag(int v) { return "Inject(\\Pit=" + std::to_string(v) + "\\)"; }
    std::string SpeedTag(int v) { return "Inject(\\Spd=" + std::to_string(v) + "\\)"; }
};

TEST_F(Voice, StartUpAppliesTheFirstEngine) {
    EXPECT_EQ(QString("Fake Alpha"), form->cbVoiceEngines->currentText());
    EXPECT_EQ(1, TestPhrases());
    ExpectPanelShowsEngine();
    EXPECT_EQ(QString::number(form->tbVoicePitch->value()), form->lbPitchPos->text());
    EXPECT_EQ(QString::number(form->tbVoiceSpeed->value()), form->lbSpeedPos->text());
    EXPECT_EQ("100", form->lbVolumePos->text());
}

TEST_F(Voice, PickingAnEngineTakesItsWholeRangeAndSpeaksTheTestPhrase) {
    Pick(1);
    EXPECT_EQ("Fake Beta", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(2, TestPhrases());
    ExpectPanelShowsEngine();
    EXPECT_LT(form->tbVoicePitch->maximum(), 50);  // below the previous range
    EXPECT_EQ("0", form->lbVolumePos->text());
    EndSpeech();
    Pick(0);
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
    ExpectPanelShowsEngine();
    EXPECT_EQ(3, TestPhrases());
}

TEST_F(Voice, SelectingALineFromCodeChangesNothing) {
    const size_t before = service.log.size();
    form->cbVoiceEngines->setCurrentIndex(1);
    WaitFor(nullptr, 20);
    EXPECT_EQ(before, service.log.size());
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
}

TEST_F(Voice, PositionLabelKeepsQuestionMarksUntilItsBarReports) {
    form.reset();
    service.modes[0].volume = 0;  // the first engine starts silent as well
    Start();
    ShowEditPage();
    EXPECT_EQ("???", form->lbVolumePos->text());  // 0 on 0..10, then 0 on 0..100
    form->tbVoiceVolume->setFocus();
    QTest::keyClick(form->tbVoiceVolume, Qt::Key_Home);  // at the top already: no change
    EXPECT_EQ(0, form->tbVoiceVolume->value());
    EXPECT_EQ("0", form->lbVolumePos->text());
    QTest::keyClick(form->tbVoiceVolume, Qt::Key_PageDown);
    EXPECT_EQ(2, form->tbVoiceVolume->value());
    EXPECT_EQ("2", form->lbVolumePos->text());
}

TEST_F(Voice, BarValuesReachTheEngineOnlyWhenTheFocusMovesOn) {
    EndSpeech();
    auto* bar = form->tbVoicePitch;
    bar->setFocus(Qt::TabFocusReason);
    WaitFor(nullptr, 10);
    const int moved = bar->value() + 12;
    QTest::keyClick(bar, Qt::Key_Down);  // one arrow step, towards the maximum below
    EXPECT_EQ(moved, bar->value());
    EXPECT_EQ(QString::number(moved), form->lbPitchPos->text());
    EXPECT_TRUE(Logged(PitchTag(moved)).empty());

    // The window losing activation or a popup opening is no exit.
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(bar, &deactivated);
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QCoreApplication::sendEvent(bar, &popup);
    EXPECT_TRUE(Logged(PitchTag(moved)).empty());

    // A click on "Test": the exit runs before the click, so the phrase has the value.
    QTest::mouseClick(form->btVoiceTest, Qt::LeftButton);
    const int tag = LogIndex(PitchTag(moved));
    ASSERT_GE(tag, 0);
    const auto texts = Logged(".TextData(");
    ASSERT_FALSE(texts.empty());
    EXPECT_LT(tag, LastLogIndex(texts.back()));
    EXPECT_EQ(2, TestPhrases());

    // Tab from the speed bar sends the speed.
    EndSpeech();
    form->tbVoiceSpeed->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->tbVoiceSpeed, Qt::Key_End);
    EXPECT_TRUE(Logged(SpeedTag(form->tbVoiceSpeed->maximum())).empty());
    QTest::keyClick(form->tbVoiceSpeed, Qt::Key_Tab);
    EXPECT_EQ(1u, Logged(SpeedTag(form->tbVoiceSpeed->maximum())).size());
}

TEST_F(Voice, TestStopsWhatIsSpokenAndSpeaksThePhrase) {
    form->fwMSpeech->Text().AppendLine("left over");
    const size_t resets = Logged("AudioReset").size();
    form->btVoiceTest->click();
    EXPECT_EQ(resets + 1, Logged("AudioReset").size());
    ASSERT_EQ(1, form->fwMSpeech->Text().LineCount());
    EXPECT_EQ("1 2 3", form->fwMSpeech->Text().LineAt(0));
    EXPECT_EQ(2, TestPhrases());
}

TEST_F(Voice, SettingsRoundTripByteForByte) {
    EndSpeech();
    const QString dir = ScratchDir();
    form->tbVoicePitch->setValue(60);
    form->tbVoiceSpeed->setValue(400);
    form->tbVoiceVolume->setValue(55);
    ui.answers = {dir + "/voice"};  // typed without an extension
    form->btVoiceSave->click();
    ASSERT_EQ(1u, ui.dialogTitles.size());
    EXPECT_EQ("Save Settings to File...", ui.dialogTitles[0]);
    EXPECT_EQ("[Voice]\r\nEngine=Fake Alpha\r\nPitch=60\r\nSpeed=400\r\nVolume=55\r\n",
              ReadFileBytes(dir + "/voice.cfg"));
    EXPECT_EQ(dir + "/voice.cfg", form->DlgSaveSettings->FileName());

    // Change everything, then load the file back.
    Pick(1);
    EndSpeech();
    service.ClearLog();
    ui.answers = {dir + "/voice.cfg"};
    form->btVoiceLoad->click();
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ("Load Settings from File...", ui.dialogTitles.back());
    EXPECT_EQ(0, form->cbVoiceEngines->currentIndex());
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(60, form->tbVoicePitch->value());
    EXPECT_EQ(400, form->tbVoiceSpeed->value());
    EXPECT_EQ(55, form->tbVoiceVolume->value());
    EXPECT_EQ(1u, Logged(PitchTag(60)).size());
    EXPECT_EQ(1u, Logged(SpeedTag(400)).size());
    // 55 % as the engine's 16-bit level (36044) in both channels.
    EXPECT_EQ(1u, Logged("Inject(\\Vol=2362215628\\)").size());
    EXPECT_LT(LogIndex(PitchTag(60)), LogIndex(SpeedTag(400)));
    EXPECT_EQ(1, TestPhrases());

    // Each dialog offers the name chosen in it last.
    EndSpeech();
    form->btVoiceSave->click();  // cancelled: no answer queued
    EXPECT_EQ(dir + "/voice.cfg", ui.offeredNames.back());
}

TEST_F(Voice, LoadingMatchesTheEngineIgnoringCaseAndClampsValues) {
    EndSpeech();
    const QString file = ScratchDir() + "/beta.cfg";
    WriteFileBytes(file, "[voice]\r\nengine=FAKE BETA\r\nPitch=1000\r\nSpeed=-5\r\n");
    ui.answers = {file};
    form->btVoiceLoad->click();
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(1, form->cbVoiceEngines->currentIndex());
    EXPECT_EQ("Fake Beta", form->fwMSpeech->EngineInfo().ModeName);
    // Out of range: the nearer end; a missing key reads 0; the bars' values are sent.
    EXPECT_EQ(form->tbVoicePitch->maximum(), form->tbVoicePitch->value());
    EXPECT_EQ(form->tbVoiceSpeed->minimum(), form->tbVoiceSpeed->value());
    EXPECT_EQ(0, form->tbVoiceVolume->value());
    EXPECT_FALSE(Logged(PitchTag(form->tbVoicePitch->maximum())).empty());
    EXPECT_FALSE(Logged(SpeedTag(form->tbVoiceSpeed->minimum())).empty());
    EXPECT_EQ(2, TestPhrases());
}

TEST_F(Voice, UnknownEngineLeavesTheListBlankAndReadsNoFurther) {
    EndSpeech();
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/x.cfg", "[Voice]\r\nEngine=Not Here\r\nPitch=abc\r\n");
    const int pitch = form->tbVoicePitch->value();
    ui.answers = {dir + "/x.cfg", dir + "/after.cfg"};
    form->btVoiceLoad->click();
    EXPECT_TRUE(ui.boxes.empty());  // "abc" was never read
    EXPECT_EQ(-1, form->cbVoiceEngines->currentIndex());
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(pitch, form->tbVoicePitch->value());
    EXPECT_EQ(1, TestPhrases());
    form->btVoiceSave->click();
    EXPECT_EQ("[Voice]\r\nEngine=\r\nPitch=" + std::to_string(pitch) +
                  "\r\nSpeed=" + std::to_string(form->tbVoiceSpeed->value()) +
                  "\r\nVolume=" + std::to_string(form->tbVoiceVolume->value()) + "\r\n",
              ReadFileBytes(dir + "/after.cfg"));
}

TEST_F(Voice, ABadNumberStopsTheLoadWithItsMessage) {
    EndSpeech();
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/pitch.cfg",
                   "[Voice]\r\nEngine=Fake Beta\r\nPitch=abc\r\nSpeed=200\r\nVolume=7\r\n");
    WriteFileBytes(dir + "/speed.cfg",
                   "[Voice]\r\nEngine=Fake Alpha\r\nPitch=60\r\nSpeed=abc\r\nVolume=7\r\n");
    WriteFileBytes(dir + "/empty.cfg", "[Voice]\r\nEngine=Fake Beta\r\nPitch=\r\n");
    ui.answers = {dir + "/pitch.cfg", dir + "/speed.cfg", dir + "/empty.cfg"};

    // The engine is taken, and nothing after the bad pitch: no value, no phrase.
    service.ClearLog();
    form->btVoiceLoad->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("'abc' is not a valid integer value.", ui.boxes[0].text);
    EXPECT_EQ("Fake Beta", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_TRUE(Logged("Inject(").empty());
    EXPECT_EQ(20, form->tbVoicePitch->value());  // the engine's own values
    EXPECT_EQ(150, form->tbVoiceSpeed->value());
    EXPECT_EQ(0, form->tbVoiceVolume->value());
    EXPECT_EQ(0, TestPhrases());

    // A bad speed: the pitch before it is applied.
    form->btVoiceLoad->click();
    ASSERT_EQ(2u, ui.boxes.size());
    EXPECT_EQ("'abc' is not a valid integer value.", ui.boxes[1].text);
    EXPECT_EQ("Fake Alpha", form->fwMSpeech->EngineInfo().ModeName);
    EXPECT_EQ(60, form->tbVoicePitch->value());
    EXPECT_EQ(1u, Logged(PitchTag(60)).size());
    EXPECT_TRUE(Logged("Inject(\\Spd=").empty());
    EXPECT_TRUE(Logged("Inject(\\Vol=").empty());
    EXPECT_EQ(0, TestPhrases());

    form->btVoiceLoad->click();
    ASSERT_EQ(3u, ui.boxes.size());
    EXPECT_EQ("'' is not a valid integer value.", ui.boxes[2].text);
}

TEST_F(Voice, AnErrorInABarsExitIsShownAndTheWindowCarriesOn) {
    form.reset();
    service.FailAt("Enum.Select", E_FAIL, 0);  // no engine can be attached
    Start();
    ShowEditPage();
    ASSERT_FALSE(form->fwMSpeech->Selected());
    ASSERT_TRUE(ui.boxes.empty());
    form->tbVoicePitch->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->tbVoicePitch, Qt::Key_Down);
    QTest::keyClick(form->tbVoicePitch, Qt::Key_Tab);  // the exit sets the pitch: no engine
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("No speech engine is attached: select an engine first.", ui.boxes[0].text);
    ASSERT_EQ(form->tbVoiceSpeed, QApplication::focusWidget());

    // The window goes on handling what the user does.
    QTest::keyClick(form->tbVoiceSpeed, Qt::Key_PageUp);
    EXPECT_EQ(QString::number(form->tbVoiceSpeed->value()), form->lbSpeedPos->text());
    QTest::mouseClick(form->btVoiceTest, Qt::LeftButton);  // the speed's exit, then Test
    ASSERT_EQ(3u, ui.boxes.size());
    EXPECT_EQ("No speech engine is attached: select an engine first.", ui.boxes[1].text);
    EXPECT_EQ("Speech Engine not selected.", ui.boxes[2].text);
}

TEST_F(Voice, UnwritableSettingsFileShowsItsName) {
    EndSpeech();
    const QString name = ScratchDir() + "/no/such/folder/v.cfg";
    ui.answers = {name};
    form->btVoiceSave->click();
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("Unable to write to " + name + ".", ui.boxes[0].text);
}

TEST_F(Voice, ASaveFailingHalfWayLeavesWholeFiles) {
    EndSpeech();
    const QString name = ScratchDir() + "/voice.cfg";
    const std::string old =
        "; mine\r\n[Voice]\r\nEngine=Old Engine\r\nPitch=1\r\nSpeed=2\r\nVolume=3\r\n";
    form->tbVoicePitch->setValue(60);
    // The third value's write fails after the new contents were written, once through a
    // temporary file and once in place (a folder that refuses new files).
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace);
        WriteFileBytes(name, old);
        int writes = 0;
        SetReplaceFaultHook([&](ReplaceStage stage) {
            if (inPlace && stage == ReplaceStage::kTempCreated) return EACCES;
            return stage == ReplaceStage::kWritten && ++writes == 3 ? ENOSPC : 0;
        });
        ui.answers = {name};
        ui.boxes.clear();
        form->btVoiceSave->click();
        SetReplaceFaultHook({});
        ASSERT_EQ(1u, ui.boxes.size());
        EXPECT_EQ("Unable to write to " + name + ".", ui.boxes[0].text);
        EXPECT_EQ("; mine\r\n[Voice]\r\nEngine=Fake Alpha\r\nPitch=60\r\nSpeed=2\r\nVolume=3\r\n",
                  ReadFileBytes(name));
    }
}

TEST_F(Voice, DialogsCarryTheirTitlesFiltersAndExtensions) {
    EXPECT_EQ("Settings Files (.cfg) (*.cfg)", form->DlgLoadSettings->Filter());
    EXPECT_EQ("Load Settings from File...", form->DlgLoadSettings->Title());
    EXPECT_EQ("cfg", form->DlgSaveSettings->DefaultExt());
    EXPECT_EQ(TFileDialog::dkOpen, form->DlgLoadSettings->DialogKind());
    EXPECT_EQ(TFileDialog::dkSave, form->DlgSaveSettings->DialogKind());
    EXPECT_EQ("Text Files (.txt) (*.txt)", form->DlgLoadText->Filter());
    EXPECT_EQ("Load Text from File...", form->DlgLoadText->Title());
    EXPECT_EQ("Save Text to File...", form->DlgSaveText->Title());
    EXPECT_EQ(TFileDialog::dkOpen, form->DlgLoadText->DialogKind());
    EXPECT_EQ((QStringList{"Audio Files (.wav) (*.wav)", "MP3 Audio (.mp3) (*.mp3)",
                           "Ogg Vorbis Audio (.ogg) (*.ogg *.oga)", "Opus Audio (.opus) (*.opus)",
                           "FLAC Audio (.flac) (*.flac)", "M4B Audiobook (.m4b) (*.m4b)",
                           "EPUB 3 Read-Along Book (.epub) (*.epub)"}),
              form->DlgSaveAudio->Filters());
    EXPECT_EQ("Audio Files (.wav) (*.wav)", form->DlgSaveAudio->Filter());
    EXPECT_EQ("wav", form->DlgSaveAudio->DefaultExt());
    EXPECT_EQ("Save Audio to File...", form->DlgSaveAudio->Title());
}

}  // namespace

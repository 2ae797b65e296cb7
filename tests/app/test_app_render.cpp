// End to end on the real engines: rendering the text into audio files with progress,
// with the voice values of the panel, in the format the save dialog's entry names, and
// into WAV files cancelled or cut short by closing the window.
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <algorithm>

#include "EngineFixture.h"
#include "ModalDriver.h"

namespace {

// The kind of audio file its first bytes make it.
std::string AudioKind(const std::string& bytes) {
    if (bytes.rfind("RIFF", 0) == 0 && bytes.find("WAVE") == 8) return "wav";
    if (bytes.rfind("fLaC", 0) == 0) return "flac";
    if (bytes.rfind("OggS", 0) == 0)
        return bytes.find("OpusHead") != std::string::npos     ? "opus"
               : bytes.find("\x01vorbis") != std::string::npos ? "ogg"
                                                               : "ogg of another codec";
    const bool frameSync =
        bytes.size() > 1 && uint8_t(bytes[0]) == 0xFF && (uint8_t(bytes[1]) & 0xE0) == 0xE0;
    if (bytes.rfind("ID3", 0) == 0 || frameSync) return "mp3";
    return "unknown";
}

// Moves the bar to value and on to the next control, as a user leaving it does.
void SetBar(QSlider* bar, int value, QWidget* next) {
    bar->setFocus(Qt::TabFocusReason);
    WaitFor(nullptr, 10);
    bar->setValue(value);
    next->setFocus(Qt::TabFocusReason);
    WaitFor(nullptr, 10);
}

TEST_F(Engines, RenderingAWavFileShowsProgressAndKeepsTheVoiceValues) {
    // The first engine is espeak-ng, which renders a text alike with or without the
    // breaks at the box's wrap points.
    ASSERT_TRUE(form->cbVoiceEngines->currentText().contains("espeak")) << "no espeak-ng voice";
    const QString text =
        "One two three four five six seven eight nine ten, and then the numbers go on "
        "from eleven to twenty, which is long enough for the box to wrap the line.";
    form->mmEditText->setPlainText(text);
    // Off the engine's defaults, and on to the engine through the bars' exits.
    const uint16_t pitch = form->fwMSpeech->GetPitch();
    const uint32_t speed = form->fwMSpeech->GetSpeed(), volume = form->fwMSpeech->GetVolume();
    SetBar(form->tbVoicePitch, form->tbVoicePitch->minimum() + 10, form->tbVoiceSpeed);
    SetBar(form->tbVoiceSpeed, int(speed) + 80, form->tbVoiceVolume);
    SetBar(form->tbVoiceVolume, 40, form->btConverterSave);
    ASSERT_EQ(form->tbVoicePitch->value(), int(form->fwMSpeech->GetPitch()));
    ASSERT_EQ(form->tbVoiceSpeed->value(), int(form->fwMSpeech->GetSpeed()));
    ASSERT_EQ(40, int(form->fwMSpeech->GetVolume()));
    ASSERT_NE(pitch, form->fwMSpeech->GetPitch());
    ASSERT_NE(speed, form->fwMSpeech->GetSpeed());
    ASSERT_NE(volume, form->fwMSpeech->GetVolume());

    // Rendering is quick: look at the controls as each event of the component leaves them.
    int maximum = -1, saving = 0, stopped = 0;
    QString startLabel, lastLabel;
    form->fwMSpeechSave->OnStart = [&](void*) {
        form->fwMSpeechSaveStart();
        maximum = form->pbConverter->maximum();
        startLabel = form->lbConverterPos->text();
        saving += !form->gbEditText->isEnabled() && !form->btConverterSpeak->isEnabled() &&
                  !form->pbConverter->isHidden() && form->btConverterSave->isHidden();
    };
    form->fwMSpeechSave->OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        form->fwMSpeechSaveVisual();
        lastLabel = form->lbConverterPos->text();
    };
    form->fwMSpeechSave->OnStop = [&](void*) {
        form->fwMSpeechSaveStop();
        ++stopped;
    };
    const QString wav = ScratchDir() + "/speech.wav";
    ui.answers = {wav};
    form->btConverterSave->click();
    EXPECT_TRUE(ui.boxes.empty());
    ASSERT_TRUE(WaitFor([&] { return stopped > 0; }, 30000));
    const int lines = form->fwMSpeechSave->Text().LineCount();
    ASSERT_GT(lines, 1) << "the box does not wrap the text";
    EXPECT_EQ(1, saving);
    EXPECT_EQ(int(text.size()) + 2 * lines, maximum);  // a CR LF after each laid-out line
    EXPECT_EQ("0 / " + QString::number(maximum), startLabel);
    EXPECT_TRUE(lastLabel.endsWith(" / " + QString::number(maximum))) << lastLabel.toStdString();
    EXPECT_NE(startLabel, lastLabel);
    EXPECT_TRUE(form->pbConverter->isHidden());
    EXPECT_TRUE(form->gbEditText->isEnabled());
    const WavInfo info = ReadWav(wav);
    ASSERT_GT(info.dataBytes, 0);
    EXPECT_GT(info.Seconds(), 3.0);
    EXPECT_LT(info.Seconds(), 30.0);

    // parlen-say renders the box's text with the same voice and values as long, as
    // loud and as high.
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/text.txt", text.toStdString() + "\r\n");
    const WavInfo reference = RenderWithParlenSay(dir + "/text.txt", dir + "/say.wav");
    ASSERT_GT(reference.dataBytes, 0);
    EXPECT_NEAR(reference.Seconds(), info.Seconds(), reference.Seconds() * 0.02);
    EXPECT_NEAR(reference.Rms(), info.Rms(), reference.Rms() * 0.05);
    const double hz = reference.MedianPitchHz();
    ASSERT_GT(hz, 0);
    EXPECT_NEAR(hz, info.MedianPitchHz(), hz * 0.05);
}

// Each entry of the type list, picked with the keys, gives a bare name its extension,
// and the file is written in that format while the progress follows the words.
TEST_F(Engines, EachEntryOfTheSaveDialogWritesItsFormat) {
    TFileDialog::SetExecuteHook({});  // the real dialog
    ModalDriver driver;
    // Half a minute of speech: the progress moves several times on the way.
    form->mmEditText->setPlainText(
        QString("Twelve words, and then some more, go into each kind of file. ").repeated(8));
    int stopped = 0, moves = 0;
    form->fwMSpeechSave->OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        const int before = form->pbConverter->value();
        form->fwMSpeechSaveVisual();
        moves += form->pbConverter->value() > before;
    };
    form->fwMSpeechSave->OnStop = [&](void*) {
        form->fwMSpeechSaveStop();
        ++stopped;
    };
    const QString dir = ScratchDir();
    const QStringList kinds = {"wav", "mp3", "ogg", "opus", "flac"};
    for (int i = 0; i < kinds.size(); ++i) {
        SCOPED_TRACE(kinds[i].toStdString());
        driver.Then("QFileDialog", [&](QWidget* top) {
            auto* dialog = qobject_cast<QFileDialog*>(top);
            auto* types = top->findChild<QComboBox*>("fileTypeCombo");
            auto* name = top->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_TRUE(dialog && types && name);
            EXPECT_EQ(form->DlgSaveAudio->Filters(), dialog->nameFilters());
            // It opens on the entry of the file saved last, the first one at first.
            EXPECT_EQ(dialog->nameFilters().at(std::max(0, i - 1)), dialog->selectedNameFilter());
            types->setFocus(Qt::TabFocusReason);
            while (types->currentIndex() < i) QTest::keyClick(types, Qt::Key_Down);
            name->setText(dir + "/speech" + QString::number(i));
            QTest::keyClick(name, Qt::Key_Return);
        });
        moves = 0;
        form->btConverterSave->click();
        EXPECT_TRUE(driver.Done()) << "the dialog did not run";
        ASSERT_TRUE(WaitFor([&] { return stopped > i; }, 30000));
        const QString file = dir + "/speech" + QString::number(i) + "." + kinds[i];
        EXPECT_EQ(kinds[i].toStdString(), AudioKind(ReadFileBytes(file)));
        EXPECT_GT(moves, 3);
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Engines, CancelAndClosingLeaveValidWavFilesWithWhatWasRendered) {
    const QString text =
        QString("A long text is rendered into a file and cancelled. ").repeated(200);
    form->mmEditText->setPlainText(text);
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/text.txt", text.toStdString() + "\r\n");
    const WavInfo full = RenderWithParlenSay(dir + "/text.txt", dir + "/full.wav");
    ASSERT_GT(full.dataBytes, 0);
    auto rendering = [&] {
        return !form->pbConverter->isHidden() && form->pbConverter->value() > 0;
    };

    ui.answers = {dir + "/cancelled.wav", dir + "/closed.wav"};
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor(rendering, 10000)) << "no progress";
    form->btConverterCancel->click();
    ASSERT_TRUE(WaitFor([&] { return form->pbConverter->isHidden(); }, 5000));
    const WavInfo cancelled = ReadWav(dir + "/cancelled.wav");
    EXPECT_GT(cancelled.dataBytes, 0);
    EXPECT_LT(cancelled.dataBytes, full.dataBytes);

    // Closing the window during a conversion completes the file rendered so far.
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor(rendering, 10000)) << "no progress";
    form->close();
    form.reset();
    WaitFor(nullptr, 200);
    const WavInfo closed = ReadWav(dir + "/closed.wav");
    EXPECT_GT(closed.dataBytes, 0);
    EXPECT_LE(closed.dataBytes, full.dataBytes);
    EXPECT_TRUE(ui.boxes.empty());
}

}  // namespace

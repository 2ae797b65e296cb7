// End to end on the real engines: start-up, speaking with the word highlight, pause
// and resume, and rendering WAV files, with the private sound server.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <set>

#include "AppTestSupport.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/VersionInfo.h"

namespace {

// Sizes of a WAV file whose chunk sizes agree with its length, or {-1, -1}.
struct WavInfo {
    qint64 dataBytes = -1;
    int rate = 0;
    int blockAlign = 0;
    double Seconds() const {
        return rate && blockAlign ? double(dataBytes) / rate / blockAlign : 0;
    }
};
WavInfo ReadWav(const QString& path) {
    QFile f(path);
    WavInfo info;
    if (!f.open(QIODevice::ReadOnly)) return info;
    const QByteArray b = f.readAll();
    auto u32 = [&](qsizetype at) {
        return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8 |
               quint32(uchar(b[at + 2])) << 16 | quint32(uchar(b[at + 3])) << 24;
    };
    if (b.size() < 44 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE") return info;
    if (qint64(u32(4)) != b.size() - 8) return info;
    for (qsizetype at = 12; at + 8 <= b.size();) {
        const QByteArray id = b.mid(at, 4);
        const quint32 size = u32(at + 4);
        if (id == "fmt ") {
            info.rate = int(u32(at + 12));
            info.blockAlign = uchar(b[at + 20]) | uchar(b[at + 21]) << 8;
        } else if (id == "data") {
            if (qint64(at) + 8 + size != b.size()) return WavInfo{};
            info.dataBytes = size;
            return info;
        }
        at += 8 + size + (size & 1);
    }
    return WavInfo{};
}

// Records what reaches the null sink while it lives.
class Capture {
  public:
    Capture() {
        path_ = ScratchDir() + "/capture.raw";
        process_.start("parecord", {"--device=parlen_null.monitor", "--raw", "--format=s16le",
                                    "--rate=22050", "--channels=1", path_});
        process_.waitForStarted(3000);
        QTest::qWait(200);
    }
    // Peak of the samples recorded so far.
    int Peak() {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly)) return 0;
        const QByteArray b = f.readAll();
        int peak = 0;
        for (qsizetype i = 0; i + 1 < b.size(); i += 2)
            peak = std::max(peak, std::abs(int(qint16(uchar(b[i]) | uchar(b[i + 1]) << 8))));
        return peak;
    }
    ~Capture() {
        process_.terminate();
        process_.waitForFinished(2000);
    }

  private:
    QString path_;
    QProcess process_;
};

class Engines : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { RegisterSpeechService(); }
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) GTEST_SKIP() << "no sound server";
        QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
        form = std::make_unique<TFormMain>();
        form->tpVersionInfo->SetFileName(ProgramPath());
        form->show();
        form->pcMain->setCurrentWidget(form->tsMainEdit);
        ASSERT_GT(form->cbVoiceEngines->count(), 0);
        // The start-up phrase runs through speaking back to idle.
        ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
        ASSERT_TRUE(WaitFor([&] { return !form->btConverterSpeak->isHidden(); }, 10000));
    }
    void TearDown() override { form.reset(); }
    bool Idle() const {
        return !form->btConverterSpeak->isHidden() && form->btConverterSpeak->isEnabled() &&
               form->btConverterPause->isHidden() && form->gbEditVoice->isEnabled();
    }

    UiRecorder ui;
    std::unique_ptr<TFormMain> form;
};

TEST_F(Engines, StartUpListsTheCatalogueAndSelectsTheFirstEngine) {
    TMSpeech catalogue;
    ASSERT_EQ(catalogue.Engines().LineCount(), form->cbVoiceEngines->count());
    for (int i = 0; i < form->cbVoiceEngines->count(); ++i)
        EXPECT_EQ(catalogue.Engines().LineAt(i), form->cbVoiceEngines->itemText(i).toStdString());
    EXPECT_EQ(0, form->cbVoiceEngines->currentIndex());
    EXPECT_TRUE(form->fwMSpeech->Selected());
    EXPECT_EQ(QString(PARLEN_MAKER_SITE " - Parlen Maker 2004.05"), form->windowTitle());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_TRUE(Idle());
}

TEST_F(Engines, EspeakAndFliteVoicesSetTheirOwnRanges) {
    int espeak = -1, flite = -1;
    for (int i = 0; i < form->cbVoiceEngines->count(); ++i) {
        const QString name = form->cbVoiceEngines->itemText(i);
        if (espeak < 0 && name.contains("espeak")) espeak = i;
        if (flite < 0 && name.contains("flite")) flite = i;
    }
    ASSERT_GE(espeak, 0);
    ASSERT_GE(flite, 0);
    for (int index : {flite, espeak, flite}) {
        SCOPED_TRACE(index);
        form->cbVoiceEngines->setCurrentIndex(index);  // fires nothing by itself
        emit form->cbVoiceEngines->activated(index);   // as the user's pick reports it
        const TMSpeechEngineInfo& info = form->fwMSpeech->EngineInfo();
        EXPECT_EQ(form->cbVoiceEngines->itemText(index).toStdString(), info.ModeName);
        EXPECT_EQ(info.PitchMin, form->tbVoicePitch->minimum());
        EXPECT_EQ(info.PitchMax, form->tbVoicePitch->maximum());
        EXPECT_EQ(int(info.SpeedMin), form->tbVoiceSpeed->minimum());
        EXPECT_EQ(int(info.SpeedMax), form->tbVoiceSpeed->maximum());
        EXPECT_EQ(QString::number(info.PitchMax), form->lbPitchMax->text());
        EXPECT_EQ(QString::number(info.SpeedMin), form->lbSpeedMin->text());
        EXPECT_EQ("100", form->lbVolumeMax->text());
        EXPECT_EQ(int(form->fwMSpeech->GetSpeed()), form->tbVoiceSpeed->value());
        ASSERT_TRUE(WaitFor([&] { return Idle(); }, 10000));
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Engines, SpeakingHighlightsTheWordsAndPausesAndResumes) {
    const QString text =
        "Hello there, this is a longer sentence spoken by the converter "
        "so that it can be paused and resumed again.";
    form->mmEditText->setPlainText(text);
    std::set<int> starts;
    QObject::connect(form->mmEditText, &QPlainTextEdit::selectionChanged, form.get(), [&] {
        const QTextCursor c = form->mmEditText->textCursor();
        if (c.hasSelection()) starts.insert(c.selectionStart());
    });
    Capture capture;
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    EXPECT_FALSE(form->gbEditVoice->isEnabled());
    EXPECT_TRUE(form->btConverterStop->isEnabled());
    EXPECT_FALSE(form->btConverterSave->isEnabled());
    WaitFor([&] { return starts.size() >= 3; }, 5000);
    form->btConverterPause->click();
    EXPECT_TRUE(form->fwMSpeech->Paused());
    EXPECT_FALSE(form->btConverterSpeak->isHidden());
    EXPECT_TRUE(form->btConverterSave->isEnabled());
    const size_t during = starts.size();
    WaitFor(nullptr, 600);
    EXPECT_LE(starts.size(), during + 1);  // the words stop coming while paused
    form->btConverterSpeak->click();
    EXPECT_FALSE(form->fwMSpeech->Paused());
    ASSERT_TRUE(WaitFor([&] { return Idle(); }, 30000));
    EXPECT_GT(capture.Peak(), 1000);
    // Every selection starts at a word of the text.
    ASSERT_GE(starts.size(), 5u);
    for (int s : starts) {
        EXPECT_TRUE(s == 0 || !text[s - 1].isLetterOrNumber()) << s;
        EXPECT_TRUE(text[s].isLetterOrNumber()) << s;
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Engines, StopEndsTheSpeech) {
    form->mmEditText->setPlainText(
        QString("This text is long enough to be stopped. ").repeated(10));
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return form->btConverterSpeak->isHidden(); }, 5000));
    form->btConverterStop->click();
    EXPECT_TRUE(WaitFor([&] { return Idle(); }, 3000));
    EXPECT_FALSE(form->btConverterStop->isEnabled());
}

TEST_F(Engines, RenderingAWavFileShowsProgressAndCompletesTheFile) {
    const QString text = "One two three four five six seven eight nine ten.";
    form->mmEditText->setPlainText(text);
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
    EXPECT_EQ(1, saving);
    EXPECT_EQ(int(text.size()) + 2, maximum);
    EXPECT_EQ("0 / " + QString::number(maximum), startLabel);
    EXPECT_TRUE(lastLabel.endsWith(" / " + QString::number(maximum))) << lastLabel.toStdString();
    EXPECT_NE(startLabel, lastLabel);
    EXPECT_TRUE(form->pbConverter->isHidden());
    EXPECT_TRUE(form->gbEditText->isEnabled());
    const WavInfo info = ReadWav(wav);
    ASSERT_GT(info.dataBytes, 0);
    EXPECT_GT(info.Seconds(), 1.5);
    EXPECT_LT(info.Seconds(), 15.0);

    // The driver renders the same text with the same voice and values as long.
    const QString dir = ScratchDir();
    WriteFileBytes(dir + "/text.txt", text.toStdString() + "\r\n");
    QProcess say;
    say.start(QString::fromStdString(ProgramPath()).replace("parlenmaker", "parlen-say"),
              {"--voice", form->cbVoiceEngines->currentText(), "--pitch",
               QString::number(form->fwMSpeech->GetPitch()), "--speed",
               QString::number(form->fwMSpeech->GetSpeed()), "--volume",
               QString::number(form->fwMSpeech->GetVolume()), "--wav", dir + "/say.wav",
               dir + "/text.txt"});
    ASSERT_TRUE(say.waitForFinished(30000));
    const WavInfo reference = ReadWav(dir + "/say.wav");
    ASSERT_GT(reference.dataBytes, 0);
    EXPECT_NEAR(reference.Seconds(), info.Seconds(), reference.Seconds() * 0.02);
}

TEST_F(Engines, CancelAndClosingLeaveValidWavFiles) {
    const QString text =
        QString("A long text is rendered into a file and cancelled. ").repeated(40);
    form->mmEditText->setPlainText(text);
    const QString dir = ScratchDir();
    ui.answers = {dir + "/cancelled.wav", dir + "/closed.wav"};
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor([&] { return !form->pbConverter->isHidden(); }, 5000));
    WaitFor([&] { return form->pbConverter->value() > 0; }, 5000);
    form->btConverterCancel->click();
    ASSERT_TRUE(WaitFor([&] { return form->pbConverter->isHidden(); }, 5000));
    EXPECT_GE(ReadWav(dir + "/cancelled.wav").dataBytes, 0);

    // Closing the window during a conversion completes the file rendered so far.
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor([&] { return !form->pbConverter->isHidden(); }, 5000));
    WaitFor([&] { return form->pbConverter->value() > 0; }, 5000);
    form->close();
    form.reset();
    WaitFor(nullptr, 200);
    EXPECT_GE(ReadWav(dir + "/closed.wav").dataBytes, 0);
}

}  // namespace

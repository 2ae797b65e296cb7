// The window on the real engines on a machine where no sound server answers: start-up
// says so in the error box and carries on, speaking aloud says so again, a server that
// comes and goes is reported once and used again, and rendering a WAV file still works.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "AppTestSupport.h"
#include "OwnSoundServer.h"
#include "TinyDisk.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/qt/VersionInfo.h"

namespace {

const QString kTitle = QStringLiteral(PARLEN_MAKER_SITE " - Parlen Maker 2004.05");

class NoSound : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A socket that nobody listens on, in a folder that does not exist.
        qputenv("PULSE_SERVER", "unix:/nonexistent/parlen-no-sound/native");
        RegisterSpeechService();
    }
    void SetUp() override {
        QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
        form = std::make_unique<TFormMain>();
        form->tpVersionInfo->SetFileName(ProgramPath());
        form->show();
        WaitFor(nullptr, 50);
        form->pcMain->setCurrentWidget(form->tsMainEdit);
    }
    void TearDown() override { form.reset(); }
    // Speak and Save... on top and usable. (Pause lies beneath Speak as the window was
    // laid out: no speech has ever started to hide it.)
    bool Idle() const {
        return !form->btConverterSpeak->isHidden() && form->btConverterSpeak->isEnabled() &&
               !form->btConverterStop->isEnabled() && !form->btConverterSave->isHidden() &&
               form->btConverterSave->isEnabled() && form->gbEditVoice->isEnabled() &&
               form->gbEditText->isEnabled();
    }
    static bool SaysNoSoundServer(const ShownBox& box) {
        return box.title == kTitle && box.text.startsWith("No sound server reachable") &&
               box.text.endsWith(".");
    }

    UiRecorder ui;
    std::unique_ptr<TFormMain> form;
};

TEST_F(NoSound, StartUpShowsTheCauseAndTheWindowStaysUsable) {
    ASSERT_EQ(1u, ui.boxes.size()) << "the start-up phrase cannot be played";
    EXPECT_TRUE(SaysNoSoundServer(ui.boxes[0])) << ui.boxes[0].text.toStdString();
    // The start-up went as far as the phrase: the caption, the list, the engine applied.
    EXPECT_EQ(kTitle, form->windowTitle());
    EXPECT_GT(form->cbVoiceEngines->count(), 100);
    EXPECT_EQ(0, form->cbVoiceEngines->currentIndex());
    EXPECT_TRUE(form->fwMSpeech->Selected());
    EXPECT_TRUE(Idle());

    form->mmEditText->setPlainText("Nobody hears this.");
    form->btConverterSpeak->click();
    ASSERT_EQ(2u, ui.boxes.size());
    EXPECT_TRUE(SaysNoSoundServer(ui.boxes[1])) << ui.boxes[1].text.toStdString();
    WaitFor(nullptr, 100);
    EXPECT_TRUE(Idle()) << "nothing started";
}

// A server that comes and goes: lost while speaking, it is shown once and the window
// is idle again; once a server answers, the next Speak is heard without a word.
TEST_F(NoSound, ALostServerIsShownOnceAndTheNextSpeakConnectsAgain) {
    OwnSoundServer server;
    ASSERT_TRUE(server.Start()) << server.Error();
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", QByteArray::fromStdString(server.Address()));
    int starts = 0, stops = 0;
    form->fwMSpeech->OnStart = [&](void*) {
        form->fwMSpeechStart();
        ++starts;
    };
    form->fwMSpeech->OnStop = [&](void*) {
        form->fwMSpeechStop();
        ++stops;
    };
    const size_t shown = ui.boxes.size();
    form->mmEditText->setPlainText(QString("A text long enough to be cut short. ").repeated(20));
    form->btConverterSpeak->click();
    ASSERT_TRUE(WaitFor([&] { return starts == 1; }, 20000)) << "never started speaking";
    WaitFor(nullptr, 300);
    server.Kill();
    ASSERT_TRUE(WaitFor([&] { return stops == 1 && ui.boxes.size() > shown; }, 5000));
    WaitFor(nullptr, 300);  // nothing more follows
    ASSERT_EQ(shown + 1, ui.boxes.size());
    const std::string text = ui.boxes.back().text.toStdString();
    EXPECT_NE(std::string::npos, text.find("Connection terminated")) << text;
    EXPECT_NE(std::string::npos, text.find(server.Address())) << text;
    EXPECT_TRUE(Idle());

    ASSERT_TRUE(server.Start()) << server.Error();
    form->mmEditText->setPlainText("Heard again.");
    form->btConverterSpeak->click();
    EXPECT_TRUE(WaitFor([&] { return stops == 2; }, 20000));
    EXPECT_EQ(2, starts);
    EXPECT_EQ(shown + 1, ui.boxes.size()) << ui.boxes.back().text.toStdString();
    EXPECT_TRUE(Idle());
    qputenv("PULSE_SERVER", saved);
}

TEST_F(NoSound, RenderingAWavFileStillWorks) {
    const size_t shownAtStart = ui.boxes.size();
    form->mmEditText->setPlainText("Rendered without a sound server.");
    const QString wav = ScratchDir() + "/silent-machine.wav";
    ui.answers = {wav};
    int stops = 0;
    form->fwMSpeechSave->OnStop = [&](void*) {
        form->fwMSpeechSaveStop();
        ++stops;
    };
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor([&] { return stops == 1; }, 30000));
    EXPECT_TRUE(Idle());
    EXPECT_EQ(shownAtStart, ui.boxes.size()) << "rendering reports nothing";

    SF_INFO info{};
    SNDFILE* file = sf_open(wav.toLocal8Bit().constData(), SFM_READ, &info);
    ASSERT_NE(nullptr, file) << sf_strerror(nullptr);
    sf_close(file);
    EXPECT_EQ(1, info.channels);
    EXPECT_EQ(SF_FORMAT_WAV | SF_FORMAT_PCM_16, info.format);
    const double seconds = double(info.frames) / info.samplerate;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 10.0);
}

TEST_F(NoSound, AFullDiskEndsTheRenderAndTheBoxSaysWhyOnceTheWindowIsIdle) {
    TinyDisk disk(ScratchDir().toStdString() + "/disk");
    if (!disk.mounted) GTEST_SKIP() << "no tmpfs can be mounted here";
    const size_t shownAtStart = ui.boxes.size();
    form->mmEditText->setPlainText(
        QString::fromStdString(ReadFileBytes("/usr/share/common-licenses/GPL-3")));
    const QString wav = QString::fromStdString(disk.dir) + "/gpl.wav";
    ui.answers = {wav};
    int stops = 0;
    size_t shownAtStop = 0;
    form->fwMSpeechSave->OnStop = [&](void*) {
        form->fwMSpeechSaveStop();
        ++stops;
        shownAtStop = ui.boxes.size();
    };
    form->btConverterSave->click();
    ASSERT_TRUE(WaitFor([&] { return ui.boxes.size() > shownAtStart; }, 60000));
    WaitFor(nullptr, 100);
    EXPECT_EQ(1, stops);
    EXPECT_EQ(shownAtStart, shownAtStop) << "the box comes after the window is idle";
    ASSERT_EQ(shownAtStart + 1, ui.boxes.size()) << "shown once";
    EXPECT_EQ("Cannot write file " + wav + ": No space left on device.", ui.boxes.back().text);
    EXPECT_TRUE(Idle());
}

}  // namespace

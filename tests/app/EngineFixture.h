#pragma once
// The main window on the real engines and the private sound server: shown offscreen,
// its start-up phrase run through to idle.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "AppTestSupport.h"
#include "AudioCheck.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/qt/VersionInfo.h"

class Engines : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { RegisterSpeechService(); }
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) GTEST_SKIP() << "no sound server";
        QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");
        form = std::make_unique<TFormMain>();
        form->tpVersionInfo->SetFileName(ProgramPath());
        form->show();
        form->activateWindow();
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
    // Renders the text file with parlen-say and the voice values fwMSpeech has now.
    WavInfo RenderWithParlenSay(const QString& textFile, const QString& wav) {
        QProcess say;
        say.start(QString::fromStdString(ProgramPath()).replace("parlenmaker", "parlen-say"),
                  {"--voice", form->cbVoiceEngines->currentText(), "--pitch",
                   QString::number(form->fwMSpeech->GetPitch()), "--speed",
                   QString::number(form->fwMSpeech->GetSpeed()), "--volume",
                   QString::number(form->fwMSpeech->GetVolume()), "--wav", wav, textFile});
        if (!say.waitForFinished(60000) || say.exitCode() != 0) return WavInfo{};
        return ReadWav(wav);
    }

    UiRecorder ui;
    std::unique_ptr<TFormMain> form;
};

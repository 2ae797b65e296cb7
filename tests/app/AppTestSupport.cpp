#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>

#include "speech/mSpeech.h"
#include "support/qt/DesktopSeams.h"

UiRecorder::UiRecorder() {
    ErrorGuard::SetErrorBoxHook([this](const QString& title, const QString& text) {
        boxes.push_back({title, text});
    });
    SetBeepHook([this] { ++beeps; });
    TFileDialog::SetExecuteHook([this](const TFileDialog& dialog) {
        dialogTitles.push_back(dialog.Title());
        offeredNames.push_back(dialog.FileName());
        if (answers.empty()) return QString();
        QString name = answers.front();
        answers.pop_front();
        return name;
    });
}

UiRecorder::~UiRecorder() {
    ErrorGuard::SetErrorBoxHook({});
    SetBeepHook({});
    TFileDialog::SetExecuteHook({});
}

std::string ProgramPath() {
    QByteArray dir = qgetenv("PARLEN_BIN_DIR");
    return (dir.isEmpty() ? std::string(PARLEN_TEST_BIN_DIR) : dir.toStdString()) + "/parlenmaker";
}

std::string ReadFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

void WriteFileBytes(const QString& path, const std::string& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes.data(), qint64(bytes.size()));
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (done && done()) return true;
        QThread::msleep(2);
    }
    return done ? done() : true;
}

QString ScratchDir() {
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}

void ExpectPanelShowsEngine(const TFormMain& form, const TMSpeechEngineInfo& info) {
    EXPECT_EQ(int(info.PitchMin), form.tbVoicePitch->minimum());
    EXPECT_EQ(int(info.PitchMax), form.tbVoicePitch->maximum());
    EXPECT_EQ(int(info.SpeedMin), form.tbVoiceSpeed->minimum());
    EXPECT_EQ(int(info.SpeedMax), form.tbVoiceSpeed->maximum());
    EXPECT_EQ(0, form.tbVoiceVolume->minimum());
    EXPECT_EQ(100, form.tbVoiceVolume->maximum());
    EXPECT_EQ(QString::number(info.PitchMin), form.lbPitchMin->text());
    EXPECT_EQ(QString::number(info.PitchMax), form.lbPitchMax->text());
    EXPECT_EQ(QString::number(info.SpeedMin), form.lbSpeedMin->text());
    EXPECT_EQ(QString::number(info.SpeedMax), form.lbSpeedMax->text());
    EXPECT_EQ("0", form.lbVolumeMin->text());
    EXPECT_EQ("100", form.lbVolumeMax->text());
    EXPECT_EQ(int(form.fwMSpeech->GetPitch()), form.tbVoicePitch->value());
    EXPECT_EQ(int(form.fwMSpeech->GetSpeed()), form.tbVoiceSpeed->value());
    EXPECT_EQ(int(form.fwMSpeech->GetVolume()), form.tbVoiceVolume->value());
}

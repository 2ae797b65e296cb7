#include "WindowBench.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/fmMain.h"
#include "speech/mSpeech.h"
#include "support/qt/VersionInfo.h"

WindowBench::WindowBench() {
    TFileDialog::SetExecuteHook([this](const TFileDialog&) {
        if (answers.empty()) return QString();
        QString name = answers.front();
        answers.pop_front();
        return name;
    });
    ErrorGuard::SetErrorBoxHook([this](const QString&, const QString& text) {
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
        Fail("the window showed: " + text.toStdString());
    });
    form_ = new TFormMain;
}

WindowBench::~WindowBench() {
    delete form_;
    TFileDialog::SetExecuteHook(nullptr);
    ErrorGuard::SetErrorBoxHook(nullptr);
}

bool WindowBench::RunUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        if (done && done()) return true;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return done && done();
}

void WindowBench::ClickLater(QPushButton* button, std::function<void()> before) {
    QTimer::singleShot(0, button, [button, before] {
        if (before) before();
        button->click();
    });
}

bool WindowBench::WaitForSpeechEnd(int ms) {
    auto speakShown = [this] { return !form_->btConverterSpeak->isHidden(); };
    RunUntil([&] { return !speakShown(); }, 5000);
    return RunUntil(speakShown, ms);
}

void WindowBench::Print(const char* name, double ms, int decimals) {
    if (error_.empty()) {
        std::printf("%s: %.*f ms\n", name, decimals, ms);
    } else {
        std::printf("%s: error %s\n", name, error_.c_str());
    }
    std::fflush(stdout);
}

bool WindowBench::Open(const std::string& voice) {
    TFormMain& form = *form_;
    // The version block is embedded in this program as in the product's.
    form.tpVersionInfo->SetFileName(QCoreApplication::applicationFilePath().toStdString());
    form.show();
    form.activateWindow();
    form.pcMain->setCurrentWidget(form.tsMainEdit);
    if (!WaitForSpeechEnd(15000)) {
        Fail("the window did not become idle");
        return false;
    }
    const int index = form.cbVoiceEngines->findText(QString::fromStdString(voice));
    if (index < 0) {
        Fail("no voice " + voice);
        return false;
    }
    // As the user's pick: the engine is applied and speaks the test phrase.
    form.cbVoiceEngines->setCurrentIndex(index);
    form.cbVoiceEnginesChange();
    if (form.fwMSpeech->EngineInfo().ModeName != voice) Fail("cannot select " + voice);
    if (!WaitForSpeechEnd(15000)) Fail("the test phrase did not end");
    RunUntil(nullptr, 200);
    return error_.empty();
}

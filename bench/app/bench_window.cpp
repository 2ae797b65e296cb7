// bench_window: the longest stalls of the main window's message loop with a 5 MB text,
// on the real engines and the sound server: loading the text, the clicks on "Speak"
// and "Save...", and a few seconds each of speaking, pausing and rendering.
//
//   bench_window --voice NAME --text FILE [--dir DIR]
//
// A 10 ms timer ticks throughout; a stall is the longest gap between two ticks.
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "BenchStats.h"
#include "app/ErrorGuard.h"
#include "app/FileDialog.h"
#include "app/fmMain.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "support/VersionInfo.h"

namespace {

using Clock = std::chrono::steady_clock;

class StallMeter {
  public:
    StallMeter() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.start(10);
        Reset();
    }
    void Reset() {
        last_ = Clock::now();
        worst_ = 0;
    }
    // The longest gap so far, the gap still open included.
    double Worst() {
        Tick();
        return worst_;
    }

  private:
    void Tick() {
        const auto now = Clock::now();
        worst_ = std::max(worst_, std::chrono::duration<double, std::milli>(now - last_).count());
        last_ = now;
    }
    QTimer timer_;
    Clock::time_point last_;
    double worst_ = 0;
};

// Runs the message loop until done() holds or ms pass; true when done() held.
bool RunUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        if (done && done()) return true;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return done && done();
}

// Clicks the button from inside the message loop, so that the meter sees the handler.
void ClickLater(QPushButton* button) {
    QTimer::singleShot(0, button, [button] { button->click(); });
}

struct Figures {
    std::string error;
    void Print(const char* name, double ms) {
        if (error.empty())
            std::printf("%s: %.0f ms\n", name, ms);
        else
            std::printf("%s: error %s\n", name, error.c_str());
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::string voice, textPath, dir = "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--voice")
            voice = argv[i + 1];
        else if (key == "--text")
            textPath = argv[i + 1];
        else if (key == "--dir")
            dir = argv[i + 1];
    }
    std::ifstream in(textPath, std::ios::binary);
    const std::string prose{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (prose.empty()) {
        std::fprintf(stderr, "usage: bench_window --voice NAME --text FILE [--dir DIR]\n");
        return 2;
    }
    const std::string longPath = dir + "/text-5MB.txt";
    std::ofstream(longPath, std::ios::binary) << BenchStats::RepeatTo(prose, 5u << 20);

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setFont(QFont("Liberation Sans", 8));
    CoInitialize(nullptr);
    RegisterSpeechService();
    QGuiApplication::setApplicationDisplayName(PARLEN_MAKER_SITE " - Parlen Maker");

    Figures f;
    std::deque<QString> answers;
    TFileDialog::SetExecuteHook([&](const TFileDialog&) {
        if (answers.empty()) return QString();
        QString name = answers.front();
        answers.pop_front();
        return name;
    });
    ErrorGuard::SetErrorBoxHook([&](const QString&, const QString& text) {
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
        if (f.error.empty()) f.error = "the window showed: " + text.toStdString();
    });
    int code = 0;
    {
        TFormMain form;
        // The version block is embedded in this program as in the product's.
        form.tpVersionInfo->SetFileName(QCoreApplication::applicationFilePath().toStdString());
        form.show();
        form.activateWindow();
        form.pcMain->setCurrentWidget(form.tsMainEdit);
        auto speakShown = [&] { return !form.btConverterSpeak->isHidden(); };
        // The start-up phrase runs through to idle first.
        RunUntil([&] { return !speakShown(); }, 5000);
        if (!RunUntil(speakShown, 15000)) f.error = "the window did not become idle";
        const int index = form.cbVoiceEngines->findText(QString::fromStdString(voice));
        if (index >= 0) form.cbVoiceEngines->setCurrentIndex(index);
        RunUntil(nullptr, 200);

        StallMeter meter;
        answers = {QString::fromStdString(longPath)};
        meter.Reset();
        ClickLater(form.btTextLoad);
        RunUntil([&] { return answers.empty() && !form.TextLayoutPending(); }, 60000);
        RunUntil(nullptr, 100);
        const double load = meter.Worst();
        if (form.mmEditText->document()->characterCount() < 5'000'000 && f.error.empty())
            f.error = "the text was not loaded";
        std::fprintf(stderr, "loaded %d characters\n",
                     form.mmEditText->document()->characterCount());

        meter.Reset();
        ClickLater(form.btConverterSpeak);
        RunUntil(nullptr, 300);
        const double speakClick = meter.Worst();
        meter.Reset();
        if (!RunUntil([&] { return !form.btConverterPause->isHidden(); }, 5000) && f.error.empty())
            f.error = "speech did not start";
        RunUntil(nullptr, 3000);
        ClickLater(form.btConverterPause);
        RunUntil(nullptr, 1000);
        const double speaking = meter.Worst();

        answers = {QString::fromStdString(dir + "/window-5MB.wav")};
        meter.Reset();
        ClickLater(form.btConverterSave);
        RunUntil(nullptr, 300);
        const double saveClick = meter.Worst();
        meter.Reset();
        const int before = form.pbConverter->value();
        RunUntil(nullptr, 4000);
        const double rendering = meter.Worst();
        std::fprintf(stderr, "rendering progress: %d -> %d of %d\n", before,
                     form.pbConverter->value(), form.pbConverter->maximum());
        if (form.pbConverter->value() <= before && f.error.empty())
            f.error = "the conversion made no progress";

        f.Print("stall_load_5MB_ms", load);
        f.Print("stall_speak_click_5MB_ms", speakClick);
        f.Print("stall_save_click_5MB_ms", saveClick);
        f.Print("stall_speaking_ms", speaking);
        f.Print("stall_rendering_ms", rendering);
        code = f.error.empty() ? 0 : 1;

        if (!form.btConverterCancel->isHidden()) form.btConverterCancel->click();
        if (!form.btConverterStop->isHidden()) form.btConverterStop->click();
        RunUntil(nullptr, 500);
    }
    TFileDialog::SetExecuteHook(nullptr);
    ErrorGuard::SetErrorBoxHook(nullptr);
    CoUninitialize();
    return code;
}

// The longest stalls of the window's message loop with a 5 MB text: loading it, the
// clicks on "Speak" and "Save..." (each both while the box is still laying the text
// out, when the work waits for the rest, and after), and a few seconds
// each of speaking, pausing and rendering. A 10 ms timer ticks throughout; a stall is
// the longest gap between two ticks.
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "BenchStats.h"
#include "WindowBench.h"
#include "app/ChapterList.h"
#include "app/fmMain.h"

namespace {

using Clock = WindowBench::Clock;

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

}  // namespace

int MeasureStalls(WindowBench& bench, const std::string& textPath, const std::string& dir) {
    std::ifstream in(textPath, std::ios::binary);
    const std::string prose{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (prose.empty()) bench.Fail("cannot read " + textPath);
    if (!bench.Error().empty()) {
        for (const char* name :
             {"stall_load_5MB_ms", "stall_speak_click_5MB_ms", "stall_save_click_5MB_ms",
              "stall_speaking_ms", "stall_rendering_ms", "stall_load_5MB_document_ms"})
            bench.Print(name, 0);
        return 1;
    }
    const std::string longPath = dir + "/text-5MB.txt";
    std::ofstream(longPath, std::ios::binary) << BenchStats::RepeatTo(prose, 5u << 20);

    TFormMain& form = bench.Form();
    auto run = WindowBench::RunUntil;
    auto loaded = [&] {
        return bench.answers.empty() && form.mmEditText->document()->characterCount() > 5'000'000;
    };
    auto speaking = [&] { return !form.btConverterPause->isHidden(); };
    auto idle = [&] {
        return !form.btConverterSpeak->isHidden() && !form.btConverterStop->isEnabled();
    };
    bool pending = false;
    auto notePending = [&] { pending = form.TextLayoutPending(); };
    StallMeter meter;

    // 1. Load, then "Speak" at once, while the text is still being laid out.
    bench.answers = {QString::fromStdString(longPath)};
    meter.Reset();
    WindowBench::ClickLater(form.btTextLoad);
    if (!run(loaded, 60000)) bench.Fail("the text was not loaded");
    const double loadClick = meter.Worst();
    std::fprintf(stderr, "loaded %d characters\n", form.mmEditText->document()->characterCount());
    meter.Reset();
    WindowBench::ClickLater(form.btConverterSpeak, notePending);
    run(nullptr, 300);
    const double speakEarly = meter.Worst();
    std::fprintf(stderr, "Speak clicked while the layout was %s: %.0f ms\n",
                 pending ? "pending" : "done", speakEarly);
    if (!pending) bench.Fail("the layout had finished before the early Speak click");
    if (!run(speaking, 5000)) bench.Fail("speech did not start");
    form.btConverterStop->click();
    if (!run(idle, 5000)) bench.Fail("speech did not stop");

    // 2. Cleared and loaded again, laid out to the end; then speaking and pausing.
    form.btTextClear->click();
    bench.answers = {QString::fromStdString(longPath)};
    meter.Reset();
    WindowBench::ClickLater(form.btTextLoad);
    run([&] { return loaded() && !form.TextLayoutPending(); }, 60000);
    run(nullptr, 100);
    const double loadAndLayout = meter.Worst();
    meter.Reset();
    WindowBench::ClickLater(form.btConverterSpeak);
    run(nullptr, 300);
    const double speakLate = meter.Worst();
    meter.Reset();
    if (!run(speaking, 5000)) bench.Fail("speech did not start");
    run(nullptr, 3000);
    WindowBench::ClickLater(form.btConverterPause);
    run(nullptr, 1000);
    const double speakingStall = meter.Worst();

    // 3. A conversion started from the paused speech.
    auto rendering = [&](const char* what) {
        // The click may have taken long enough that the engine has not reported its
        // start yet; the progress counts from there.
        if (!run([&] { return !form.pbConverter->isHidden(); }, 5000))
            bench.Fail("the conversion did not start");
        const int before = form.pbConverter->value();
        run(nullptr, 4000);
        std::fprintf(stderr, "rendering %s: progress %d -> %d of %d\n", what, before,
                     form.pbConverter->value(), form.pbConverter->maximum());
        if (form.pbConverter->isHidden() || form.pbConverter->value() <= before)
            bench.Fail("the conversion made no progress");
    };
    bench.answers = {QString::fromStdString(dir + "/window-5MB.wav")};
    meter.Reset();
    WindowBench::ClickLater(form.btConverterSave);
    run(nullptr, 300);
    const double saveLate = meter.Worst();
    meter.Reset();
    rendering("after the layout");
    const double renderingStall = meter.Worst();
    form.btConverterCancel->click();
    run([&] { return form.pbConverter->isHidden(); }, 5000);
    form.btConverterStop->click();
    run(idle, 5000);

    // 4. Cleared, loaded again, and "Save..." at once, while the text is being laid out.
    form.btTextClear->click();
    bench.answers = {QString::fromStdString(longPath),
                     QString::fromStdString(dir + "/window-5MB-early.wav")};
    meter.Reset();
    WindowBench::ClickLater(form.btTextLoad);
    run([&] { return form.mmEditText->document()->characterCount() > 5'000'000; }, 60000);
    const double loadClick2 = meter.Worst();
    meter.Reset();
    WindowBench::ClickLater(form.btConverterSave, notePending);
    run(nullptr, 300);
    const double saveEarly = meter.Worst();
    std::fprintf(stderr, "Save... clicked while the layout was %s: %.0f ms\n",
                 pending ? "pending" : "done", saveEarly);
    if (!pending) bench.Fail("the layout had finished before the early Save... click");
    meter.Reset();
    rendering("started during the layout");
    const double renderingStall2 = meter.Worst();
    form.btConverterCancel->click();
    run([&] { return form.pbConverter->isHidden(); }, 5000);

    // 5. A 5 MB document (HTML, a chapter every 50 KB), imported and shown with its
    // chapter list.
    form.btTextClear->click();
    const std::string documentPath = dir + "/document-5MB.html";
    {
        std::ofstream html(documentPath, std::ios::binary);
        html << "<html><body>";
        size_t written = 0, chapter = 0, next = 0;
        for (size_t at = 0; written < (5u << 20);) {
            if (written >= next) {
                html << "<h1>Chapter " << ++chapter << "</h1>";
                next = written + 50'000;
            }
            size_t end = prose.find("\n\n", at);
            if (end == std::string::npos) end = prose.size();
            std::string paragraph = prose.substr(at, end - at);
            for (char& c : paragraph)
                if (c == '<' || c == '>' || c == '&') c = ' ';
            html << "<p>" << paragraph << "</p>\n";
            written += paragraph.size();
            at = end + 2 >= prose.size() ? 0 : end + 2;
        }
        html << "</body></html>";
    }
    bench.answers = {QString::fromStdString(documentPath)};
    meter.Reset();
    WindowBench::ClickLater(form.btTextLoad);
    if (!run([&] { return !form.DocumentLoading() && form.gbEditChapters->isVisible(); }, 60000))
        bench.Fail("the document was not loaded");
    run([&] { return !form.TextLayoutPending(); }, 60000);
    run(nullptr, 100);
    const double documentLoad = meter.Worst();
    std::fprintf(stderr, "document: %d characters, stall %.0f ms\n",
                 form.mmEditText->document()->characterCount(), documentLoad);

    std::fprintf(stderr,
                 "load click %.0f / %.0f ms, load with layout %.0f ms; Speak %.0f early, %.0f "
                 "late; Save... %.0f early, %.0f late; rendering %.0f / %.0f ms\n",
                 loadClick, loadClick2, loadAndLayout, speakEarly, speakLate, saveEarly, saveLate,
                 renderingStall, renderingStall2);
    bench.Print("stall_load_5MB_ms", std::max({loadClick, loadClick2, loadAndLayout}));
    bench.Print("stall_speak_click_5MB_ms", std::max(speakEarly, speakLate));
    bench.Print("stall_save_click_5MB_ms", std::max(saveEarly, saveLate));
    bench.Print("stall_speaking_ms", speakingStall);
    bench.Print("stall_rendering_ms", std::max(renderingStall, renderingStall2));
    bench.Print("stall_load_5MB_document_ms", documentLoad);
    return bench.Error().empty() ? 0 : 1;
}

// How closely the window's word highlight follows the voice: a text that the box wraps
// and that holds accented letters is spoken through "Speak", and each new selection's
// time is set against the moment its word is heard in a timestamped recording of the
// null sink. The words' places in the audio come from a render of the same text into
// a file, lined up with the recording word by word (as bench_speech word-sync does).
#include <QPlainTextEdit>
#include <QPushButton>
#include <map>
#include <vector>

#include "BenchStats.h"
#include "MonitorCapture.h"
#include "ReferenceRender.h"
#include "WindowBench.h"
#include "app/fmMain.h"
#include "support/qt/MemoStrings.h"
#include "support/StringList.h"

namespace {

const char* const kName = "window_word_sync_error_ms_p95";

// About half a minute of speech in paragraphs longer than the box is wide.
const char* const kText =
    "The caf\u00e9 on the corner opens early, and its owner serves cr\u00e8me br\u00fbl\u00e9e "
    "to a na\u00efve fianc\u00e9 who reads the paper by the window every single morning.\n"
    "D\u00e9j\u00e0 the street is busy: a r\u00e9sum\u00e9 lies forgotten on a bench, a "
    "pi\u00f1ata hangs above the bakery door, and the smell of jalape\u00f1o soup drifts "
    "across the square towards the old fa\u00e7ade of the town hall.\n"
    "Later the rain comes, the cobbles shine, and the last customers leave with their "
    "umbrellas open, talking about the soir\u00e9e they will give on Saturday night.";

double Ms(WindowBench::Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Box position of every byte of the handed-over text that starts a character, walking
// both texts side by side: a CR LF of the handed-over text is a break of the box or a
// wrap point, where the box has nothing.
std::vector<int> BoxPositions(const std::string& spoken, const QString& box) {
    std::vector<int> at(spoken.size() + 1, -1);
    size_t i = 0;
    int j = 0;
    while (i < spoken.size()) {
        if (spoken.compare(i, 2, "\r\n") == 0) {
            if (j < box.size() && box[j] == u'\n') ++j;
            i += 2;
            continue;
        }
        at[i] = j;
        const auto lead = static_cast<unsigned char>(spoken[i]);
        const size_t bytes = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        i += bytes;
        j += bytes == 4 ? 2 : 1;
    }
    return at;
}

}  // namespace

int MeasureWordSync(WindowBench& bench, const std::string& voice, const std::string& dir) {
    if (!bench.Error().empty()) return bench.Print(kName, 0), 1;
    TFormMain& form = bench.Form();
    const QString text = QString::fromUtf8(kText);
    form.mmEditText->setPlainText(text);
    WindowBench::RunUntil([&] { return !form.TextLayoutPending(); }, 5000);
    // What "Speak" will hand over: the box's laid-out lines.
    TMemoStrings boxLines(form.mmEditText);
    TStringList lines;
    lines.CopyLines(boxLines);
    const std::string spoken = lines.JoinLines();
    std::fprintf(stderr, "window word sync: %d paragraphs laid out as %d lines\n",
                 form.mmEditText->document()->blockCount(), lines.LineCount());
    if (lines.LineCount() <= form.mmEditText->document()->blockCount())
        bench.Fail("the box does not wrap the text");

    ReferenceRender ref;
    if (bench.Error().empty() && !ref.Run(voice, spoken, dir + "/window-sync.wav", 60000))
        bench.Fail(ref.error);
    MonitorCapture cap(ref.rate ? ref.rate : 22050);
    if (bench.Error().empty() && !cap.Start()) bench.Fail(cap.Error());
    if (!bench.Error().empty()) return bench.Print(kName, 0), 1;

    // Every new selection and when it was made.
    std::vector<std::pair<int, WindowBench::Clock::time_point>> selections;
    QObject::connect(form.mmEditText, &QPlainTextEdit::selectionChanged, form.mmEditText, [&] {
        const QTextCursor c = form.mmEditText->textCursor();
        if (c.hasSelection() &&
            (selections.empty() || selections.back().first != c.selectionStart()))
            selections.emplace_back(c.selectionStart(), WindowBench::Clock::now());
    });
    WindowBench::RunUntil(nullptr, 400);
    const auto t0 = WindowBench::Clock::now();
    form.btConverterSpeak->click();
    if (!bench.WaitForSpeechEnd(120000)) bench.Fail("speech did not end");
    WindowBench::RunUntil(nullptr, 300);
    cap.Stop();
    const std::vector<int16_t> heard = cap.Samples();
    const auto firstHeard =
        BenchStats::FirstSound(heard, size_t(std::max<int64_t>(0, cap.FrameAt(t0))));
    const auto firstRendered = BenchStats::FirstSound(ref.samples);
    if (!firstHeard || !firstRendered) bench.Fail("no sound captured");
    if (!bench.Error().empty()) return bench.Print(kName, 0), 1;

    const std::vector<int> boxAt = BoxPositions(spoken, text);
    std::map<int, WindowBench::Clock::time_point> selected(selections.begin(), selections.end());
    int64_t shift = int64_t(*firstHeard) - int64_t(*firstRendered);
    std::vector<double> errors;
    int unselected = 0;
    for (const auto& [offset, frame] : ref.wordFrames) {
        const size_t from = size_t(std::max<int64_t>(0, int64_t(frame) - ref.rate / 20));
        shift = BenchStats::LocalShift(ref.samples, from, heard, ref.rate / 2, shift, ref.rate / 2,
                                       ref.rate);
        const int position = offset < boxAt.size() ? boxAt[offset] : -1;
        auto it = selected.find(position);
        if (it == selected.end()) {
            ++unselected;
            continue;
        }
        const auto onset = cap.TimeOfFrame(size_t(int64_t(frame) + shift));
        errors.push_back(std::abs(Ms(it->second - onset)));
        std::fprintf(stderr, "word at %u (box %d) selected %+.1f ms after its onset\n", offset,
                     position, Ms(it->second - onset));
        selected.erase(it);
    }
    // A selection must begin at a word of the box. (The render into a file does not mark
    // every word the engine reports aloud, so not every selection is timed.)
    int misplaced = 0;
    for (const auto& [start, time] : selections)
        if (start >= text.size() || !text[start].isLetterOrNumber() ||
            (start > 0 && text[start - 1].isLetterOrNumber()))
            ++misplaced;
    std::fprintf(stderr,
                 "window word sync: %zu selections, %zu timed, %d words not selected, %d "
                 "misplaced\n",
                 selections.size(), errors.size(), unselected, misplaced);
    if (misplaced > 0) bench.Fail(std::to_string(misplaced) + " selections began at no word");
    if (errors.size() < ref.wordFrames.size() / 2)
        bench.Fail("only " + std::to_string(errors.size()) + " of " +
                   std::to_string(ref.wordFrames.size()) + " words selected");
    if (bench.Error().empty())
        std::fprintf(stderr, "window word sync: %zu words, median %.1f ms, max %.1f ms\n",
                     errors.size(), BenchStats::Median(errors),
                     BenchStats::Percentile(errors, 100));
    bench.Print(kName, BenchStats::Percentile(errors, 95), 1);
    return bench.Error().empty() ? 0 : 1;
}

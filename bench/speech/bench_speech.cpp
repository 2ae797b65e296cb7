// bench_speech: timings of the speech component speaking aloud into the sound server's
// null sink, taken from a timestamped recording of the sink's monitor.
//
//   bench_speech first-audio|word-sync|pause-stop --voice NAME --text FILE [--dir DIR]
//
// Prints "name: value unit" lines; details of each run go to standard error.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "BenchStats.h"
#include "MonitorCapture.h"
#include "ReferenceRender.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

using Clock = std::chrono::steady_clock;
using BenchStats::Median;

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Runs the event loop until done() holds or ms pass; true when done() held.
bool WaitUntil(const std::function<bool()>& done, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((done && done()) || Clock::now() >= deadline) loop.quit();
    });
    poll.start(1);
    loop.exec();
    return done && done();
}

void Pump(int ms) {
    WaitUntil(nullptr, ms);
}

void SetLines(TStrings& lines, const std::string& bytes) {
    lines.ClearLines();
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        lines.AppendLine(bytes.substr(start, end - start));
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
}

struct Args {
    std::string mode, voice, text, dir = "/tmp";
};

// One component speaking aloud, with the events a measurement needs.
struct Speaker {
    TMSpeech speech;
    bool stopped = false;
    uint32_t lastWord = UINT32_MAX;
    std::vector<std::pair<uint32_t, Clock::time_point>> words;
    std::vector<Clock::time_point> starts;  // when each audio start was reported

    bool Open(const std::string& voice, std::string& error) {
        speech.SetOutput(soGeneral);
        if (!speech.Initialized() || speech.Engines().FindLine(voice) < 0) {
            error = "no voice " + voice;
            return false;
        }
        speech.SelectEngine(voice);
        if (!speech.Selected()) {
            error = "cannot select " + voice;
            return false;
        }
        speech.OnStop = [this](void*) { stopped = true; };
        speech.OnStart = [this](void*) {
            lastWord = UINT32_MAX;
            starts.push_back(Clock::now());
        };
        speech.OnVisual = [this](void*, uint32_t, PTTSMOUTH) {
            const uint32_t w = speech.WordPosition();
            if (w != lastWord) words.emplace_back(w, Clock::now());
            lastWord = w;
        };
        return true;
    }
};

void Fail(const char* name, const std::string& why) {
    std::printf("%s: error %s\n", name, why.c_str());
}

int FirstAudio(const Args& a, const std::string& gpl) {
    const char* name = "first_audio_ms_1MB";
    std::string error;
    Speaker s;
    if (!s.Open(a.voice, error)) return Fail(name, error), 1;
    SetLines(s.speech.Text(), BenchStats::RepeatTo(gpl, 1 << 20));
    MonitorCapture cap;
    if (!cap.Start()) return Fail(name, cap.Error()), 1;
    std::fprintf(stderr,
                 "capture: record stream on the sink's monitor, 5 ms fragments, each "
                 "timestamped on arrival\n");
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        Pump(400);
        const auto t0 = Clock::now();
        s.stopped = false;
        s.speech.Speak();
        const size_t from = size_t(std::max<int64_t>(0, cap.FrameAt(t0)));
        std::optional<size_t> first;
        WaitUntil([&] { return (first = cap.FirstSoundSince(from)).has_value(); }, 5000);
        s.speech.Stop();
        WaitUntil([&] { return s.stopped; }, 3000);
        if (!first) return Fail(name, "no sound within 5 s of Speak"), 1;
        runs.push_back(MsBetween(t0, cap.TimeOfFrame(*first)));
        std::fprintf(stderr, "first audio run %d: %.1f ms\n", run, runs.back());
    }
    std::printf("%s: %.1f ms\n", name, Median(runs));
    return 0;
}

int WordSync(const Args& a, const std::string& gpl) {
    const char* name = "word_sync_error_ms_p95";
    // About half a minute of speech, cut at a line break.
    std::string error;
    Speaker s;
    if (!s.Open(a.voice, error)) return Fail(name, error), 1;
    SetLines(s.speech.Text(), gpl.substr(0, gpl.rfind('\n', 600) + 1));
    // The reference gets the text exactly as the component hands it over.
    ReferenceRender ref;
    if (!ref.Run(a.voice, s.speech.Text().JoinLines(), a.dir + "/word-sync.wav", 60000))
        return Fail(name, ref.error), 1;
    MonitorCapture cap(ref.rate);
    if (!cap.Start()) return Fail(name, cap.Error()), 1;
    Pump(400);
    const auto t0 = Clock::now();
    s.speech.Speak();
    if (!WaitUntil([&] { return s.stopped; }, 120000)) return Fail(name, "speech did not end"), 1;
    Pump(300);
    cap.Stop();
    const std::vector<int16_t> heard = cap.Samples();
    // Kept for a look when a figure seems off.
    std::ofstream(a.dir + "/word-sync-heard.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(heard.data()), std::streamsize(heard.size() * 2));
    const auto firstHeard =
        BenchStats::FirstSound(heard, size_t(std::max<int64_t>(0, cap.FrameAt(t0))));
    const auto firstRendered = BenchStats::FirstSound(ref.samples);
    if (!firstHeard || !firstRendered) return Fail(name, "no sound captured"), 1;
    // Each word is placed where its surroundings are heard, starting from the match of
    // the first sounds and following gaps the live stream may hold.
    int64_t shift = int64_t(*firstHeard) - int64_t(*firstRendered);
    std::vector<double> errors;
    std::map<uint32_t, Clock::time_point> notified(s.words.begin(), s.words.end());
    int missing = 0;
    for (const auto& [offset, frame] : ref.wordFrames) {
        // A window that begins a little before the word, so its onset lies inside.
        const size_t from = size_t(std::max<int64_t>(0, int64_t(frame) - ref.rate / 20));
        shift = BenchStats::LocalShift(ref.samples, from, heard, ref.rate / 2, shift, ref.rate / 2,
                                       ref.rate);
        auto it = notified.find(offset);
        if (it == notified.end()) {
            ++missing;
            continue;
        }
        const auto onset = cap.TimeOfFrame(size_t(int64_t(frame) + shift));
        errors.push_back(std::abs(MsBetween(onset, it->second)));
        std::fprintf(stderr, "word %u: frame %llu heard %+.1f ms after its onset\n", offset,
                     static_cast<unsigned long long>(frame), MsBetween(onset, it->second));
    }
    std::fprintf(stderr, "word sync: %d of %zu words not notified\n", missing,
                 ref.wordFrames.size());
    if (errors.size() < ref.wordFrames.size() / 2)
        return Fail(name, "only " + std::to_string(errors.size()) + " of " +
                              std::to_string(ref.wordFrames.size()) + " words notified"),
               1;
    std::fprintf(stderr, "word sync: %zu words, median %.1f ms, max %.1f ms\n", errors.size(),
                 Median(errors), BenchStats::Percentile(errors, 100));
    std::printf("%s: %.1f ms\n", name, BenchStats::Percentile(errors, 95));
    return 0;
}

// Waits until the latest 20 ms of the capture hold sound, so that a Pause or Stop
// right after it cuts a word rather than landing in a gap between words.
bool WaitForSound(const MonitorCapture& cap) {
    return WaitUntil(
        [&] {
            const size_t recent = cap.Rate() / 50, frames = cap.Frames();
            return frames >= recent && cap.FirstSoundSince(frames - recent, 300).has_value();
        },
        3000);
}

// Time from t until the capture goes silent for good (checked over the next 500 ms).
std::optional<double> ToSilence(const MonitorCapture& cap, Clock::time_point t) {
    Pump(600);
    const auto samples = cap.Samples();
    const size_t from = size_t(std::max<int64_t>(0, cap.FrameAt(t) - cap.Rate()));
    const auto quiet = BenchStats::SilenceFrom(samples, from, samples.size(), cap.Rate() / 2);
    if (!quiet) return std::nullopt;
    const double ms = MsBetween(t, cap.TimeOfFrame(*quiet));
    // Slightly below zero means silence within the few ms the null sink renders ahead of
    // its clock; the figure is left as measured.
    return ms;
}

// From the first sound after a Resume to the audio start it reports again, or nothing
// when either is missing.
std::optional<double> StartAfterSound(const Speaker& s, const MonitorCapture& cap,
                                      Clock::time_point resumedAt) {
    const auto start = std::find_if(s.starts.begin(), s.starts.end(),
                                    [&](Clock::time_point t) { return t > resumedAt; });
    const auto sound =
        cap.FirstSoundSince(size_t(std::max<int64_t>(0, cap.FrameAt(resumedAt))), 300);
    if (start == s.starts.end() || !sound) return std::nullopt;
    return MsBetween(cap.TimeOfFrame(*sound), *start);
}

const char* const kPauseFigures[] = {"pause_to_silence_ms", "stop_to_silence_ms",
                                     "resume_start_after_sound_ms"};

int PauseStop(const Args& a, const std::string& gpl) {
    std::string error;
    Speaker s;
    if (!s.Open(a.voice, error)) {
        for (const char* name : kPauseFigures) Fail(name, error);
        return 1;
    }
    SetLines(s.speech.Text(), gpl);
    MonitorCapture cap;
    if (!cap.Start()) {
        for (const char* name : kPauseFigures) Fail(name, cap.Error());
        return 1;
    }
    std::vector<double> pauses, stops, restarts;
    std::string pauseError, stopError, restartError;
    for (int run = 0; run < 3; ++run) {
        s.stopped = false;
        s.speech.Speak();
        Pump(1500);
        for (int p = 0; p < 2; ++p) {
            if (!WaitForSound(cap)) pauseError = "no sound to pause";
            const auto t = Clock::now();
            s.speech.Pause();
            if (auto ms = ToSilence(cap, t)) {
                pauses.push_back(*ms);
                std::fprintf(stderr, "pause to silence: %.1f ms\n", *ms);
            } else {
                pauseError = "sound went on after Pause";
            }
            const auto resumedAt = Clock::now();
            s.speech.Resume();
            Pump(1200);
            if (auto ms = StartAfterSound(s, cap, resumedAt))
                restarts.push_back(*ms);
            else
                restartError = "no sound or no audio start after Resume";
        }
        if (!WaitForSound(cap)) stopError = "no sound to stop";
        const auto t = Clock::now();
        s.speech.Stop();
        if (auto ms = ToSilence(cap, t)) {
            stops.push_back(*ms);
            std::fprintf(stderr, "stop to silence: %.1f ms\n", *ms);
        } else {
            stopError = "sound went on after Stop";
        }
        WaitUntil([&] { return s.stopped; }, 2000);
    }
    if (pauseError.empty())
        std::printf("pause_to_silence_ms: %.1f ms\n", BenchStats::Percentile(pauses, 100));
    else
        Fail("pause_to_silence_ms", pauseError);
    if (stopError.empty())
        std::printf("stop_to_silence_ms: %.1f ms\n", BenchStats::Percentile(stops, 100));
    else
        Fail("stop_to_silence_ms", stopError);
    if (restartError.empty())
        std::printf("resume_start_after_sound_ms: %.1f ms\n",
                    BenchStats::Percentile(restarts, 100));
    else
        Fail("resume_start_after_sound_ms", restartError);
    return pauseError.empty() && stopError.empty() && restartError.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Args a;
    if (argc > 1) a.mode = argv[1];
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--voice")
            a.voice = argv[i + 1];
        else if (key == "--text")
            a.text = argv[i + 1];
        else if (key == "--dir")
            a.dir = argv[i + 1];
    }
    std::ifstream in(a.text, std::ios::binary);
    const std::string gpl{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (a.voice.empty() || gpl.empty()) {
        std::fprintf(stderr,
                     "usage: bench_speech first-audio|word-sync|pause-stop --voice NAME "
                     "--text FILE [--dir DIR]\n");
        return 2;
    }
    CoInitialize(nullptr);
    RegisterSpeechService();
    int code = 2;
    try {
        if (a.mode == "first-audio")
            code = FirstAudio(a, gpl);
        else if (a.mode == "word-sync")
            code = WordSync(a, gpl);
        else if (a.mode == "pause-stop")
            code = PauseStop(a, gpl);
        else
            std::fprintf(stderr, "bench_speech: unknown measurement '%s'\n", a.mode.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_speech: %s\n", e.what());
        code = 1;
    }
    CoUninitialize();
    return code;
}

// The speech component on the sound device, checked by what the test sound server's
// sink actually played (a capture of its monitor): pause and resume, stop and the
// next text, queued texts, a WAV render beside a paused speech, and destruction.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "RealService.h"
#include "SinkCapture.h"
#include "speech/mSpeech.h"

namespace {
using Clock = std::chrono::steady_clock;
const char* const kVoice = "English (America) - espeak-ng";
constexpr int kQuiet = 100;  // below this magnitude a captured sample counts as silence
// Pause, Stop and destruction drop what stood written ahead of the sink, a quarter of a
// second and more; a sound that went on for this long after them played that out. The
// figures of an idle machine are measured by the benchmarks.
constexpr std::chrono::milliseconds kDropped{200};
constexpr std::chrono::milliseconds kClockSlack{50};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Sentences(int count) {
    static const char* const kSentences[] = {"Many morning lamps were lit along the narrow lane. ",
                                             "Nobody noticed the little yellow wagon rolling on. ",
                                             "Our neighbour sang a long and mellow melody. ",
                                             "Warm rain fell on the meadow all evening. "};
    std::string text;
    for (int i = 0; i < count; ++i) text += kSentences[i % 4];
    return text;
}

// A component on the sound device with every notification written down.
struct Aloud {
    TMSpeech speech;
    std::vector<std::string> log;  // "start", "word N", "stop"
    std::vector<Clock::time_point> starts;
    uint32_t lastWord = UINT32_MAX;
    Clock::time_point lastWordAt;

    explicit Aloud(const std::string& text = {}) {
        speech.SelectEngine(kVoice);
        speech.OnStart = [this](void*) {
            starts.push_back(Clock::now());
            log.push_back("start");
            lastWord = UINT32_MAX;
        };
        speech.OnVisual = [this](void*, uint32_t, PTTSMOUTH) {
            if (speech.WordPosition() == lastWord) return;
            lastWord = speech.WordPosition();
            lastWordAt = Clock::now();
            log.push_back("word " + std::to_string(lastWord));
        };
        speech.OnStop = [this](void*) { log.push_back("stop"); };
        if (!text.empty()) speech.Text().AppendLine(text);
    }
    int Count(const std::string& kind) const {
        return int(std::count(log.begin(), log.end(), kind));
    }
    int Words() const {
        return int(std::count_if(log.begin(), log.end(),
                                 [](const std::string& l) { return l.rfind("word", 0) == 0; }));
    }
};

// Milliseconds of sound: the 10 ms windows holding any. Silence a loaded machine adds
// (a sink that ran dry for a moment) does not count; sound heard twice does.
double SoundMs(const std::vector<int16_t>& s, unsigned rate) {
    const size_t window = rate / 100;
    int windows = 0;
    for (size_t at = 0; at < s.size(); at += window)
        windows +=
            std::any_of(s.begin() + long(at), s.begin() + long(std::min(at + window, s.size())),
                        [](int16_t v) { return v > kQuiet || v < -kQuiet; });
    return windows * 10.0;
}

std::vector<int16_t> WavSamples(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> s(size_t(info.frames));
    sf_read_short(f, s.data(), info.frames);
    sf_close(f);
    return s;
}

// Frames from the first to the last sound of a WAV file rendered by a component.
long VoicedFramesOfWav(const QString& path) {
    const std::vector<int16_t> s = WavSamples(path);
    if (s.empty()) return -1;
    long first = -1, last = -1;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] > kQuiet || s[i] < -kQuiet) {
            if (first < 0) first = long(i);
            last = long(i);
        }
    return first < 0 ? 0 : last - first + 1;
}

// Renders text into a WAV file through a component of the same voice.
long RenderedVoicedFrames(const std::string& text, const QString& path) {
    TMSpeech file;
    file.SetOutput(soFile);
    file.SelectEngine(kVoice);
    file.SetFilename(path.toStdU16String());
    file.Text().AppendLine(text);
    bool done = false;
    file.OnStop = [&](void*) { done = true; };
    file.Speak();
    if (!WaitFor([&] { return done; }, 30000)) return -1;
    return VoicedFramesOfWav(path);
}

// Milliseconds of sound in a WAV render of text by a component (0 when it failed).
double RenderedSoundMs(const std::string& text, const QString& path) {
    return RenderedVoicedFrames(text, path) < 0 ? 0.0 : SoundMs(WavSamples(path), 22050);
}

class Heard : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!SinkCapture::ServerConfigured()) GTEST_SKIP() << "no private sound server";
        StartRealService();
        ASSERT_TRUE(capture.Start()) << capture.Error();
    }
    // The last frame with sound before `frame` (0 when none).
    size_t LastSoundBefore(size_t frame) const {
        const auto& s = capture.Samples();
        for (size_t i = std::min(frame, s.size()); i > 0; --i)
            if (s[i - 1] > kQuiet || s[i - 1] < -kQuiet) return i - 1;
        return 0;
    }
    size_t FrameAt(Clock::time_point t) const {
        return capture.FramesOf(
            std::chrono::duration_cast<std::chrono::microseconds>(t - capture.FrameZeroTime()));
    }
    SinkCapture capture{22050};
    QTemporaryDir dir;
};

// Speech without pauses inside: no plosives and no punctuation until the end, so
// that a pause anywhere falls inside sound.
std::string Flowing(int count) {
    std::string text = "Many";
    for (int i = 0; i < count; ++i)
        text += " men in Rome lay on warm linen while mellow rain ran along our lane and many";
    return text + " more.";
}

// Pause and Stop silence the speech at once; after a pause the audio start is reported
// again when the sound is heard again, not when Resume is called, and the speech goes
// on from where it stopped.
TEST_F(Heard, PauseAndStopSilenceAndResumeStartsAgainWithTheSound) {
    Aloud a(Flowing(2));
    a.speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return a.Words() >= 4; }, 10000));
    const Clock::time_point pausedAt = Clock::now();
    a.speech.Pause();
    const uint32_t pausedWord = a.speech.WordPosition();
    WaitFor([] { return false; }, 400);
    const Clock::time_point resumedAt = Clock::now();
    a.speech.Resume();
    ASSERT_TRUE(WaitFor([&] { return a.starts.size() == 2; }, 5000)) << "no audio start again";
    ASSERT_TRUE(WaitFor([&] { return a.speech.WordPosition() > pausedWord; }, 5000));
    const Clock::time_point stoppedAt = Clock::now();
    a.speech.Stop();
    ASSERT_TRUE(WaitFor([&] { return a.Count("stop") == 1; }, 5000));
    WaitFor([] { return false; }, 200);
    ASSERT_TRUE(capture.Stop()) << capture.Error();

    // What was already playing may sound on for less than kDropped; from then on the
    // sink is silent until Resume (allowing for the capture's clock, a few milliseconds
    // off), and after Stop. A loaded machine may let the sink run dry before either,
    // which only makes the silence start earlier.
    const size_t dropped = FrameAt(pausedAt + kDropped) - FrameAt(pausedAt);
    const size_t slack = FrameAt(resumedAt) - FrameAt(resumedAt - kClockSlack);
    const size_t silentFrom = FrameAt(pausedAt) + dropped, resumeFrame = FrameAt(resumedAt);
    ASSERT_GT(resumeFrame, silentFrom + slack);
    EXPECT_TRUE(capture.Silent(silentFrom, resumeFrame - slack - silentFrom, kQuiet))
        << "sound while paused";
    const auto again = capture.FirstSound(resumeFrame - slack, kQuiet);
    ASSERT_TRUE(again.has_value()) << "nothing heard after Resume";
    const Clock::time_point heardAgain = capture.TimeOfFrame(*again);
    std::printf(
        "last sound %.1f ms after Pause; sound %.1f ms after Resume; audio start "
        "%.1f ms after the sound\n",
        capture.MsOf(long(LastSoundBefore(silentFrom)) - long(FrameAt(pausedAt))),
        Ms(heardAgain - resumedAt), Ms(a.starts[1] - heardAgain));
    EXPECT_GT(Ms(a.starts[1] - heardAgain), -10.0) << "audio start again before the sound";
    // The audio start again comes before the words heard after it.
    const auto restart =
        std::find(std::find(a.log.begin(), a.log.end(), "start") + 1, a.log.end(), "start");
    ASSERT_NE(restart, a.log.end());
    ASSERT_NE(restart + 1, a.log.end());
    EXPECT_EQ(0u, restart[1].rfind("word ", 0)) << "no word after the audio start again";

    const size_t stopFrame = FrameAt(stoppedAt);
    ASSERT_LT(stopFrame + dropped, capture.Samples().size());
    std::printf("last sound %.1f ms after Stop\n",
                capture.MsOf(long(LastSoundBefore(capture.Samples().size())) - long(stopFrame)));
    EXPECT_TRUE(capture.Silent(stopFrame + dropped, capture.Samples().size(), kQuiet))
        << "the sound written ahead played on after Stop";
}

// A speech paused on one component holds nothing up: a WAV render on another
// component of the same engine runs to its end, and the paused one then completes.
TEST_F(Heard, PausedSpeechAndAWavRenderOnAnotherComponentBothComplete) {
    const std::string text = Sentences(4);
    Aloud a(text);
    a.speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return a.Words() >= 3; }, 10000));
    const Clock::time_point pausedAt = Clock::now();
    a.speech.Pause();
    const uint32_t pausedWord = a.speech.WordPosition();

    const QString wav = dir.filePath("beside.wav");
    const long rendered = RenderedVoicedFrames(text, wav);
    ASSERT_GT(rendered, 22050) << "the render beside the paused speech did not complete";
    EXPECT_EQ(0, a.Count("stop")) << "the paused speech went on";
    EXPECT_EQ(pausedWord, a.speech.WordPosition());

    const Clock::time_point resumedAt = Clock::now();
    a.speech.Resume();
    ASSERT_TRUE(WaitFor([&] { return a.Count("stop") == 1; }, 30000)) << "never completed";
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    EXPECT_EQ("word " + std::to_string(text.rfind("evening")), a.log[a.log.size() - 2]);
    // All of it was heard, once: as much sound as the render holds.
    const double heardMs = SoundMs(capture.Samples(), capture.Rate());
    const double renderedMs = SoundMs(WavSamples(wav), 22050);
    std::printf("heard %.0f ms of sound, rendered %.0f ms; paused for %.0f ms\n", heardMs,
                renderedMs, Ms(resumedAt - pausedAt));
    EXPECT_NEAR(heardMs, renderedMs, std::max(150.0, renderedMs * 0.05));
}

TEST_F(Heard, DestroyingASpeakingComponentEndsItQuietly) {
    int handled = 0;
    Clock::time_point destroyedAt;
    {
        auto a = std::make_unique<Aloud>(Sentences(8));
        a->speech.Speak();
        ASSERT_TRUE(WaitFor([&] { return a->Words() >= 3; }, 10000));
        a->speech.OnStart = [&](void*) { ++handled; };
        a->speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) { ++handled; };
        a->speech.OnStop = [&](void*) { ++handled; };
        ASSERT_TRUE(WaitFor([&] { return handled > 0; }, 2000)) << "the handlers never ran";
        handled = 0;
        destroyedAt = Clock::now();
    }
    WaitFor([] { return false; }, 600);  // whatever the engine still had, arrives now
    EXPECT_EQ(0, handled) << "a handler ran after its component was destroyed";
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    const size_t gone = FrameAt(destroyedAt + kDropped);
    EXPECT_TRUE(capture.Silent(gone, 22050 / 2, kQuiet)) << "speech went on after destruction";
}

// Stop and at once the next text: the discarded text's stop comes before the next
// text's start, and the next text is heard whole.
TEST_F(Heard, StopThenSpeakReportsTheStopBeforeTheNextStart) {
    Aloud a(Sentences(4));
    a.speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return a.Words() >= 3; }, 10000));
    const Clock::time_point stoppedAt = Clock::now();
    a.speech.Stop();
    a.speech.Text().ClearLines();
    a.speech.Text().AppendLine("1 2 3");
    a.speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return a.Count("stop") == 2; }, 10000));
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    const auto firstStop = std::find(a.log.begin(), a.log.end(), "stop");
    ASSERT_NE(firstStop, a.log.end());
    EXPECT_EQ((std::vector<std::string>{"start", "word 0", "word 2", "word 4", "stop"}),
              std::vector<std::string>(firstStop + 1, a.log.end()))
        << "the next text starts after the stop of the discarded one";
    EXPECT_EQ(1, std::count(a.log.begin(), firstStop, "start"));

    // The discarded text goes silent at once and the next one follows: what is heard
    // from the Stop on lasts as the next text alone.
    const size_t stopFrame = FrameAt(stoppedAt);
    ASSERT_LT(stopFrame, capture.Samples().size());
    const double afterStopMs = SoundMs(
        std::vector<int16_t>(capture.Samples().begin() + long(stopFrame), capture.Samples().end()),
        capture.Rate());
    const double nextMs = RenderedSoundMs("1 2 3", dir.filePath("123.wav"));
    std::printf("heard %.0f ms of sound after Stop; the next text holds %.0f ms\n", afterStopMs,
                nextMs);
    EXPECT_GT(afterStopMs, nextMs - 50.0) << "the next text was not heard whole";
    EXPECT_LT(afterStopMs, nextMs + double(kDropped.count()))
        << "the discarded text went on after Stop";
}

// A second Speak without Stop queues behind the first: both are heard, in order.
TEST_F(Heard, ASecondSpeakQueuesBehindTheFirst) {
    const std::string first = "1 2 3", second = "Four five six.";
    Aloud a(first);
    a.speech.Speak();
    a.speech.Text().ClearLines();
    a.speech.Text().AppendLine(second);
    a.speech.Speak();
    ASSERT_TRUE(WaitFor([&] { return a.Count("stop") == 2; }, 15000));
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    EXPECT_EQ((std::vector<std::string>{"start", "word 0", "word 2", "word 4", "stop", "start",
                                        "word 0", "word 5", "word 10", "stop"}),
              a.log);
    const double heardMs = SoundMs(capture.Samples(), capture.Rate());
    const double firstMs = RenderedSoundMs(first, dir.filePath("a.wav"));
    const double bothMs = firstMs + RenderedSoundMs(second, dir.filePath("b.wav"));
    std::printf("heard %.0f ms of sound, the two texts hold %.0f ms\n", heardMs, bothMs);
    EXPECT_GE(heardMs, bothMs * 0.95) << "not both texts were heard";
    EXPECT_LT(heardMs, bothMs + firstMs) << "a text was heard twice";
}

}  // namespace

// The monitor recording must place what was played at the wall time it was played,
// and the reference render must give each word a frame inside its sound: the timing
// figures are only as good as these two.
#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <QCoreApplication>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "BenchStats.h"
#include "MonitorCapture.h"
#include "ReferenceRender.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"

namespace {

using Clock = std::chrono::steady_clock;

bool HaveServer() {
    return std::getenv("PULSE_SERVER") != nullptr;
}

TEST(MonitorCapture, PlacesAToneAtTheTimeItWasPlayed) {
    if (!HaveServer()) GTEST_SKIP() << "no sound server";
    MonitorCapture cap;
    ASSERT_TRUE(cap.Start()) << cap.Error();
    pa_sample_spec spec{PA_SAMPLE_S16LE, 22050, 1};
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = uint32_t(-1);
    std::vector<int16_t> silence(2205, 0), tone(4410);
    // The whole tone fits the stream's buffer and plays once it is there: a test held up
    // by a loaded machine cannot leave a gap in it that the recording would count.
    attr.tlength = uint32_t(tone.size() * 2);
    int err = 0;
    pa_simple* out = pa_simple_new(nullptr, "bench-test", PA_STREAM_PLAYBACK, nullptr, "tone",
                                   &spec, nullptr, &attr, &err);
    ASSERT_NE(nullptr, out);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(8000 * std::sin(i * 0.1));
    pa_simple_write(out, silence.data(), silence.size() * 2, &err);
    pa_simple_drain(out, &err);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto before = Clock::now();
    pa_simple_write(out, tone.data(), tone.size() * 2, &err);
    pa_simple_drain(out, &err);
    const auto drained = Clock::now();
    pa_simple_free(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cap.Stop();

    const auto samples = cap.Samples();
    const auto first = BenchStats::FirstSound(samples, 0, 100);
    ASSERT_TRUE(first.has_value());
    const double ms =
        std::chrono::duration<double, std::milli>(cap.TimeOfFrame(*first) - before).count();
    // Heard after it was written, and no later than its own buffering and a little more.
    EXPECT_GT(ms, -5);
    EXPECT_LT(ms, 60);
    // The tone lasts its 200 ms in the recording. A stream starting on a running sink
    // may lose up to 256 frames to the sink's rewind, and the monitor may hand a
    // rewound stretch out twice (seen: 63 frames once in a few dozen runs).
    const auto quiet = BenchStats::SilenceFrom(samples, *first, samples.size(), 1000, 100);
    ASSERT_TRUE(quiet.has_value());
    const double lasts = (*quiet - *first) * 1000.0 / 22050;
    EXPECT_GE(lasts, 188.0);
    EXPECT_LE(lasts, 208.0);
    const double end =
        std::chrono::duration<double, std::milli>(cap.TimeOfFrame(*quiet) - drained).count();
    EXPECT_LT(std::abs(end), 40);
    // Wall time and frame convert both ways.
    EXPECT_NEAR(double(*first), double(cap.FrameAt(cap.TimeOfFrame(*first))), 1.0);
}

TEST(ReferenceRender, GivesEveryWordAFrameWhereItsSoundIs) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CoInitialize(nullptr);
    RegisterSpeechService();
    std::string voice;
    {
        TMSpeech speech;
        ASSERT_GT(speech.Engines().LineCount(), 0);
        for (int i = 0; i < speech.Engines().LineCount() && voice.empty(); ++i)
            if (speech.Engines().LineAt(i).find("espeak") != std::string::npos)
                voice = speech.Engines().LineAt(i);
    }
    ASSERT_FALSE(voice.empty());
    const std::string text = "one, two. three\r\nfour";
    const std::string path = testing::TempDir() + "/reference.wav";
    ReferenceRender ref;
    ASSERT_TRUE(ref.Run(voice, text, path, 20000)) << ref.error;
    std::vector<uint32_t> offsets;
    uint64_t previous = 0;
    for (const auto& [offset, frame] : ref.wordFrames) {
        offsets.push_back(offset);
        EXPECT_GE(frame, previous);
        previous = frame;
        EXPECT_LT(frame, ref.samples.size());
        // A word is sounding within 150 ms of its frame.
        EXPECT_TRUE(BenchStats::FirstSound(ref.samples, frame, 300).value_or(SIZE_MAX) <
                    frame + ref.rate * 15 / 100)
            << "word at " << offset;
    }
    // Words due together reach a sink as the latest of them, so a fast render may skip
    // some; each one given is a word start, and the last word always comes.
    ASSERT_FALSE(offsets.empty());
    for (uint32_t offset : offsets)
        EXPECT_TRUE(offset == 0 || offset == 5 || offset == 10 || offset == 17) << offset;
    EXPECT_EQ(17u, offsets.back());
    EXPECT_FALSE(ReferenceRender().Run("no such voice", text, path, 1000));
    CoUninitialize();
}

}  // namespace

// The measurements other audio tests rely on, on known samples.
#include <gtest/gtest.h>

#include <cmath>

#include "SinkCapture.h"

TEST(SinkCaptureAnalysis, FindsSoundSilenceAndLoudness) {
    SinkCapture c(1000);
    std::vector<int16_t> s(100, 0);
    for (size_t i = 20; i < 40; ++i) s[i] = (i % 2) ? 100 : -100;
    s[30] = 0;  // a lone zero inside the sound is no silence
    s[70] = 3;  // below a threshold of 5
    c.SetSamples(s);
    EXPECT_EQ(20u, c.FirstSound());
    EXPECT_EQ(70u, c.FirstSound(40));
    EXPECT_FALSE(c.FirstSound(40, 5).has_value());
    EXPECT_EQ(70u, c.LastSound());
    EXPECT_EQ(39u, c.LastSound(5));
    EXPECT_EQ(40u, c.FirstSilence(20, 5));
    EXPECT_EQ(0u, c.FirstSilence(0, 5));
    EXPECT_FALSE(c.FirstSilence(41, 60).has_value()) << "run past the end";
    EXPECT_TRUE(c.Silent(40, 60, 5));
    EXPECT_FALSE(c.Silent(40, 60));
    EXPECT_NEAR(100.0 * std::sqrt(19.0 / 20.0), c.Rms(20, 20), 1e-9);
    EXPECT_EQ(0.0, c.Rms(500, 10));
    EXPECT_EQ(250u, c.FramesOf(std::chrono::milliseconds(250)));
    EXPECT_DOUBLE_EQ(12.0, c.MsOf(12));
}

TEST(SinkCaptureAnalysis, ToneHasItsLengthAndLevel) {
    auto tone = MakeTone(22050, 500, 441.0, 10000);
    ASSERT_EQ(11025u, tone.size());
    EXPECT_EQ(0, tone[0]);
    SinkCapture c(22050);
    c.SetSamples(tone);
    EXPECT_NEAR(10000 / std::sqrt(2.0), c.Rms(0, tone.size()), 20.0);
}

TEST(SinkCaptureAnalysis, LocatesASignalWithALostHead) {
    auto tone = MakeTone(1000, 1000, 37.0);
    std::vector<int16_t> s(50, 0);
    s.insert(s.end(), tone.begin() + 9, tone.end());
    SinkCapture c(1000);
    c.SetSamples(s);
    size_t skipped = 99;
    EXPECT_EQ(41u, c.Locate(tone, 0, 20, &skipped));
    EXPECT_EQ(9u, skipped);
    EXPECT_FALSE(c.Locate(tone, 0, 5).has_value()) << "more lost than allowed";
    s[60] += 1;  // a changed sample is no match
    c.SetSamples(s);
    EXPECT_FALSE(c.Locate(tone, 0, 20).has_value());
    c.SetSamples(std::vector<int16_t>(50, 0));
    EXPECT_FALSE(c.Locate(tone).has_value()) << "nothing heard";
}

TEST(SinkCaptureAnalysis, FindsFramesOfNoiseAcrossAGap) {
    auto noise = MakeNoise(8000, 100);
    ASSERT_EQ(800u, noise.size());
    std::vector<int16_t> s(30, 0);
    s.insert(s.end(), noise.begin(), noise.begin() + 300);
    s.insert(s.end(), 55, 0);  // a gap in playback
    s.insert(s.end(), noise.begin() + 300, noise.end());
    SinkCapture c(8000);
    c.SetSamples(s);
    EXPECT_EQ(30u, c.Find(noise, 0));
    EXPECT_EQ(30u + 299, c.Find(noise, 299, 0, 1)) << "a one-frame run may match anywhere later";
    EXPECT_EQ(30u + 300 + 55, c.Find(noise, 300));
    EXPECT_EQ(30u + 300 + 55 + 400, c.Find(noise, 700));
    EXPECT_FALSE(c.Find(noise, 0, 31).has_value());
    EXPECT_FALSE(c.Find(noise, 800).has_value());
}

TEST(SinkCaptureRecording, RecordsTheMonitor) {
    if (!SinkCapture::ServerConfigured()) GTEST_SKIP() << "PULSE_SERVER is not set";
    SinkCapture c;
    ASSERT_TRUE(c.Start()) << c.Error();
    auto started = SinkCapture::Clock::now();
    ASSERT_TRUE(c.Stop(std::chrono::milliseconds(300))) << c.Error();
    // The monitor sends frames all the time, silence included.
    EXPECT_GT(c.Samples().size(), c.FramesOf(std::chrono::milliseconds(250)));
    EXPECT_LE(c.FrameZeroTime(), started);
}

// The arithmetic behind the benchmark figures: a wrong percentile or a misplaced
// silence edge would report a figure that looks fine and is not.
#include <gtest/gtest.h>

#include <cmath>

#include "BenchStats.h"

using namespace BenchStats;

TEST(BenchStats, MedianAndPercentileUseTheSortedValues) {
    EXPECT_EQ(0, Median({}));
    EXPECT_EQ(3, Median({5, 1, 3}));
    EXPECT_EQ(2.5, Median({4, 1, 3, 2}));
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_EQ(95, Percentile(hundred, 95));
    EXPECT_EQ(100, Percentile(hundred, 100));
    EXPECT_EQ(1, Percentile(hundred, 0));
    // Few values: the 95th is the largest, never an interpolated one below it.
    EXPECT_EQ(40, Percentile({10, 40, 20}, 95));
}

TEST(BenchStats, SilenceStartsAfterTheLastLoudFrame) {
    std::vector<int16_t> s(1000, 0);
    for (size_t i = 100; i < 300; ++i) s[i] = 500;
    s[250] = 0;  // a zero crossing inside the sound is not silence
    EXPECT_EQ(FirstSound(s), 100u);
    EXPECT_EQ(FirstSound(s, 300), std::nullopt);
    EXPECT_EQ(SilenceFrom(s, 0, 1000, 500), 300u);
    EXPECT_EQ(SilenceFrom(s, 0, 1000, 701), std::nullopt);  // quiet run too short
    EXPECT_EQ(SilenceFrom(s, 0, 250, 10), std::nullopt);    // still sounding at the end
    EXPECT_EQ(SilenceFrom(s, 400, 1000, 100), 400u);        // silent throughout
    EXPECT_EQ(SilenceFrom(s, 0, 5000, 500), 300u);          // clipped to the samples
    // A threshold ignores low noise.
    s[800] = 3;
    EXPECT_EQ(SilenceFrom(s, 0, 1000, 500), std::nullopt);
    EXPECT_EQ(SilenceFrom(s, 0, 1000, 500, 5), 300u);
}

TEST(BenchStats, BestShiftFindsADelayedCopy) {
    std::vector<int16_t> a(4000);
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = int16_t(8000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.31));
    std::vector<int16_t> b(37, 0);
    b.insert(b.end(), a.begin(), a.end());
    EXPECT_EQ(37, BestShift(a, 100, b, 100, 1000, 64));
    EXPECT_EQ(0, BestShift(a, 100, b, 137, 1000, 64));
    EXPECT_EQ(-12, BestShift(a, 100, b, 149, 1000, 64));
    EXPECT_EQ(MaxDifference(a, 0, b, 37, 3000), 0);
    EXPECT_GT(*MaxDifference(a, 0, b, 36, 3000), 100);
    EXPECT_EQ(MaxDifference(a, 0, b, 100, 3990), std::nullopt);
}

TEST(BenchStats, RepeatedTextHasTheSizeAndNoCutWord) {
    const std::string text = "one two three\nfour five six\n";
    const std::string big = RepeatTo(text, 1000);
    ASSERT_EQ(1000u, big.size());
    EXPECT_EQ(text, big.substr(0, text.size()));
    // The tail after the last copy starts a line and ends on a line break or blanks.
    const size_t lastLf = big.find_last_not_of(' ');
    EXPECT_EQ('\n', big[lastLf]);
    EXPECT_EQ(std::string(), RepeatTo("", 10));
    EXPECT_EQ(text + text, RepeatTo(text, 2 * text.size()));
}

TEST(BenchStats, LocalShiftFollowsAGapInTheCopy) {
    // Bursts of tone with quiet between them, like words.
    const unsigned rate = 22050;
    std::vector<int16_t> a(rate * 2, 0);
    size_t at = 0;
    for (int k = 0; at < a.size(); ++k) {
        const size_t burst = 1500 + (k * 737) % 1300, gap = 400 + (k * 311) % 900;
        for (size_t i = at; i < std::min(a.size(), at + burst); ++i)
            a[i] = int16_t((3000 + 700 * (k % 5)) * std::sin(i * (0.03 + k * 0.01)));
        at += burst + gap;
    }
    // The copy starts 300 frames late and holds an extra 1100 frames of silence at 20000.
    std::vector<int16_t> b(300, 0);
    b.insert(b.end(), a.begin(), a.begin() + 20000);
    b.insert(b.end(), 1100, 0);
    b.insert(b.end(), a.begin() + 20000, a.end());
    EXPECT_EQ(300, LocalShift(a, 4000, b, rate / 4, 0, rate / 2, rate));
    EXPECT_EQ(300, LocalShift(a, 12000, b, rate / 4, 300, rate / 2, rate));
    EXPECT_EQ(1400, LocalShift(a, 24000, b, rate / 4, 300, rate / 2, rate));
    // Far outside the searched range it is not found.
    EXPECT_NE(1400, LocalShift(a, 24000, b, rate / 4, -5000, 1000, rate));
}

TEST(BenchStats, ArrivalClockFollowsASinkClockThatRunsFast) {
    // 40 s of a sink whose clock runs 300 ppm fast, in 5 ms pieces handed over up to
    // 3 ms late, every eighth one on time.
    const unsigned rate = 22050;
    const double speed = 1.0003;
    const auto trueNs = [&](double frame) { return int64_t(frame / (rate * speed) * 1e9); };
    ArrivalClock clock(rate, rate);
    EXPECT_TRUE(clock.Empty());
    for (size_t end = 110, k = 0; end <= 40u * rate; end += 110, ++k)
        clock.Add(end, trueNs(double(end)) + (k % 8 ? int64_t((k * 7919) % 3000) * 1000 : 0));
    // A frame is placed at its time to well under a millisecond at either end of the
    // recording, not pinned to the latest on-time piece (12 ms off at the start).
    for (double seconds : {0.5, 20.0, 39.5}) {
        const int64_t frame = int64_t(seconds * rate);
        EXPECT_NEAR(0.0, double(clock.TimeOfFrame(frame) - trueNs(double(frame))) / 1e6, 0.5)
            << seconds << " s";
        EXPECT_NEAR(double(frame), double(clock.FrameAt(clock.TimeOfFrame(frame))), 1.0);
    }
    // Before the first piece, times and frames run on at the nominal rate.
    EXPECT_LT(clock.FrameAt(trueNs(0) - 1'000'000'000), -rate + 200);
}

// The sound-device destination against the private test sound server, checked by
// what a capture of the null sink's monitor holds. The checks are of order and cause,
// with bounds that hold on a busy machine; how quickly sound starts, stops and
// follows its marks is measured by the benchmarks (bench_speech).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "DeviceDestKit.h"
#include "SinkCapture.h"
#include "platform/device/DeviceDest.h"

namespace {
// Writes like a synthesis worker: as much as Room() allows, waiting for the room
// callback otherwise.
class Feeder {
  public:
    Feeder(DeviceDest* dest, std::vector<int16_t> samples)
        : dest_(dest), samples_(std::move(samples)) {
        dest_->SetRoomCallback([this] {
            std::lock_guard lock(m_);
            cv_.notify_all();
        });
    }
    ~Feeder() {
        Stop();
        dest_->SetRoomCallback(nullptr);
    }
    void Run(bool endOfData = true) {
        size_t pos = 0;
        while (pos < samples_.size() && !stop_) {
            size_t room = dest_->Room();
            if (room == 0) {
                std::unique_lock lock(m_);
                cv_.wait_for(lock, 20ms);
                continue;
            }
            size_t n = std::min({room, size_t{220}, samples_.size() - pos});
            ASSERT_EQ(S_OK, dest_->Write(samples_.data() + pos, n)) << dest_->LastError();
            pos += n;
            uint64_t ahead = dest_->WrittenFrames() - dest_->HeardFrames();
            maxAhead_ = std::max(maxAhead_, ahead);
        }
        if (endOfData && !stop_) dest_->EndOfData();
    }
    void RunInBackground() {
        thread_ = std::thread([this] { Run(); });
    }
    // Most frames written but not yet heard at any time.
    uint64_t MaxAhead() const { return maxAhead_; }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    void Stop() {
        stop_ = true;
        Join();
    }

  private:
    DeviceDest* dest_;
    std::vector<int16_t> samples_;
    std::atomic<bool> stop_{false};
    uint64_t maxAhead_ = 0;
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
};

class DeviceDestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!SinkCapture::ServerConfigured()) GTEST_SKIP() << "PULSE_SERVER is not set";
        dest_ = MakeCom<DeviceDest>();
        ASSERT_EQ(S_OK, dest_->Open(kRate)) << dest_->LastError();
        ASSERT_TRUE(capture_.Start()) << capture_.Error();
    }
    void WaitHeard() {
        ASSERT_TRUE(WaitUntil([&] { return dest_->HeardFrames() >= dest_->WrittenFrames(); }));
    }
    ComPtr<DeviceDest> dest_;
    SinkCapture capture_{kRate};
};

// A mark runs by the clock of what is heard, never by what was written: the writer
// runs up to kAheadMs ahead, so half of it tells the two apart.
constexpr double kMarkSlackMs = DeviceDest::kAheadMs / 2.0;
// Pause and Reset cork or flush the stream: the silence comes before the server's
// buffer could have played out.
constexpr double kSilenceMs = DeviceDest::kServerBufferMs;

TEST_F(DeviceDestTest, ToneIsHeardExactly) {
    auto tone = MakeTone(kRate, 500);
    Feeder feeder(dest_.Get(), tone);
    auto t0 = Clock::now();
    feeder.Run();
    EXPECT_LE(feeder.MaxAhead(), uint64_t{kRate} * DeviceDest::kAheadMs / 1000)
        << "synthesis ran further ahead of what is heard than Room() allows";
    EXPECT_GT(Ms(Clock::now() - t0), 500.0 - DeviceDest::kAheadMs - 30)
        << "a writer that honours Room() is paced by playback";
    WaitHeard();
    ASSERT_TRUE(capture_.Stop()) << capture_.Error();
    size_t lost = 0;
    auto start = capture_.Locate(tone, 0, 256, &lost);
    ASSERT_TRUE(start.has_value()) << "the capture does not hold the tone";
    std::printf("lost at the start: %zu frames\n", lost);
    EXPECT_EQ(0u, lost) << "the start of a text must be heard";
    ASSERT_GE(capture_.Samples().size(), *start + tone.size());
    EXPECT_TRUE(std::equal(tone.begin() + long(lost), tone.end(),
                           capture_.Samples().begin() + long(*start + lost)))
        << "the capture must hold the samples played, without gaps";
    EXPECT_TRUE(capture_.Silent(*start + tone.size(), kRate / 10)) << "nothing after the end";
}

TEST_F(DeviceDestTest, MarksRunInOrderWhenTheirFrameIsHeard) {
    // Noise, so that each mark's frame is found in the capture by its content, gaps
    // in playback on a busy machine included.
    auto noise = MakeNoise(kRate, 1000);
    MarkLog log;
    // Added out of order on purpose, plus two at the same frame.
    for (uint64_t f : {11025u, 2205u, 4410u, 4410u, 22000u, 1u, 6615u, 17640u, 8820u})
        dest_->AddMark(f, log.Mark(f));
    Feeder feeder(dest_.Get(), noise);
    feeder.Run();
    ASSERT_TRUE(WaitUntil([&] { return log.Count() == 9; })) << log.Count() << " marks ran";
    ASSERT_TRUE(capture_.Stop());
    std::vector<double> errors;
    std::string list;
    uint64_t previous = 0;
    for (auto& [frame, when] : log.ran) {
        EXPECT_GE(frame, previous) << "marks run in order of their frames";
        previous = frame;
        auto at = capture_.Find(noise, frame);
        ASSERT_TRUE(at.has_value()) << "frame " << frame << " was never heard";
        errors.push_back(Ms(when - capture_.TimeOfFrame(*at)));
        list += std::to_string(int(errors.back())) + " ";
    }
    std::printf("mark minus heard (ms): %s\n", list.c_str());
    for (double e : errors) EXPECT_NEAR(0.0, e, kMarkSlackMs) << "mark time vs capture: " << list;
}

TEST_F(DeviceDestTest, PauseSilencesAndStopsMarksResumeLosesNothing) {
    auto tone = MakeNoise(kRate, 1500);
    MarkLog log;
    for (uint64_t f = 1100; f < tone.size(); f += 1100) dest_->AddMark(f, log.Mark(f));
    Feeder feeder(dest_.Get(), tone);
    feeder.RunInBackground();
    ASSERT_TRUE(WaitUntil([&] { return dest_->HeardFrames() >= kRate / 2; }));
    auto pausedAt = Clock::now();
    ASSERT_EQ(S_OK, dest_->Pause());
    size_t marksAtPause = log.Count();
    uint64_t heardAtPause = dest_->HeardFrames();
    std::this_thread::sleep_for(400ms);
    EXPECT_LE(log.Count(), marksAtPause + 1) << "marks run while paused";
    EXPECT_LE(dest_->HeardFrames() - heardAtPause, uint64_t{kRate / 100})
        << "the clock ran on while paused";
    ASSERT_EQ(S_OK, dest_->Resume());
    feeder.Join();
    WaitHeard();
    ASSERT_TRUE(WaitUntil([&] { return log.Count() == (tone.size() - 1) / 1100; }));
    ASSERT_TRUE(capture_.Stop());

    auto first = capture_.FirstSound();
    ASSERT_TRUE(first.has_value());
    size_t pauseFrame =
        *first + capture_.FramesOf(std::chrono::duration_cast<std::chrono::microseconds>(
                     pausedAt - capture_.TimeOfFrame(*first)));
    auto gap = capture_.FirstSilence(*first, kRate / 20);
    ASSERT_TRUE(gap.has_value()) << "the pause was not heard";
    double toSilence = capture_.MsOf(int64_t(*gap) - int64_t(pauseFrame));
    std::printf("silence %.1f ms after Pause\n", toSilence);
    EXPECT_LT(toSilence, kSilenceMs) << "the pause let the server's buffer play out";
    EXPECT_TRUE(capture_.Silent(pauseFrame + size_t{kRate} * DeviceDest::kServerBufferMs / 1000,
                                kRate / 4));
    auto again = capture_.FirstSound(*gap);
    ASSERT_TRUE(again.has_value()) << "nothing heard after Resume";
    // Nothing lost: every 5 ms of the signal is heard, in order. At the pause's
    // edge the monitor may repeat a few ms (the sink takes back what it had mixed
    // ahead) or miss a few (a restarting stream's first ms, as the sink catches
    // up); more than 10 ms is a fault.
    size_t at = 0, missing = 0;
    for (size_t f = 0; f + 32 <= tone.size(); f += kRate / 200) {
        auto found = capture_.Find(tone, f, at > 300 ? at - 300 : 0);
        if (!found) {
            ++missing;
            continue;
        }
        at = *found;
    }
    std::printf("5 ms pieces missing across the pause: %zu\n", missing);
    EXPECT_LE(missing, 2u) << "audio lost across the pause";
}

TEST_F(DeviceDestTest, ResetSilencesDropsMarksAndTheTimeLineRunsOn) {
    auto tone = MakeTone(kRate, 2000);
    MarkLog dropped;
    for (uint64_t f = 2205; f < tone.size(); f += 2205) dest_->AddMark(f, dropped.Mark(f));
    Feeder feeder(dest_.Get(), tone);
    feeder.RunInBackground();
    ASSERT_TRUE(WaitUntil([&] { return dest_->HeardFrames() >= kRate / 2; }));
    feeder.Stop();
    auto resetAt = Clock::now();
    ASSERT_EQ(S_OK, dest_->Reset());
    size_t marksAtReset = dropped.Count();
    const uint64_t written = dest_->WrittenFrames();
    EXPECT_GE(written, uint64_t{kRate / 2}) << "Reset must not rewind the time line";

    std::this_thread::sleep_for(300ms);
    EXPECT_LE(dropped.Count(), marksAtReset + 1) << "pending marks must be dropped";
    // A later text is heard, and its marks follow it.
    auto next = MakeTone(kRate, 300, 660.0);
    MarkLog later;
    dest_->AddMark(written + next.size(), later.Mark(written + next.size()));
    Feeder second(dest_.Get(), next);
    second.Run();
    ASSERT_TRUE(WaitUntil([&] { return later.Count() == 1; })) << "mark after reset never ran";
    ASSERT_TRUE(capture_.Stop());

    auto first = capture_.FirstSound();
    ASSERT_TRUE(first.has_value());
    auto gap = capture_.FirstSilence(*first, kRate / 20);
    ASSERT_TRUE(gap.has_value());
    size_t resetFrame =
        *first + capture_.FramesOf(std::chrono::duration_cast<std::chrono::microseconds>(
                     resetAt - capture_.TimeOfFrame(*first)));
    std::printf("silence %.1f ms after Reset\n",
                capture_.MsOf(int64_t(*gap) - int64_t(resetFrame)));
    EXPECT_LT(capture_.MsOf(int64_t(*gap) - int64_t(resetFrame)), kSilenceMs)
        << "the reset let the server's buffer play out";
    size_t lost = 0;
    auto again = capture_.Locate(next, *gap, 256, &lost);
    ASSERT_TRUE(again.has_value()) << "the text after Reset was not heard whole";
    EXPECT_EQ(0u, lost) << "the start of a text must be heard";
    EXPECT_TRUE(std::equal(next.begin() + long(lost), next.end(),
                           capture_.Samples().begin() + long(*again + lost)));
    auto end = capture_.FirstSilence(*again + 1, kRate / 20);
    ASSERT_TRUE(end.has_value());
    EXPECT_NEAR(double(*again + next.size()), double(*end), 2.0);
    double markError = Ms(later.ran[0].second - capture_.TimeOfFrame(*again + next.size()));
    std::printf("end mark %.1f ms after the end was heard\n", markError);
    EXPECT_NEAR(0.0, markError, kMarkSlackMs) << "end mark vs heard end";
}

TEST_F(DeviceDestTest, ShortEndIsHeardOnlyAfterEndOfData) {
    auto blip = MakeTone(kRate, 2, 1000.0);  // less than the start threshold
    MarkLog log;
    dest_->AddMark(blip.size(), log.Mark(blip.size()));
    ASSERT_EQ(S_OK, dest_->Write(blip.data(), blip.size()));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(0u, log.Count()) << "heard before the start threshold or EndOfData";
    dest_->EndOfData();
    ASSERT_TRUE(WaitUntil([&] { return log.Count() == 1; }, 1s)) << "EndOfData did not start it";
    ASSERT_TRUE(capture_.Stop());
    EXPECT_TRUE(capture_.FirstSound().has_value()) << "the short end was not heard";
}

TEST_F(DeviceDestTest, NewRateGetsANewStream) {
    constexpr unsigned kLow = 16000;
    ASSERT_EQ(S_OK, dest_->Open(kLow)) << dest_->LastError();
    EXPECT_EQ(S_OK, dest_->Open(kLow)) << "same rate again";
    Feeder feeder(dest_.Get(), MakeTone(kLow, 400, 500.0));
    feeder.Run();
    WaitHeard();
    ASSERT_TRUE(capture_.Stop());
    auto first = capture_.FirstSound(0, 200);
    auto last = capture_.LastSound(200);
    ASSERT_TRUE(first && last);
    EXPECT_NEAR(400.0, capture_.MsOf(int64_t(*last - *first)), 5.0) << "played at the wrong rate";
}

TEST_F(DeviceDestTest, ReleasedWhilePlayingStopsQuietly) {
    auto tone = MakeTone(kRate, 2000);
    auto log = std::make_shared<MarkLog>();
    for (uint64_t f = 4410; f < tone.size(); f += 4410) dest_->AddMark(f, log->Mark(f));
    ASSERT_EQ(S_OK, dest_->Write(tone.data(), tone.size()));  // queued beyond the look-ahead
    ASSERT_TRUE(WaitUntil([&] { return dest_->HeardFrames() >= kRate / 4; }));
    auto releasedAt = Clock::now();
    dest_ = nullptr;
    EXPECT_LT(Ms(Clock::now() - releasedAt), 1000.0) << "the release waited for the server";
    size_t ran = log->Count();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(ran, log->Count()) << "a released destination ran marks";
    ASSERT_TRUE(capture_.Stop());
    auto first = capture_.FirstSound();
    ASSERT_TRUE(first.has_value());
    auto gap = capture_.FirstSilence(*first, kRate / 20);
    ASSERT_TRUE(gap.has_value());
    EXPECT_LT(capture_.MsOf(int64_t(*gap - *first)), 400.0) << "sound went on after release";
}

TEST_F(DeviceDestTest, LastReferenceHeldByAMarkEndsCleanly) {
    auto tone = MakeTone(kRate, 100);
    auto heard = std::make_shared<std::atomic<bool>>(false);
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> alive = token;
    // A mark that never comes due: it goes when the destination goes.
    dest_->AddMark(uint64_t{1} << 40, [token] {});
    token.reset();
    ComPtr<DeviceDest> keep = dest_;
    dest_->AddMark(tone.size(), [keep, heard] { heard->store(true); });
    keep = nullptr;
    ASSERT_EQ(S_OK, dest_->Write(tone.data(), tone.size()));
    dest_->EndOfData();
    dest_ = nullptr;  // now only the mark holds it: it ends on the sound thread
    ASSERT_TRUE(WaitUntil([&] { return heard->load(); }));
    EXPECT_TRUE(WaitUntil([&] { return alive.expired(); }, 2s)) << "the destination never ended";
    capture_.Stop(std::chrono::milliseconds(0));
}

}  // namespace

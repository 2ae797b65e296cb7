// The sound-device destination without a server, and with a server of the test's
// own that goes away while it plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "DeviceDestKit.h"
#include "OwnSoundServer.h"
#include "SinkCapture.h"
#include "platform/ClassRegistry.h"
#include "platform/device/DeviceDest.h"
#include "platform/service/SpeechService.h"

namespace {

// Without a sound server the destination still exists, says why it cannot play,
// and plays once a server is there.
TEST(DeviceDestNoServer, OpenFailsWithTheCauseAndRetries) {
    const char* real = std::getenv("PULSE_SERVER");
    std::string saved = real ? real : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/parlen-socket", 1);
    RegisterAudioDestinations();
    ComPtr<IAudioMultiMediaDevice> device;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL,
                                     IID_IAudioMultiMediaDevice, device.PutVoid()));
    ComPtr<IParlenAudioDest> dest;
    ASSERT_EQ(S_OK, device.As(dest));
    EXPECT_EQ(TTSERR_NOSOUNDSERVER, dest->Open(kRate));
    std::string why = dest->LastError();
    EXPECT_NE(std::string::npos, why.find("/nonexistent/parlen-socket")) << why;
    EXPECT_NE(std::string::npos, why.find("refused")) << why;
    int16_t frames[4] = {1, 2, 3, 4};
    EXPECT_EQ(AUDERR_WRITEFAILED, dest->Write(frames, 4));
    bool ran = false;
    dest->AddMark(100, [&] { ran = true; });
    EXPECT_TRUE(ran) << "nothing will be heard: a mark must not wait";
    EXPECT_EQ(S_OK, dest->Pause());
    EXPECT_EQ(S_OK, dest->Reset());
    if (real) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
        EXPECT_EQ(S_OK, dest->Open(kRate)) << "a later Open retries: " << dest->LastError();
        EXPECT_EQ(S_OK, dest->Write(frames, 4));
    } else {
        unsetenv("PULSE_SERVER");
    }
}

// A sound server of the test's own, which it may kill or freeze while the shared one
// stays up, and a writer that writes like the synthesis worker until Write fails.
class DeviceDestLostServer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!SinkCapture::ServerConfigured()) GTEST_SKIP() << "no sound tools (PULSE_SERVER unset)";
        ASSERT_TRUE(server_.Start()) << server_.Error();
        const char* real = std::getenv("PULSE_SERVER");
        saved_ = real ? real : "";
        setenv("PULSE_SERVER", server_.Address().c_str(), 1);
        dest_ = MakeCom<DeviceDest>();
        ASSERT_EQ(S_OK, dest_->Open(kRate)) << dest_->LastError();
        dest_->SetRoomCallback([this] {
            std::lock_guard lock(m_);
            woken_ = true;
            roomed_.notify_all();
        });
    }
    void TearDown() override {
        if (dest_) dest_->SetRoomCallback(nullptr);
        dest_ = nullptr;
        if (!saved_.empty()) setenv("PULSE_SERVER", saved_.c_str(), 1);
    }
    // Plays until something is heard, does `lose` to the server, and writes on until
    // Write fails: the milliseconds from `lose` to the failure, or -1 when it never came.
    double MsUntilWriteFails(const std::function<void()>& lose) {
        std::atomic<bool> failed{false}, stop{false};
        Clock::time_point failedAt;
        std::thread writer([&] {
            const auto tone = MakeTone(kRate, 100);
            while (!stop) {
                if (dest_->Room() == 0) {
                    // Only the room callback wakes it, as it wakes the synthesis worker.
                    std::unique_lock lock(m_);
                    roomed_.wait_for(lock, 10s, [&] { return woken_; });
                    woken_ = false;
                    continue;
                }
                if (FAILED(dest_->Write(tone.data(), std::min(dest_->Room(), tone.size())))) {
                    failedAt = Clock::now();
                    failed = true;
                    return;
                }
            }
        });
        const bool heard = WaitUntil([&] { return dest_->HeardFrames() >= kRate / 4; });
        const auto lostAt = Clock::now();
        if (heard) lose();
        WaitUntil([&] { return failed.load(); }, 10s);
        stop = true;
        writer.join();
        EXPECT_TRUE(heard) << "nothing played on the test's own server";
        return failed ? Ms(failedAt - lostAt) : -1.0;
    }
    OwnSoundServer server_;
    std::string saved_;
    ComPtr<DeviceDest> dest_;
    std::mutex m_;
    std::condition_variable roomed_;
    bool woken_ = false;
};

// Killed (or its socket gone): the waiting writer is woken, Write fails at once naming
// the cause and the server, marks keep nobody waiting, and once a server answers
// again the next Open connects again and plays.
TEST_F(DeviceDestLostServer, KilledFailsTheWriteNamingTheCauseAndOpenReconnects) {
    MarkLog log;
    dest_->AddMark(uint64_t{1} << 40, log.Mark(0));
    const double ms = MsUntilWriteFails([&] { server_.Kill(); });
    std::printf("Write failed %.1f ms after the server was killed\n", ms);
    ASSERT_GE(ms, 0.0) << "Write went on succeeding with the server gone";
    EXPECT_LT(ms, double{DeviceDest::kStallMs}) << "found by the watchdog, not by the loss";
    const std::string why = dest_->LastError();
    EXPECT_NE(std::string::npos, why.find("Connection terminated")) << why;
    EXPECT_NE(std::string::npos, why.find(server_.Address())) << why;
    EXPECT_EQ(1u, log.Count()) << "a mark that will never be heard must not wait";
    int16_t frames[4] = {1, 2, 3, 4};
    EXPECT_EQ(AUDERR_WRITEFAILED, dest_->Write(frames, 4));
    EXPECT_EQ(why, dest_->LastError()) << "a later Write keeps the cause";

    ASSERT_TRUE(server_.Start()) << server_.Error();
    EXPECT_EQ(S_OK, dest_->Open(kRate)) << "the next Open connects again: " << dest_->LastError();
    const auto tone = MakeTone(kRate, 200);
    const uint64_t from = dest_->WrittenFrames();
    EXPECT_EQ(S_OK, dest_->Write(tone.data(), tone.size())) << dest_->LastError();
    dest_->EndOfData();
    EXPECT_TRUE(WaitUntil([&] { return dest_->HeardFrames() >= from + tone.size(); }))
        << "nothing played after reconnecting";
}

// Frozen: the connection stays open but nothing answers; Write fails once the
// device's watchdog runs out, and says so.
TEST_F(DeviceDestLostServer, FrozenFailsTheWriteWithinTheWatchdog) {
    const double ms = MsUntilWriteFails([&] { server_.Freeze(); });
    std::printf("Write failed %.1f ms after the server froze\n", ms);
    ASSERT_GE(ms, 0.0) << "Write went on succeeding with the server frozen";
    EXPECT_LT(ms, DeviceDest::kStallMs * 2.0);
    const std::string why = dest_->LastError();
    EXPECT_NE(std::string::npos, why.find("stopped answering")) << why;
    EXPECT_NE(std::string::npos, why.find(server_.Address())) << why;
}

// A frozen server holds none of the calls the window makes: each returns at once
// with success, before the server is found lost, and the failure follows with its
// cause, as it does for a frozen server found by the watchdog while playing.
TEST_F(DeviceDestLostServer, FrozenHoldsNoCallAndTheFailureFollows) {
    struct Case {
        const char* call;
        bool playing, paused;
        std::function<HRESULT(DeviceDest&)> run;
        const char* cause;
    };
    const Case cases[] = {
        {"Pause", true, false, [](DeviceDest& d) { return d.Pause(); }, "stopped answering"},
        {"Resume", true, true, [](DeviceDest& d) { return d.Resume(); }, "stopped answering"},
        {"Reset", true, true, [](DeviceDest& d) { return d.Reset(); }, "stopped answering"},
        {"Open", false, false, [](DeviceDest& d) { return d.Open(kRate); }, "no answer"},
    };
    const auto tone = MakeTone(kRate, 1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        server_.Kill();
        ASSERT_TRUE(server_.Start()) << server_.Error();
        // Declared before the destination: its thread may still report while it goes.
        std::mutex m;
        std::string why;
        auto dest = MakeCom<DeviceDest>();
        dest->SetFailureCallback([&](HRESULT, const std::string& what) {
            std::lock_guard lock(m);
            why = what;
        });
        const auto failed = [&] {
            std::lock_guard lock(m);
            return !why.empty();
        };
        if (c.playing) {
            ASSERT_EQ(S_OK, dest->Open(kRate)) << dest->LastError();
            ASSERT_EQ(S_OK, dest->Write(tone.data(), tone.size())) << dest->LastError();
            ASSERT_TRUE(WaitUntil([&] { return dest->HeardFrames() >= kRate / 10; }));
        }
        if (c.paused) {
            ASSERT_EQ(S_OK, dest->Pause());
            std::this_thread::sleep_for(100ms);  // the server takes the pause
        }
        server_.Freeze();
        EXPECT_EQ(S_OK, c.run(*dest.Get())) << dest->LastError();
        EXPECT_FALSE(failed()) << "the call waited until the server was found lost";
        ASSERT_TRUE(WaitUntil(failed, 10s)) << "a frozen server was never found lost";
        std::lock_guard lock(m);
        EXPECT_NE(std::string::npos, why.find(c.cause)) << why;
        EXPECT_NE(std::string::npos, why.find(server_.Address())) << why;
        int16_t frames[4] = {};
        EXPECT_EQ(AUDERR_WRITEFAILED, dest->Write(frames, 4));
        EXPECT_EQ(why, dest->LastError());
    }
}

}  // namespace

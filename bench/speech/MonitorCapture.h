#pragma once
// Records the monitor of the sound server's null sink from a thread of its own, in
// small fragments, and keeps for every fragment the steady-clock time it arrived, so
// that the wall time of any captured frame is known to within a few milliseconds.
//
// Delivery can only be late, never early: frame f's time is estimated as the
// earliest (arrival - frames delivered after f / rate) over the fragments within a
// second of it (BenchStats::ArrivalClock), since the sink's clock drifts from ours.
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchStats.h"

class MonitorCapture {
  public:
    using Clock = std::chrono::steady_clock;

    explicit MonitorCapture(unsigned rate = 22050, unsigned fragmentFrames = 110);
    ~MonitorCapture();
    MonitorCapture(const MonitorCapture&) = delete;
    MonitorCapture& operator=(const MonitorCapture&) = delete;

    // Opens the record stream and waits for its first fragment. False with Error().
    bool Start();
    void Stop();
    const std::string& Error() const { return error_; }

    unsigned Rate() const { return rate_; }
    // Frames captured so far.
    size_t Frames() const;
    // A copy of the samples captured so far.
    std::vector<int16_t> Samples() const;
    // First frame at or after from louder than threshold, without copying the capture.
    std::optional<size_t> FirstSoundSince(size_t from, int threshold = 0) const;
    // Wall time of a frame, and the frame heard at a wall time.
    Clock::time_point TimeOfFrame(size_t frame) const;
    int64_t FrameAt(Clock::time_point t) const;

  private:
    void Run();

    unsigned rate_;
    unsigned fragment_;
    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;
    std::vector<int16_t> samples_;
    BenchStats::ArrivalClock clock_;  // of every fragment, in steady-clock nanoseconds
    std::string error_;
};

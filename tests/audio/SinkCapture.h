#pragma once
// Records what the test sound server plays, from the monitor of its null sink
// ($PARLEN_SINK, default parlen_null), with parecord into a temporary file, and
// measures it: first sound, loudness over a window, silence.
//
// Typical use: Start(); play; Stop(); then look at Samples(). Times are in frames
// of the capture rate from the start of the capture; the capture may begin with a
// little silence, so align on FirstSound() rather than on Start().
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SinkCapture {
  public:
    using Clock = std::chrono::steady_clock;

    explicit SinkCapture(unsigned rate = 22050);
    ~SinkCapture();
    SinkCapture(const SinkCapture&) = delete;
    SinkCapture& operator=(const SinkCapture&) = delete;

    // True when tests may use the sound server (PULSE_SERVER is set).
    static bool ServerConfigured();
    static std::string MonitorName();

    // Starts parecord and waits until the first bytes arrive, so that what is
    // played after Start() returns is in the capture. False (with Error()) when
    // recording cannot start.
    bool Start();
    // Stops the recording (after `tail` more of it) and reads the samples.
    bool Stop(std::chrono::milliseconds tail = std::chrono::milliseconds(150));
    const std::string& Error() const { return error_; }

    const std::vector<int16_t>& Samples() const { return samples_; }
    unsigned Rate() const { return rate_; }
    // Steady-clock time of capture frame 0, estimated from the file's growth.
    Clock::time_point FrameZeroTime() const { return zero_; }
    Clock::time_point TimeOfFrame(size_t frame) const;

    // First frame at or after `from` whose magnitude exceeds `threshold`.
    std::optional<size_t> FirstSound(size_t from = 0, int threshold = 0) const;
    // Last frame whose magnitude exceeds threshold.
    std::optional<size_t> LastSound(int threshold = 0) const;
    // Root mean square over [from, from + count) (clipped to the capture).
    double Rms(size_t from, size_t count) const;
    // True when no frame of [from, from + count) exceeds threshold.
    bool Silent(size_t from, size_t count, int threshold = 0) const;
    // First frame at or after `from` that starts a silent run of `run` frames.
    std::optional<size_t> FirstSilence(size_t from, size_t run, int threshold = 0) const;

    // Capture frame where signal[0] was (or would have been) heard: the first sound
    // at or after `from` is matched against the signal over `run` frames, allowing
    // up to maxSkip leading frames of it to be missing (a stream that starts on a
    // running sink may lose a few ms to the sink's rewind). Frames before the match
    // that were lost are reported in *skipped.
    std::optional<size_t> Locate(const std::vector<int16_t>& signal, size_t from = 0,
                                 size_t maxSkip = 256, size_t* skipped = nullptr,
                                 size_t run = 200) const;

    // Capture frame holding signal[at], found by the `run` frames from there on
    // (searching from capture frame `from`).
    std::optional<size_t> Find(const std::vector<int16_t>& signal, size_t at, size_t from = 0,
                               size_t run = 32) const;

    size_t FramesOf(std::chrono::microseconds d) const;
    double MsOf(int64_t frames) const { return frames * 1000.0 / rate_; }

    // For tests of this class: use given samples instead of a recording.
    void SetSamples(std::vector<int16_t> samples) { samples_ = std::move(samples); }

  private:
    void Kill();
    off_t FileSize() const;

    unsigned rate_;
    std::string dir_;
    std::string path_;
    pid_t pid_ = -1;
    std::vector<int16_t> samples_;
    Clock::time_point zero_{};
    std::string error_;
};

// Deterministic noise: every window of a few dozen frames is unique, so a frame
// can be found in a capture by its content (Find) even when playback had gaps.
std::vector<int16_t> MakeNoise(unsigned rate, unsigned ms, int16_t amplitude = 8000);

// A sine tone of `ms` milliseconds, for playing into a destination.
std::vector<int16_t> MakeTone(unsigned rate, unsigned ms, double hz = 440.0,
                              int16_t amplitude = 12000);

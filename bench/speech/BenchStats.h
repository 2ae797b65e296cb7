#pragma once
// Arithmetic of the measurements: medians and percentiles, and where sound starts,
// stops and lines up in a recording of 16-bit samples.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace BenchStats {

double Median(std::vector<double> values);
// Nearest-rank percentile (p in 0..100); 0 for no values.
double Percentile(std::vector<double> values, double p);

// First frame in [from, samples.size()) louder than threshold.
std::optional<size_t> FirstSound(const std::vector<int16_t>& samples, size_t from = 0,
                                 int threshold = 0);
// The frame where the final silence of [from, until) begins: one past its last frame
// louder than threshold (from itself when all of it is silent). Empty when the last
// minRun frames before until are not all silent, i.e. the sound had not ended.
std::optional<size_t> SilenceFrom(const std::vector<int16_t>& samples, size_t from, size_t until,
                                  size_t minRun, int threshold = 0);
// Largest absolute difference between a[aFrom + i] and b[bFrom + i] for i < count;
// empty when either side is shorter than that.
std::optional<int> MaxDifference(const std::vector<int16_t>& a, size_t aFrom,
                                 const std::vector<int16_t>& b, size_t bFrom, size_t count);
// Shift in [-maxShift, maxShift] that best lines b (from bFrom) up with a (from aFrom)
// over count frames, by least squared difference.
int BestShift(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b,
              size_t bFrom, size_t count, int maxShift);

// Where the stretch of a around aFrame (window frames from it) is found in b, searched
// within [guess - range, guess + range] frames of aFrame: first on 5 ms loudness
// envelopes, then frame by frame near the best of those. Live playback may hold gaps
// that a file render has not, so each word is placed by its own surroundings.
int64_t LocalShift(const std::vector<int16_t>& a, size_t aFrame, const std::vector<int16_t>& b,
                   size_t window, int64_t guess, int64_t range, unsigned rate);

// Wall times of a recorded stream's frames, from when its pieces arrived. Delivery can
// only be late, never early, so a frame's time is the earliest that the pieces around
// it allow (arrival - frames delivered after it / rate). Only pieces within `span`
// frames count: the sound server's clock may run a few hundred ppm off the steady
// clock, and over a long recording a single earliest piece would place the frames far
// from it several milliseconds off.
class ArrivalClock {
  public:
    ArrivalClock(unsigned rate, size_t span) : rate_(rate), span_(span) {}
    // Frames [0, end) had arrived at arrivalNs (steady clock); end grows from call to call.
    void Add(size_t end, int64_t arrivalNs);
    bool Empty() const { return pieces_.empty(); }
    // Time of a frame, and the frame heard at a time (before the first: negative).
    int64_t TimeOfFrame(int64_t frame) const;
    int64_t FrameAt(int64_t ns) const;

  private:
    unsigned rate_;
    size_t span_;
    std::vector<std::pair<size_t, int64_t>> pieces_;  // end frame, arrival
};

// text repeated (whole copies, then a cut one) to exactly size bytes; a cut falls
// after a line break when one is near, so no word is split.
std::string RepeatTo(const std::string& text, size_t size);

}  // namespace BenchStats

#include "platform/voices/Resample.h"

#include <soxr.h>

#include <cmath>

bool Resample(std::vector<int16_t>& samples, double from, double to) {
    if (samples.empty() || std::abs(from - to) < 0.5) return true;
    std::vector<int16_t> out(static_cast<size_t>(std::ceil(samples.size() * to / from)) + 16);
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    size_t done = 0;
    if (soxr_oneshot(from, to, 1, samples.data(), samples.size(), nullptr, out.data(), out.size(),
                     &done, &io, &quality, nullptr))
        return false;
    out.resize(done);
    samples = std::move(out);
    return true;
}

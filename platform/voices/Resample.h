#pragma once
// Sample-rate conversion for the voices whose audio comes at another rate than their
// mode's (Festival's pitch by resampling, RHVoice's voices at other rates).
#include <cstdint>
#include <vector>

// The samples at `to` per second, read as recorded at `from`; without dither, so the
// same text renders the same, sample for sample. False when libsoxr fails.
bool Resample(std::vector<int16_t>& samples, double from, double to);

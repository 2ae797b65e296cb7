#include "BenchStats.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace BenchStats {

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

std::optional<size_t> FirstSound(const std::vector<int16_t>& samples, size_t from, int threshold) {
    for (size_t i = from; i < samples.size(); ++i)
        if (std::abs(int{samples[i]}) > threshold) return i;
    return std::nullopt;
}

std::optional<size_t> SilenceFrom(const std::vector<int16_t>& samples, size_t from, size_t until,
                                  size_t minRun, int threshold) {
    until = std::min(until, samples.size());
    if (from > until || until - from < minRun) return std::nullopt;
    size_t end = until;
    while (end > from && std::abs(int{samples[end - 1]}) <= threshold) --end;
    if (until - end < minRun) return std::nullopt;
    return end;
}

std::optional<int> MaxDifference(const std::vector<int16_t>& a, size_t aFrom,
                                 const std::vector<int16_t>& b, size_t bFrom, size_t count) {
    if (aFrom + count > a.size() || bFrom + count > b.size()) return std::nullopt;
    int worst = 0;
    for (size_t i = 0; i < count; ++i)
        worst = std::max(worst, std::abs(int{a[aFrom + i]} - int{b[bFrom + i]}));
    return worst;
}

int BestShift(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b,
              size_t bFrom, size_t count, int maxShift) {
    int best = 0;
    double bestCost = std::numeric_limits<double>::infinity();
    for (int shift = -maxShift; shift <= maxShift; ++shift) {
        const long long start = static_cast<long long>(bFrom) + shift;
        if (start < 0 || static_cast<size_t>(start) + count > b.size() || aFrom + count > a.size())
            continue;
        double cost = 0;
        for (size_t i = 0; i < count; ++i) {
            const double d = double(a[aFrom + i]) - double(b[static_cast<size_t>(start) + i]);
            cost += d * d;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = shift;
        }
    }
    return best;
}

namespace {

// Mean magnitude of [from, from + block) of x, 0 past its end.
double Loudness(const std::vector<int16_t>& x, int64_t from, size_t block) {
    if (from < 0) return 0;
    double sum = 0;
    for (size_t i = 0; i < block && size_t(from) + i < x.size(); ++i)
        sum += std::abs(int{x[size_t(from) + i]});
    return sum / double(block);
}

}  // namespace

int64_t LocalShift(const std::vector<int16_t>& a, size_t aFrame, const std::vector<int16_t>& b,
                   size_t window, int64_t guess, int64_t range, unsigned rate) {
    const size_t block = std::max<size_t>(1, rate / 200);
    const size_t blocks = std::max<size_t>(1, window / block);
    std::vector<double> ref(blocks);
    for (size_t k = 0; k < blocks; ++k) ref[k] = Loudness(a, int64_t(aFrame + k * block), block);
    int64_t coarse = guess;
    double bestCost = std::numeric_limits<double>::infinity();
    // Outward from the guess; a farther shift must fit clearly better, since speech
    // has rhythms that a loudness envelope alone cannot tell apart.
    for (int64_t d = 0; d <= range; d += int64_t(block)) {
        for (int64_t s : {guess + d, guess - d}) {
            double cost = 0;
            for (size_t k = 0; k < blocks; ++k) {
                const double diff = ref[k] - Loudness(b, int64_t(aFrame + k * block) + s, block);
                cost += diff * diff;
            }
            if (cost < 0.8 * bestCost || (bestCost == std::numeric_limits<double>::infinity())) {
                bestCost = cost;
                coarse = s;
            }
            if (d == 0) break;
        }
    }
    int64_t best = coarse;
    bestCost = std::numeric_limits<double>::infinity();
    const int64_t span = int64_t(block) * 2;
    for (int64_t s = coarse - span; s <= coarse + span; ++s) {
        double cost = 0;
        for (size_t i = 0; i < window && aFrame + i < a.size(); ++i) {
            const int64_t j = int64_t(aFrame + i) + s;
            const double other = j >= 0 && size_t(j) < b.size() ? b[size_t(j)] : 0;
            const double d = double(a[aFrame + i]) - other;
            cost += d * d;
        }
        if (cost < bestCost) {
            bestCost = cost;
            best = s;
        }
    }
    return best;
}

void ArrivalClock::Add(size_t end, int64_t arrivalNs) {
    pieces_.emplace_back(end, arrivalNs);
}

int64_t ArrivalClock::TimeOfFrame(int64_t frame) const {
    if (pieces_.empty()) return 0;
    const auto byEnd = [](const std::pair<size_t, int64_t>& p, int64_t f) {
        return int64_t(p.first) < f;
    };
    auto from = std::lower_bound(pieces_.begin(), pieces_.end(), frame - int64_t(span_), byEnd);
    auto to = std::lower_bound(from, pieces_.end(), frame + int64_t(span_) + 1, byEnd);
    // A frame beyond every piece's reach still gets the nearest pieces' estimate.
    if (from == to) {
        from = to == pieces_.end() ? to - 1 : to;
        to = from + 1;
    }
    int64_t best = INT64_MAX;
    for (auto it = from; it != to; ++it)
        best = std::min(best,
                        it->second - (int64_t(it->first) - frame) * 1'000'000'000 / int64_t(rate_));
    return best;
}

int64_t ArrivalClock::FrameAt(int64_t ns) const {
    if (pieces_.empty()) return 0;
    // From the piece that arrived nearest the time, then corrected by the estimate there.
    auto it = std::lower_bound(pieces_.begin(), pieces_.end(), ns,
                               [](const auto& p, int64_t t) { return p.second < t; });
    if (it == pieces_.end()) --it;
    int64_t frame = int64_t(it->first) - (it->second - ns) * int64_t(rate_) / 1'000'000'000;
    for (int i = 0; i < 3; ++i) frame += (ns - TimeOfFrame(frame)) * int64_t(rate_) / 1'000'000'000;
    return frame;
}

std::string RepeatTo(const std::string& text, size_t size) {
    std::string out;
    if (text.empty()) return out;
    out.reserve(size);
    while (out.size() + text.size() <= size) out += text;
    std::string cut = text.substr(0, size - out.size());
    const size_t lf = cut.rfind('\n');
    if (lf != std::string::npos && cut.size() - lf < 200) cut.resize(lf + 1);
    out += cut;
    // Pad a shortened cut with blanks so that the size holds.
    out.append(size - out.size(), ' ');
    return out;
}

}  // namespace BenchStats

#pragma once
// What the sound-device tests share: the clock, marks that record when they ran, and
// waiting for a condition.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
inline constexpr unsigned kRate = 22050;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Marks that record when they ran.
struct MarkLog {
    std::mutex m;
    std::vector<std::pair<uint64_t, Clock::time_point>> ran;
    std::function<void()> Mark(uint64_t frame) {
        return [this, frame] {
            std::lock_guard lock(m);
            ran.emplace_back(frame, Clock::now());
        };
    }
    size_t Count() {
        std::lock_guard lock(m);
        return ran.size();
    }
};

template <class Pred>
bool WaitUntil(Pred pred, Clock::duration timeout = 5s) {
    auto end = Clock::now() + timeout;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

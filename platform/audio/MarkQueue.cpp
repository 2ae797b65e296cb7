#include "platform/audio/MarkQueue.h"

void MarkQueue::Add(uint64_t frame, Call call) {
    if (call) marks_.emplace(frame, std::move(call));
}

void MarkQueue::RunDue(uint64_t frame) {
    while (!marks_.empty() && marks_.begin()->first <= frame) {
        spent_.push_back(std::move(marks_.begin()->second));
        marks_.erase(marks_.begin());
        Run(spent_.back());
    }
}

void MarkQueue::RunAll() {
    auto marks = std::exchange(marks_, {});
    for (auto& [frame, call] : marks) {
        spent_.push_back(std::move(call));
        Run(spent_.back());
    }
}

void MarkQueue::Drop() {
    for (auto& [frame, call] : marks_) spent_.push_back(std::move(call));
    marks_.clear();
}

void MarkQueue::Run(Call& call) {
    try {
        call();
    } catch (...) {
        // A mark only queues work; nothing may unwind into a destination's thread.
    }
}

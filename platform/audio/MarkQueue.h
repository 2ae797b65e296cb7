#pragma once
// The marks of an audio destination: callbacks waiting for a frame of the time line
// to be heard, run in order of their frames.
//
// One locking rule for every destination: marks are added, run and dropped under the
// destination's lock (so that they run in order across threads), and the callbacks
// are destroyed only after that lock is released, because a capture may hold the
// last reference to an engine whose release calls back into the destination. A
// public call takes its lock through a Scope, which hands what ran or was dropped
// over for destruction once the lock is gone.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class MarkQueue {
  public:
    using Call = std::function<void()>;
    using Calls = std::vector<Call>;

    template <class Lock>
    class Scope;

    void Add(uint64_t frame, Call call);
    bool Empty() const { return marks_.empty(); }
    // The frame of the first mark waiting, if any.
    std::optional<uint64_t> NextFrame() const {
        if (marks_.empty()) return std::nullopt;
        return marks_.begin()->first;
    }
    // Runs the marks at or before `frame`, in order.
    void RunDue(uint64_t frame);
    // Runs every mark, in order: nothing more will be heard for them.
    void RunAll();
    // Drops every mark without running it.
    void Drop();
    // What ran or was dropped, for destruction outside the lock.
    Calls TakeSpent() { return std::exchange(spent_, {}); }

  private:
    void Run(Call& call);

    std::multimap<uint64_t, Call> marks_;
    Calls spent_;
};

// Holds `Lock` (built from the arguments) for one call; the marks that ran or were
// dropped meanwhile are destroyed after it is released.
template <class Lock>
class MarkQueue::Scope {
  public:
    template <class... Args>
    explicit Scope(MarkQueue& queue, Args&&... args)
        : queue_(queue), lock_(std::forward<Args>(args)...) {}
    ~Scope() { spent_ = queue_.TakeSpent(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    MarkQueue& queue_;
    Calls spent_;  // destroyed last
    Lock lock_;
};

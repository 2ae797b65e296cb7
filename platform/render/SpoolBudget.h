#pragma once
// How many bytes the render workers may hold in their spools, written and not yet read,
// shared by the engine and every worker it forks. The count lives in memory mapped
// shared before the first fork, so that every process sees and changes the same count.
//
// A worker takes room before it writes a piece and waits while the spools are full; the
// engine gives the room back as it reads the pieces (and punches them out of the spool
// file). The segment being read is never kept waiting for room it cannot get: its
// worker may always write while the engine has read all it wrote, so the render always
// goes on, and the spools hold at most the budget and one piece.
#include <atomic>
#include <cstddef>
#include <cstdint>

class SpoolBudget {
  public:
    // Maps the shared count for `segments` segments; Valid() is false when it cannot be
    // mapped (the render then runs in one process).
    SpoolBudget(uint64_t bytes, size_t segments);
    ~SpoolBudget();
    SpoolBudget(const SpoolBudget&) = delete;
    SpoolBudget& operator=(const SpoolBudget&) = delete;
    bool Valid() const { return shared_ != nullptr; }

    // Worker side: waits until the spools have room for `bytes` more of segment's, then
    // takes it.
    void Take(size_t segment, uint64_t bytes);
    // Engine side: segment's pieces of `bytes` have been read; wakes the workers waiting.
    void Give(size_t segment, uint64_t bytes);
    // Engine side: segment is the one being read from now on.
    void Reading(size_t segment);

    // The most the spools ever held (taken and not given back), for tests and benches.
    uint64_t Peak() const;

  private:
    struct Shared;
    void Wake();
    uint64_t budget_;
    size_t segments_;
    size_t mapped_ = 0;
    Shared* shared_ = nullptr;
    std::atomic<uint64_t>* unread_ = nullptr;  // per segment
};

#include "platform/render/SpoolBudget.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#include <new>

static_assert(std::atomic<uint64_t>::is_always_lock_free &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the count is shared between processes, so it must not hide a lock");

struct SpoolBudget::Shared {
    std::atomic<uint64_t> held{0};  // taken by workers, not yet given back by the engine
    std::atomic<uint64_t> peak{0};
    std::atomic<uint32_t> reading{0};  // the segment being read
    std::atomic<uint32_t> given{0};    // changes whenever room is given: what workers wait on
};

namespace {
// A worker that waits also looks again this often, should a wake-up be missed (the
// engine gives room between its look and its wait) or the engine be gone.
constexpr long kRecheckNs = 50'000'000;

// The processes share the mapping but not an address space: futexes shared, not private.
void FutexWait(std::atomic<uint32_t>& word, uint32_t seen) {
    timespec timeout{0, kRecheckNs};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, seen, &timeout, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, INT32_MAX, nullptr, nullptr,
            0);
}
}  // namespace

SpoolBudget::SpoolBudget(uint64_t bytes, size_t segments) : budget_(bytes), segments_(segments) {
    mapped_ = sizeof(Shared) + segments * sizeof(std::atomic<uint64_t>);
    void* memory =
        mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    shared_ = new (memory) Shared;
    unread_ = reinterpret_cast<std::atomic<uint64_t>*>(static_cast<char*>(memory) + sizeof(Shared));
    for (size_t i = 0; i < segments; ++i) new (&unread_[i]) std::atomic<uint64_t>(0);
}

SpoolBudget::~SpoolBudget() {
    if (shared_) munmap(shared_, mapped_);
}

void SpoolBudget::Take(size_t segment, uint64_t bytes) {
    if (!shared_ || segment >= segments_) return;
    for (;;) {
        const uint32_t seen = shared_->given.load();
        uint64_t held = shared_->held.load();
        // The segment being read may write whenever the engine waits for it.
        const bool first = shared_->reading.load() == segment && unread_[segment].load() == 0;
        bool taken = false;
        while (!taken && (held + bytes <= budget_ || first))
            taken = shared_->held.compare_exchange_weak(held, held + bytes);
        if (taken) {
            unread_[segment] += bytes;
            for (uint64_t peak = shared_->peak.load();
                 held + bytes > peak && !shared_->peak.compare_exchange_weak(peak, held + bytes);) {
            }
            return;
        }
        FutexWait(shared_->given, seen);
    }
}

void SpoolBudget::Give(size_t segment, uint64_t bytes) {
    if (!shared_ || segment >= segments_) return;
    unread_[segment] -= bytes;
    shared_->held -= bytes;
    Wake();
}

void SpoolBudget::Reading(size_t segment) {
    if (!shared_) return;
    shared_->reading = static_cast<uint32_t>(segment);
    Wake();
}

void SpoolBudget::Wake() {
    ++shared_->given;
    FutexWakeAll(shared_->given);
}

uint64_t SpoolBudget::Peak() const {
    return shared_ ? shared_->peak.load() : 0;
}

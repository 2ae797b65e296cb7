#include "platform/ApartmentLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Apartment.h"

namespace {
struct State {
    std::mutex mutex;
    int wake = -1;
    int binds = 0;
    std::thread::id thread;
    std::deque<Apartment::Call> queue;
};
State& S() {
    static State s;
    return s;
}
}  // namespace

bool Apartment::Bind() {
    std::lock_guard lock(S().mutex);
    if (S().binds++ > 0) return false;
    S().wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    S().thread = std::this_thread::get_id();
    return true;
}

void Apartment::Unbind() {
    std::deque<Call> dropped;
    {
        std::lock_guard lock(S().mutex);
        if (S().binds == 0 || --S().binds > 0) return;
        if (S().wake >= 0) ::close(S().wake);
        S().wake = -1;
        S().thread = {};
        dropped.swap(S().queue);
    }
    // Calls still queued are dropped, outside the lock: they may hold the last
    // references to objects whose release posts again.
}

bool Apartment::IsApartmentThread() {
    std::lock_guard lock(S().mutex);
    return S().wake >= 0 && S().thread == std::this_thread::get_id();
}

bool Apartment::Post(Call call) {
    std::lock_guard lock(S().mutex);
    if (S().wake < 0) return false;
    S().queue.push_back(std::move(call));
    // A full counter (never reached in practice) still leaves the descriptor readable.
    const uint64_t one = 1;
    (void)!::write(S().wake, &one, sizeof one);
    return true;
}

int ApartmentLoop::WakeDescriptor() {
    std::lock_guard lock(S().mutex);
    return S().wake;
}

void ApartmentLoop::RunQueued() {
    std::deque<Apartment::Call> calls;
    {
        std::lock_guard lock(S().mutex);
        if (S().wake < 0) return;
        uint64_t count = 0;
        (void)!::read(S().wake, &count, sizeof count);
        calls.swap(S().queue);
    }
    for (const Apartment::Call& call : calls) Apartment::RunGuarded(call);
}

// The guard under which every delivered call runs, shared by both ways of delivering.
#include <cstdio>
#include <exception>
#include <mutex>

#include "platform/Apartment.h"

namespace {
struct GuardState {
    std::mutex mutex;
    Apartment::Guard guard;
};
GuardState& G() {
    static GuardState g;
    return g;
}

void DefaultGuard(const Apartment::Call& call) {
    try {
        call();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parlen: error in notification: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "parlen: unknown error in notification\n");
    }
}
}  // namespace

void Apartment::SetGuard(Guard guard) {
    std::lock_guard lock(G().mutex);
    G().guard = std::move(guard);
}

void Apartment::RunGuarded(const Call& call) {
    Guard guard;
    {
        std::lock_guard lock(G().mutex);
        guard = G().guard;
    }
    if (guard) {
        // The installed guard must itself contain every error; a last net here keeps
        // exceptions out of the event loop whatever it does.
        try {
            guard(call);
        } catch (...) {
            std::fprintf(stderr, "parlen: error escaped the notification guard\n");
        }
    } else {
        DefaultGuard(call);
    }
}

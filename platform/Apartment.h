#pragma once
// The UI-thread apartment. Engines and sound destinations work on threads of their
// own; whatever they report reaches components only through Post, which queues the
// call onto the UI thread, where it runs between messages under the guard.
#include <functional>

class Apartment {
  public:
    using Call = std::function<void()>;
    using Guard = std::function<void(const Call&)>;

    // Called from any thread. Returns false (and drops the call) when no apartment
    // is bound.
    static bool Post(Call call);
    // True on the bound UI thread.
    static bool IsApartmentThread();
    // Runs every delivered call; the window installs its error guard here. The
    // default guard reports errors on stderr so that nothing unwinds into Qt.
    static void SetGuard(Guard guard);
    // Runs call under the current guard (used by Post's delivery).
    static void RunGuarded(const Call& call);

    static bool Bind();
    static void Unbind();
};

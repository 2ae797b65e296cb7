#include "platform/Apartment.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <cstdio>
#include <exception>
#include <mutex>

namespace {
struct State {
    std::mutex mutex;
    QPointer<QObject> receiver;
    int binds = 0;
    Apartment::Guard guard;
};
State& S() {
    static State s;
    return s;
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

bool Apartment::Bind() {
    std::lock_guard lock(S().mutex);
    if (S().binds++ > 0) return false;
    auto* app = QCoreApplication::instance();
    auto* receiver = new QObject();
    if (app) receiver->moveToThread(app->thread());
    S().receiver = receiver;
    return true;
}

void Apartment::Unbind() {
    QObject* old = nullptr;
    {
        std::lock_guard lock(S().mutex);
        if (S().binds == 0 || --S().binds > 0) return;
        old = S().receiver.data();
        S().receiver = nullptr;
    }
    // Calls still queued are dropped together with their receiver.
    delete old;
}

bool Apartment::IsApartmentThread() {
    std::lock_guard lock(S().mutex);
    return S().receiver && S().receiver->thread() == QThread::currentThread();
}

bool Apartment::Post(Call call) {
    std::lock_guard lock(S().mutex);
    QObject* receiver = S().receiver.data();
    if (!receiver) return false;
    return QMetaObject::invokeMethod(
        receiver, [call = std::move(call)] { Apartment::RunGuarded(call); }, Qt::QueuedConnection);
}

void Apartment::SetGuard(Guard guard) {
    std::lock_guard lock(S().mutex);
    S().guard = std::move(guard);
}

void Apartment::RunGuarded(const Call& call) {
    Guard guard;
    {
        std::lock_guard lock(S().mutex);
        guard = S().guard;
    }
    if (guard) {
        // The installed guard must itself contain every error; a last net here keeps
        // exceptions out of Qt's event loop whatever it does.
        try {
            guard(call);
        } catch (...) {
            std::fprintf(stderr, "parlen: error escaped the notification guard\n");
        }
    } else {
        DefaultGuard(call);
    }
}

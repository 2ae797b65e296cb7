// The apartment over Qt's event loop: the window's.
#include "platform/Apartment.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <mutex>

namespace {
struct State {
    std::mutex mutex;
    QPointer<QObject> receiver;
    int binds = 0;
};
State& S() {
    static State s;
    return s;
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

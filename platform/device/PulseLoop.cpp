#include "platform/device/PulseLoop.h"

#include <cstdlib>
#include <thread>

namespace {

std::string ServerName() {
    const char* env = std::getenv("PULSE_SERVER");
    return env && *env ? env : "its default address";
}

}  // namespace

PulseLoop::Lock::Lock(const PulseLoop& pulse)
    : loop_(pulse.loop_ && !pa_threaded_mainloop_in_thread(pulse.loop_) ? pulse.loop_ : nullptr) {
    if (loop_) pa_threaded_mainloop_lock(loop_);
}

PulseLoop::Lock::~Lock() {
    if (loop_) pa_threaded_mainloop_unlock(loop_);
}

PulseLoop::~PulseLoop() {
    Stop();
}

bool PulseLoop::Start(std::string& error) {
    if (loop_) return true;
    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
        if (loop_) pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        error = "Cannot start the sound thread";
        return false;
    }
    return true;
}

void PulseLoop::Stop() {
    if (!loop_) return;
    {
        Lock lock(*this);
        Disconnect();
    }
    if (pa_threaded_mainloop_in_thread(loop_)) {
        // That thread cannot stop itself: another one ends it after the callback.
        std::thread([loop = loop_] {
            pa_threaded_mainloop_stop(loop);
            pa_threaded_mainloop_free(loop);
        }).detach();
    } else {
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }
    loop_ = nullptr;
}

pa_mainloop_api* PulseLoop::Api() const {
    return pa_threaded_mainloop_get_api(loop_);
}

bool PulseLoop::Ready() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseLoop::Connect(pa_context_notify_cb_t onState, void* data, std::string& error) {
    Disconnect();
    server_ = ServerName();
    context_ = pa_context_new(Api(), "Parlen Maker");
    if (!context_) {
        error = "Cannot create a sound server connection";
        return false;
    }
    pa_context_set_state_callback(context_, onState, data);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        const int code = pa_context_errno(context_);
        error = ConnectFailure(code ? pa_strerror(code) : "no answer");
        Disconnect();
        return false;
    }
    return true;
}

void PulseLoop::Connected() {
    const char* server = context_ ? pa_context_get_server(context_) : nullptr;
    if (server && *server) server_ = server;
}

void PulseLoop::Disconnect() {
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

std::string PulseLoop::Why() const {
    return context_ ? pa_strerror(pa_context_errno(context_)) : "not connected";
}

std::string PulseLoop::ConnectFailure(const std::string& cause) const {
    return "Cannot connect to the sound server at " + server_ + ": " + cause;
}

#include "platform/service/PulseLoop.h"

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
    context_ = pa_context_new(Api(), "Parlen Maker");
    if (!context_) {
        error = "Cannot create a sound server connection";
        return false;
    }
    pa_context_set_state_callback(context_, onState, data);
    const bool ok = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                    WaitFor(kConnectTimeoutUs,
                            [this] {
                                const pa_context_state_t s = pa_context_get_state(context_);
                                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                            }) &&
                    Ready();
    if (!ok) {
        const int code = pa_context_errno(context_);
        error = "Cannot connect to the sound server at " + ServerName() + ": " +
                (code ? pa_strerror(code) : "no answer");
        Disconnect();
        return false;
    }
    const char* server = pa_context_get_server(context_);
    server_ = server && *server ? server : ServerName();
    return true;
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

bool PulseLoop::WaitFor(pa_usec_t timeoutUs, const std::function<bool()>& done) {
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer{loop_};
    pa_mainloop_api* api = Api();
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, timeoutUs);
    pa_time_event* event = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* t = static_cast<Timer*>(data);
            t->expired = true;
            pa_threaded_mainloop_signal(t->loop, 0);
        },
        &timer);
    while (!done() && !timer.expired) pa_threaded_mainloop_wait(loop_);
    api->time_free(event);
    return done();
}

bool PulseLoop::Finish(pa_operation* op) {
    if (!op) return false;
    const bool done = WaitFor(kOperationTimeoutUs,
                              [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    const bool ok = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return ok;
}

void PulseLoop::Signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

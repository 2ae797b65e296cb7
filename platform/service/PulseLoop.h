#pragma once
// The libpulse plumbing under the sound device: a threaded main loop started on
// first use, one connection to the sound server, and waits on the loop that a server
// which stops answering cannot hang.
//
// Apart from Start and Stop, every call is made under the loop's lock: through a
// Lock, or inside a libpulse callback, which runs on the loop thread with the lock
// held.
#include <pulse/pulseaudio.h>

#include <functional>
#include <string>

class PulseLoop {
  public:
    // How long a connection and a single request may take before giving up.
    static constexpr pa_usec_t kConnectTimeoutUs = 3000000;
    static constexpr pa_usec_t kOperationTimeoutUs = 1000000;

    // Holds the loop's lock; on the loop thread itself it is held already, and
    // before Start there is nothing to lock.
    class Lock {
      public:
        explicit Lock(const PulseLoop& pulse);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    PulseLoop() = default;
    ~PulseLoop();
    PulseLoop(const PulseLoop&) = delete;
    PulseLoop& operator=(const PulseLoop&) = delete;

    // Starts the loop thread unless it runs; false with the reason when it cannot.
    bool Start(std::string& error);
    // Disconnects and ends the loop thread. Called on that thread itself (a
    // callback released the last reference), another thread ends it once the
    // callback returns.
    void Stop();

    pa_mainloop_api* Api() const;
    pa_context* Context() const { return context_; }
    bool Ready() const;
    // Connects anew (a previous connection is dropped), waiting a bounded time;
    // onState follows the connection's state from then on.
    bool Connect(pa_context_notify_cb_t onState, void* data, std::string& error);
    void Disconnect();
    // The server connected to, for messages.
    const std::string& Server() const { return server_; }
    // The connection's last failure as text.
    std::string Why() const;

    // Waits, releasing the lock meanwhile, until done() holds or the time is up.
    bool WaitFor(pa_usec_t timeoutUs, const std::function<bool()>& done);
    // Waits for an operation to complete and releases it; false when it failed,
    // did not start or did not complete in time.
    bool Finish(pa_operation* op);
    // Wakes a waiter; for callbacks that end what it waits for.
    void Signal();

  private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string server_;
};

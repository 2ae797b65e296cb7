#pragma once
// The libpulse plumbing under the sound device: a threaded main loop started on
// first use and one connection to the sound server. Nothing here waits for the
// server: a connection is started and its outcome arrives on the loop thread, so a
// server that does not answer cannot hold the caller.
//
// Apart from Start and Stop, every call is made under the loop's lock: through a
// Lock, or inside a libpulse callback, which runs on the loop thread with the lock
// held.
#include <pulse/pulseaudio.h>

#include <string>

class PulseLoop {
  public:
    // How long a connection may take before its owner gives up on it.
    static constexpr pa_usec_t kConnectTimeoutUs = 3000000;

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
    // Starts connecting anew (a previous connection is dropped) and returns at once;
    // onState follows the connection's state from then on. False, with the reason,
    // only when the connection failed at once (no socket at the address).
    bool Connect(pa_context_notify_cb_t onState, void* data, std::string& error);
    // The connection became ready: Server() names the server it reached.
    void Connected();
    void Disconnect();
    // The server connected to (or being connected to), for messages.
    const std::string& Server() const { return server_; }
    // The connection's last failure as text.
    std::string Why() const;
    // "Cannot connect to the sound server at ...: cause".
    std::string ConnectFailure(const std::string& cause) const;

  private:
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string server_;
};

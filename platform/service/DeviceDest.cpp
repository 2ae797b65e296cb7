#include "platform/service/DeviceDest.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr pa_usec_t kPollUs = 5000;
constexpr pa_usec_t kConnectTimeoutUs = 3000000;
constexpr pa_usec_t kOperationTimeoutUs = 1000000;

class LoopLock {
  public:
    // On the main-loop thread itself the lock is held already.
    explicit LoopLock(pa_threaded_mainloop* loop)
        : loop_(loop && !pa_threaded_mainloop_in_thread(loop) ? loop : nullptr) {
        if (loop_) pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock() {
        if (loop_) pa_threaded_mainloop_unlock(loop_);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

// Waits on the main loop (lock held, released while waiting) until done() holds or
// the time is up; a server that stops answering must not hang the caller.
template <class Done>
bool WaitFor(pa_threaded_mainloop* loop, pa_usec_t timeoutUs, Done done) {
    struct Timer {
        pa_threaded_mainloop* loop;
        bool expired = false;
    } timer{loop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
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
    while (!done() && !timer.expired) pa_threaded_mainloop_wait(loop);
    api->time_free(event);
    return done();
}

std::string ServerName() {
    const char* env = std::getenv("PULSE_SERVER");
    return env && *env ? env : "its default address";
}

}  // namespace

// Holds the api mutex and the main-loop lock for one public call. Marks that ran
// are destroyed only after both are released: their captures may hold the last
// reference to an engine, whose release calls back into this destination.
class DeviceDest::ApiScope {
  public:
    explicit ApiScope(DeviceDest* d) : d_(d), api_(d->api_), lock_(d->loop_) {}
    ~ApiScope() { spent_ = std::move(d_->spent_); }
    ApiScope(const ApiScope&) = delete;
    ApiScope& operator=(const ApiScope&) = delete;

  private:
    DeviceDest* d_;
    Calls spent_;  // destroyed last
    std::lock_guard<std::mutex> api_;
    LoopLock lock_;
};

DeviceDest::DeviceDest() = default;

DeviceDest::~DeviceDest() {
    Teardown();
}

HRESULT DeviceDest::CustomMessage(DWORD, const void*) {
    return E_NOTIMPL;
}

HRESULT DeviceDest::DeviceNumGet(DWORD* device) {
    if (!device) return E_POINTER;
    std::lock_guard guard(api_);
    *device = deviceNum_;
    return S_OK;
}

HRESULT DeviceDest::DeviceNumSet(DWORD device) {
    std::lock_guard guard(api_);
    deviceNum_ = device;
    return S_OK;
}

HRESULT DeviceDest::Open(unsigned sampleRate) {
    if (sampleRate == 0 || sampleRate > PA_RATE_MAX) return E_INVALIDARG;
    Calls spent;  // destroyed after the locks
    std::lock_guard guard(api_);
    if (!loop_) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
            if (loop_) pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
            lastError_ = "Cannot start the sound thread";
            return E_OUTOFMEMORY;
        }
    }
    LoopLock lock(loop_);
    LeaveSpent leave{this, spent};
    std::string error;
    if (!ConnectLocked(error)) {
        lastError_ = error;
        return TTSERR_NOSOUNDSERVER;
    }
    if (StreamUsableLocked() && rate_ == sampleRate) return S_OK;
    // A new rate needs a new stream; what the old one still held is dropped, and its
    // marks run now so that nobody waits for them forever.
    RunAllMarksLocked();
    DropStreamLocked();
    if (!CreateStreamLocked(sampleRate, error)) {
        lastError_ = error;
        DropStreamLocked();
        return TTSERR_NOSOUNDSERVER;
    }
    failed_ = false;
    return S_OK;
}

bool DeviceDest::ConnectLocked(std::string& error) {
    if (context_ && !failed_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
    DropStreamLocked();
    if (context_) {
        if (poll_) pa_threaded_mainloop_get_api(loop_)->time_free(poll_);
        poll_ = nullptr;
        pollArmed_ = false;
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Parlen Maker");
    if (!context_) {
        error = "Cannot create a sound server connection";
        return false;
    }
    pa_context_set_state_callback(context_, &DeviceDest::ContextStateCb, this);
    bool ok = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    if (ok) {
        ok = WaitFor(loop_, kConnectTimeoutUs,
                     [this] {
                         pa_context_state_t s = pa_context_get_state(context_);
                         return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                     }) &&
             pa_context_get_state(context_) == PA_CONTEXT_READY;
    }
    if (ok) {
        const char* server = pa_context_get_server(context_);
        server_ = server && *server ? server : ServerName();
    } else {
        int code = pa_context_errno(context_);
        error = "Cannot connect to the sound server at " + ServerName() + ": " +
                (code ? pa_strerror(code) : "no answer");
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
        return false;
    }
    failed_ = false;
    return true;
}

bool DeviceDest::CreateStreamLocked(unsigned rate, std::string& error) {
    pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
    stream_ = pa_stream_new(context_, "Speech", &format, nullptr);
    if (!stream_) {
        error =
            std::string("Cannot create a sound stream: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    pa_stream_set_state_callback(stream_, &DeviceDest::StreamStateCb, this);
    pa_stream_set_write_callback(stream_, &DeviceDest::StreamWriteCb, this);
    pa_stream_set_started_callback(stream_, &DeviceDest::StreamStartedCb, this);
    pa_stream_set_underflow_callback(stream_, &DeviceDest::StreamStartedCb, this);
    const uint32_t bytesPerMs = rate * 2 / 1000;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = bytesPerMs * kServerBufferMs;
    // A small start threshold; EndOfData starts shorter ends at once.
    attr.prebuf = bytesPerMs * 10;  // above the lead-in
    attr.minreq = bytesPerMs * 5;
    attr.fragsize = static_cast<uint32_t>(-1);
    auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    bool ok = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) >= 0 &&
              WaitFor(loop_, kConnectTimeoutUs,
                      [this] {
                          pa_stream_state_t s = pa_stream_get_state(stream_);
                          return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
                      }) &&
              pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (!ok) {
        error =
            std::string("Cannot open the sound device: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    rate_ = rate;
    queue_.clear();
    pushed_ = written_;
    offset_ = static_cast<int64_t>(written_);
    heard_ = written_;
    paused_ = false;
    endOfData_ = false;
    leadIn_ = true;
    return true;
}

void DeviceDest::DropStreamLocked() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_started_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    if (timing_) {
        pa_operation_cancel(timing_);
        pa_operation_unref(timing_);
        timing_ = nullptr;
    }
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    queue_.clear();
    pushed_ = written_;
    heard_ = std::max(heard_, written_);
}

void DeviceDest::Teardown() {
    if (!loop_) return;
    // Taken out under the lock, destroyed after it (their captures may hold engines).
    std::multimap<uint64_t, std::function<void()>> marks;
    Calls spent;
    std::function<void()> onRoom;
    {
        LoopLock lock(loop_);
        marks = std::move(marks_);
        spent = std::move(spent_);
        onRoom = std::move(onRoom_);
        marks_.clear();
        onRoom_ = nullptr;
        DropStreamLocked();
        if (poll_) pa_threaded_mainloop_get_api(loop_)->time_free(poll_);
        poll_ = nullptr;
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    if (pa_threaded_mainloop_in_thread(loop_)) {
        // Released by a mark's last reference on the main-loop thread: that thread
        // cannot stop itself, so another one ends it once this callback returns.
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

bool DeviceDest::WaitLocked(pa_operation* op) {
    if (!op) return false;
    bool done = WaitFor(loop_, kOperationTimeoutUs,
                        [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    bool ok = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return ok;
}

bool DeviceDest::StreamUsableLocked() const {
    return stream_ && !failed_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

size_t DeviceDest::Room() {
    ApiScope scope(this);
    lastRoom_ = RoomLocked();
    return lastRoom_;
}

size_t DeviceDest::RoomLocked() {
    // Without a stream, Write reports the failure; waiting for room would hang.
    unsigned rate = rate_ ? rate_ : 22050;
    const uint64_t ahead = uint64_t{rate} * kAheadMs / 1000;
    if (!StreamUsableLocked()) return ahead;
    const uint64_t unheard = written_ - std::min(written_, HeardLocked());
    return unheard >= ahead ? 0 : static_cast<size_t>(ahead - unheard);
}

HRESULT DeviceDest::Write(const int16_t* frames, size_t count) {
    if (count && !frames) return E_POINTER;
    ApiScope scope(this);
    if (!StreamUsableLocked()) {
        if (!failed_) lastError_ = "The sound device is not open";
        return AUDERR_WRITEFAILED;
    }
    queue_.insert(queue_.end(), frames, frames + count);
    written_ += count;
    PushLocked();
    lastRoom_ = RoomLocked();
    ArmPollLocked();
    return S_OK;
}

void DeviceDest::PushLocked() {
    if (!StreamUsableLocked()) return;
    size_t writable = pa_stream_writable_size(stream_) / 2;
    if (leadIn_ && !queue_.empty()) {
        // A stream that starts on a running sink loses its first few ms to the
        // sink's catching up; let that be silence outside the time line.
        leadIn_ = false;
        const size_t lead = std::min<size_t>(writable, rate_ * kLeadInMs / 1000);
        std::vector<int16_t> zeros(lead, 0);
        if (lead &&
            pa_stream_write(stream_, zeros.data(), lead * 2, nullptr, 0, PA_SEEK_RELATIVE) == 0) {
            offset_ -= static_cast<int64_t>(lead);
            writable -= lead;
        }
    }
    size_t frames = std::min(writable, queue_.size());
    if (frames > 0) {
        std::vector<int16_t> chunk(queue_.begin(), queue_.begin() + static_cast<long>(frames));
        if (pa_stream_write(stream_, chunk.data(), frames * 2, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            FailLocked(std::string("Cannot write to the sound device: ") +
                       pa_strerror(pa_context_errno(context_)));
            return;
        }
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(frames));
        pushed_ += frames;
    }
    if (endOfData_ && queue_.empty()) {
        // Less than the start threshold may be waiting in the server: start it now.
        endOfData_ = false;
        if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(op);
        RequestTimingLocked();
    }
}

uint64_t DeviceDest::WrittenFrames() {
    ApiScope scope(this);
    return written_;
}

uint64_t DeviceDest::HeardFrames() {
    ApiScope scope(this);
    return HeardLocked();
}

uint64_t DeviceDest::HeardLocked() {
    if (!StreamUsableLocked()) return heard_;
    // Our own reading of the server's timing report: the sample being heard is the
    // server's read position minus what the sink still holds, moved on by the time
    // since the report. libpulse's interpolation runs on while the stream waits
    // for its start threshold, and a starved stream's report never counts the
    // sink's last block as played; this one handles both.
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (!info || info->read_index_corrupt) return heard_;
    const int64_t rate = rate_;
    const auto framesOf = [rate](int64_t usec) { return usec * rate / int64_t{PA_USEC_PER_SEC}; };
    const int64_t age = int64_t(pa_timeval_age(&info->timestamp) + info->transport_usec);
    const int64_t sink = int64_t(info->sink_usec);
    int64_t ran = 0;
    if (!paused_) ran = info->playing ? age : std::min(age, sink);
    int64_t pos = info->read_index / 2 - framesOf(sink) + framesOf(ran);
    if (!info->write_index_corrupt) pos = std::min(pos, info->write_index / 2);
    pos += offset_;
    pos = std::min<int64_t>(pos, static_cast<int64_t>(pushed_));
    if (pos > static_cast<int64_t>(heard_)) heard_ = static_cast<uint64_t>(pos);
    if (heard_ >= pushed_ && queue_.empty()) leadIn_ = true;  // drained: the next start is cold
    return heard_;
}

void DeviceDest::RequestTimingLocked() {
    if (!StreamUsableLocked()) return;
    if (timing_) {
        if (pa_operation_get_state(timing_) == PA_OPERATION_RUNNING) return;
        pa_operation_unref(timing_);
    }
    timing_ = pa_stream_update_timing_info(stream_, nullptr, nullptr);
}

void DeviceDest::AddMark(uint64_t frame, std::function<void()> onHeard) {
    if (!onHeard) return;
    ApiScope scope(this);
    marks_.emplace(frame, std::move(onHeard));
    if (!StreamUsableLocked()) {
        // Nothing will ever be heard: do not keep anybody waiting.
        RunAllMarksLocked();
        return;
    }
    RunDueMarksLocked();
    ArmPollLocked();
}

void DeviceDest::RunDueMarksLocked() {
    if (paused_ || marks_.empty()) return;
    const uint64_t heard = HeardLocked();
    while (!marks_.empty() && marks_.begin()->first <= heard) {
        spent_.push_back(std::move(marks_.begin()->second));
        marks_.erase(marks_.begin());
        try {
            spent_.back()();
        } catch (...) {
            // A mark only queues work; nothing may unwind into the sound thread.
        }
    }
}

void DeviceDest::RunAllMarksLocked() {
    auto marks = std::move(marks_);
    marks_.clear();
    for (auto& [frame, call] : marks) {
        spent_.push_back(std::move(call));
        try {
            spent_.back()();
        } catch (...) {
        }
    }
}

void DeviceDest::EndOfData() {
    ApiScope scope(this);
    if (!StreamUsableLocked()) return;
    endOfData_ = true;
    PushLocked();
}

HRESULT DeviceDest::Pause() {
    ApiScope scope(this);
    if (!StreamUsableLocked()) {
        paused_ = true;
        return S_OK;
    }
    if (!WaitLocked(pa_stream_cork(stream_, 1, &DeviceDest::SuccessCb, this))) {
        lastError_ = std::string("Cannot pause the sound device: ") +
                     pa_strerror(pa_context_errno(context_));
        return E_FAIL;
    }
    paused_ = true;
    WaitLocked(pa_stream_update_timing_info(stream_, &DeviceDest::SuccessCb, this));
    return S_OK;
}

HRESULT DeviceDest::Resume() {
    ApiScope scope(this);
    if (!StreamUsableLocked()) {
        paused_ = false;
        return S_OK;
    }
    if (!WaitLocked(pa_stream_cork(stream_, 0, &DeviceDest::SuccessCb, this))) {
        lastError_ = std::string("Cannot resume the sound device: ") +
                     pa_strerror(pa_context_errno(context_));
        return E_FAIL;
    }
    WaitLocked(pa_stream_update_timing_info(stream_, &DeviceDest::SuccessCb, this));
    paused_ = false;
    RunDueMarksLocked();
    ArmPollLocked();
    NotifyRoomLocked();
    return S_OK;
}

HRESULT DeviceDest::Reset() {
    ApiScope scope(this);
    marks_.clear();
    queue_.clear();
    endOfData_ = false;
    pushed_ = written_;
    if (!StreamUsableLocked()) {
        paused_ = false;
        heard_ = written_;
        return S_OK;
    }
    HRESULT hr = S_OK;
    if (!WaitLocked(pa_stream_flush(stream_, &DeviceDest::SuccessCb, this))) {
        lastError_ = std::string("Cannot reset the sound device: ") +
                     pa_strerror(pa_context_errno(context_));
        hr = E_FAIL;
    }
    // Nothing is left to hold, and the next text must be heard: a reset ends a pause.
    if (paused_ && WaitLocked(pa_stream_cork(stream_, 0, &DeviceDest::SuccessCb, this)))
        paused_ = false;
    // The server's write position went back to its read position; frames written
    // from now on land there.
    if (WaitLocked(pa_stream_update_timing_info(stream_, &DeviceDest::SuccessCb, this))) {
        const pa_timing_info* info = pa_stream_get_timing_info(stream_);
        if (info && !info->write_index_corrupt)
            offset_ = static_cast<int64_t>(written_) - info->write_index / 2;
    }
    leadIn_ = true;
    lastRoom_ = 0;
    NotifyRoomLocked();
    return hr;
}

void DeviceDest::SetRoomCallback(std::function<void()> onRoom) {
    ApiScope scope(this);
    onRoom_ = std::move(onRoom);
}

std::string DeviceDest::LastError() {
    ApiScope scope(this);
    return lastError_;
}

void DeviceDest::ArmPollLocked() {
    if (!context_ || paused_ || pollArmed_ || !StreamUsableLocked()) return;
    if (marks_.empty() && HeardLocked() >= written_) return;
    const pa_usec_t when = pa_rtclock_now() + kPollUs;
    if (!poll_) {
        poll_ = pa_context_rttime_new(context_, when, &DeviceDest::PollCb, this);
        if (!poll_) return;
    } else {
        pa_context_rttime_restart(context_, poll_, when);
    }
    pollArmed_ = true;
}

void DeviceDest::OnPoll() {
    pollArmed_ = false;
    if (++polls_ % 2 == 0) RequestTimingLocked();
    RunDueMarksLocked();
    NotifyRoomLocked();
    ArmPollLocked();
}

void DeviceDest::NotifyRoomLocked() {
    if (!onRoom_) return;
    const size_t room = RoomLocked();
    const size_t step = (rate_ ? rate_ : 22050) / 100;  // 10 ms
    if (room == 0 || (lastRoom_ != 0 && room < lastRoom_ + step)) return;
    lastRoom_ = room;
    try {
        onRoom_();
    } catch (...) {
    }
}

void DeviceDest::FailLocked(const std::string& what) {
    if (failed_) return;
    failed_ = true;
    lastError_ = what;
    queue_.clear();
    RunAllMarksLocked();
    if (onRoom_) {
        try {
            onRoom_();  // a waiting worker must see the failure
        } catch (...) {
        }
    }
}

void DeviceDest::ContextStateCb(pa_context* c, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    Calls spent;
    LeaveSpent leave{dest, spent};
    pa_context_state_t state = pa_context_get_state(c);
    // A killed server or a closed socket: the connection ends with its cause.
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && c == dest->context_ &&
        dest->stream_)
        dest->FailLocked("Lost the connection to the sound server at " + dest->server_ + ": " +
                         pa_strerror(pa_context_errno(c)));
    pa_threaded_mainloop_signal(dest->loop_, 0);
}

void DeviceDest::StreamStateCb(pa_stream* s, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    Calls spent;
    LeaveSpent leave{dest, spent};
    pa_stream_state_t state = pa_stream_get_state(s);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && dest->rate_ &&
        s == dest->stream_ && dest->context_)
        dest->FailLocked(std::string("The sound device stopped: ") +
                         pa_strerror(pa_context_errno(dest->context_)));
    pa_threaded_mainloop_signal(dest->loop_, 0);
}

void DeviceDest::StreamWriteCb(pa_stream*, size_t, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    Calls spent;
    LeaveSpent leave{dest, spent};
    dest->PushLocked();
}

void DeviceDest::StreamStartedCb(pa_stream*, void* self) {
    // Playback started or starved: the clock needs a fresh report rather than one
    // from before the change.
    static_cast<DeviceDest*>(self)->RequestTimingLocked();
}

void DeviceDest::PollCb(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    Calls spent;  // destroyed after everything else: it may end this destination
    {
        LeaveSpent leave{dest, spent};
        dest->OnPoll();
    }
}

void DeviceDest::SuccessCb(pa_stream*, int, void* self) {
    pa_threaded_mainloop_signal(static_cast<DeviceDest*>(self)->loop_, 0);
}

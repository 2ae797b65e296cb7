#include "platform/device/DeviceDest.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <vector>

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
    {
        std::lock_guard guard(api_);
        if (!pulse_.Start(lastError_)) return E_OUTOFMEMORY;
    }
    ApiScope scope(marks_, this);
    if (rate_ == sampleRate && AcceptsLocked()) return S_OK;
    // A new rate needs a new stream; what the old one still held is dropped, and its
    // marks run now so that nobody waits for them forever.
    marks_.RunAll();
    DropStreamLocked();
    rate_ = sampleRate;
    StartTimeLineLocked();
    pa_context* context = pulse_.Context();
    const bool reconnect =
        failed_ || !context || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
    failed_ = false;
    connecting_ = true;
    connectAt_ = pa_rtclock_now();
    std::string error;
    bool ok = true;
    if (reconnect) {
        if (poll_) pulse_.Api()->time_free(poll_);
        poll_ = nullptr;
        pollArmed_ = false;
        // Its outcome arrives in ContextStateCb, which makes the stream.
        ok = pulse_.Connect(&DeviceDest::ContextStateCb, this, error);
    } else if (pulse_.Ready()) {
        ok = CreateStreamLocked(sampleRate, error);
    }
    if (!ok) {
        // Failed at once (no socket at the address): the caller can tell why now.
        lastError_ = error;
        DropStreamLocked();
        connecting_ = false;
        failed_ = true;
        return TTSERR_NOSOUNDSERVER;
    }
    ArmPollLocked();  // the connection's deadline
    return S_OK;
}

bool DeviceDest::CreateStreamLocked(unsigned rate, std::string& error) {
    pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
    stream_ = pa_stream_new(pulse_.Context(), "Speech", &format, nullptr);
    if (!stream_) {
        error = "Cannot create a sound stream: " + pulse_.Why();
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
    // Ready or not, it tells StreamStateCb.
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error = "Cannot open the sound device: " + pulse_.Why();
        return false;
    }
    return true;
}

void DeviceDest::StartTimeLineLocked() {
    // The new stream's first frame is the time line's next one.
    queue_.clear();
    pushed_ = written_;
    offset_ = static_cast<int64_t>(written_);
    heard_ = std::max(heard_, written_);
    paused_ = false;
    corkWanted_ = false;
    endOfData_ = false;
    leadIn_ = true;
}

void DeviceDest::OnStreamReadyLocked() {
    connecting_ = false;
    // A Pause that came while it was being made holds it before its first frame.
    if (corkWanted_) CorkLocked(true);
    PushLocked();
    ArmPollLocked();
}

void DeviceDest::DropStreamLocked() {
    uncorking_ = resetting_ = unanswered_ = 0;  // their answers are cancelled with it
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
    // Taken out under the lock, destroyed after it (their captures may hold engines).
    MarkQueue::Calls spent;
    std::function<void()> onRoom;
    std::function<void(HRESULT, const std::string&)> onFailure;
    {
        PulseLoop::Lock lock(pulse_);
        marks_.Drop();
        spent = marks_.TakeSpent();
        onRoom = std::move(onRoom_);
        onRoom_ = nullptr;
        onFailure = std::move(onFailure_);
        onFailure_ = nullptr;
        DropStreamLocked();
        if (poll_) pulse_.Api()->time_free(poll_);
        poll_ = nullptr;
    }
    pulse_.Stop();
}

bool DeviceDest::StreamUsableLocked() const {
    return stream_ && !failed_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

size_t DeviceDest::Room() {
    ApiScope scope(marks_, this);
    lastRoom_ = RoomLocked();
    return lastRoom_;
}

size_t DeviceDest::RoomLocked() {
    // Without a stream, Write reports the failure; waiting for room would hang.
    unsigned rate = rate_ ? rate_ : 22050;
    const uint64_t ahead = uint64_t{rate} * kAheadMs / 1000;
    if (!AcceptsLocked()) return ahead;
    const uint64_t unheard = written_ - std::min(written_, HeardLocked());
    return unheard >= ahead ? 0 : static_cast<size_t>(ahead - unheard);
}

HRESULT DeviceDest::Write(const int16_t* frames, size_t count) {
    if (count && !frames) return E_POINTER;
    ApiScope scope(marks_, this);
    if (!AcceptsLocked()) {
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
    // After a reset, frames wait until the server reports where its stream goes on.
    if (!StreamUsableLocked() || resetting_) return;
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
            FailLocked("Cannot write to the sound device: " + pulse_.Why());
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
    ApiScope scope(marks_, this);
    return written_;
}

uint64_t DeviceDest::HeardFrames() {
    ApiScope scope(marks_, this);
    return HeardLocked();
}

uint64_t DeviceDest::HeardLocked() {
    if (!StreamUsableLocked() || resetting_) return heard_;
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

std::optional<pa_usec_t> DeviceDest::DueInLocked(uint64_t frame) {
    const uint64_t heard = HeardLocked();
    if (heard >= frame) return 0;
    // Only a running clock reaches the frame by itself: not one held by a pause, a
    // start threshold or a starved stream, nor one stopped at what the server has.
    if (paused_ || resetting_ || !StreamUsableLocked() || frame > pushed_) return std::nullopt;
    const pa_timing_info* info = pa_stream_get_timing_info(stream_);
    if (!info || info->read_index_corrupt || !info->playing) return std::nullopt;
    if (!info->write_index_corrupt && int64_t(frame) > info->write_index / 2 + offset_)
        return std::nullopt;
    return ((frame - heard) * PA_USEC_PER_SEC + rate_ - 1) / rate_;
}

void DeviceDest::RequestTimingLocked() {
    if (!StreamUsableLocked()) return;
    if (timing_) {
        if (pa_operation_get_state(timing_) == PA_OPERATION_RUNNING) return;
        pa_operation_unref(timing_);
    }
    timing_ = pa_stream_update_timing_info(stream_, nullptr, nullptr);
    timingAsked_ = pa_rtclock_now();
}

void DeviceDest::AddMark(uint64_t frame, std::function<void()> onHeard) {
    if (!onHeard) return;
    ApiScope scope(marks_, this);
    marks_.Add(frame, std::move(onHeard));
    if (!AcceptsLocked()) {
        // Nothing will ever be heard: do not keep anybody waiting.
        marks_.RunAll();
        return;
    }
    RunDueMarksLocked();
    ArmPollLocked();
}

void DeviceDest::AddMarks(Marks marks) {
    ApiScope scope(marks_, this);
    for (auto& [frame, onHeard] : marks) marks_.Add(frame, std::move(onHeard));
    if (!AcceptsLocked()) {
        marks_.RunAll();
        return;
    }
    RunDueMarksLocked();
    ArmPollLocked();
}

void DeviceDest::RunDueMarksLocked() {
    if (!paused_ && !marks_.Empty()) marks_.RunDue(HeardLocked());
}

void DeviceDest::EndOfData() {
    ApiScope scope(marks_, this);
    if (!AcceptsLocked()) return;
    endOfData_ = true;
    PushLocked();
}

void DeviceDest::SetRoomCallback(std::function<void()> onRoom) {
    ApiScope scope(marks_, this);
    onRoom_ = std::move(onRoom);
}

void DeviceDest::SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) {
    ApiScope scope(marks_, this);
    onFailure_ = std::move(onFailure);
}

std::string DeviceDest::LastError() {
    ApiScope scope(marks_, this);
    return lastError_;
}

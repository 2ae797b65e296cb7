// The sound device on its main-loop thread: the clock poll that runs marks and
// wakes the writer, and the libpulse callbacks, among them the ones that notice a
// lost server. All of it runs with the main-loop lock held.
#include <pulse/rtclock.h>

#include <algorithm>
#include <optional>

#include "platform/device/DeviceDest.h"

namespace {
// The clock is read this often while anything waits to be heard.
constexpr pa_usec_t kPollUs = 5000;
// A fresh timing report is asked for this often.
constexpr pa_usec_t kTimingUs = 10000;
// The shortest wake-up: a mark due sooner runs this late at most, and a clock that
// falls short of its own estimate by a frame or two cannot make the loop spin.
constexpr pa_usec_t kMinWakeUs = 200;
// How often a connection or a request on its way is looked after while nothing plays.
constexpr pa_usec_t kWatchUs = 50000;
}  // namespace

void DeviceDest::ArmPollLocked() {
    if (failed_ || !pulse_.Context()) return;
    const bool playing =
        !paused_ && StreamUsableLocked() && (!marks_.Empty() || HeardLocked() < written_);
    if (!playing && !connecting_ && unanswered_ == 0) return;
    // The wake-up comes when the next mark is due by the running clock, so that it
    // runs when its frame is heard rather than up to a poll later.
    pa_usec_t delay = playing ? kPollUs : kWatchUs;
    if (const std::optional<uint64_t> next = marks_.NextFrame(); playing && next)
        if (const std::optional<pa_usec_t> due = DueInLocked(*next))
            delay = std::clamp(*due, kMinWakeUs, kPollUs);
    const pa_usec_t when = pa_rtclock_now() + delay;
    if (pollArmed_ && when >= pollAt_) return;
    if (!poll_) {
        poll_ = pa_context_rttime_new(pulse_.Context(), when, &DeviceDest::PollCb, this);
        if (!poll_) return;
    } else {
        pa_context_rttime_restart(pulse_.Context(), poll_, when);
    }
    pollArmed_ = true;
    pollAt_ = when;
}

void DeviceDest::OnPoll() {
    pollArmed_ = false;
    const pa_usec_t now = pa_rtclock_now();
    if (connecting_ && now - connectAt_ > PulseLoop::kConnectTimeoutUs) {
        // A frozen server takes the connection but never answers it.
        FailLocked(stream_ ? "Cannot open the sound device: the sound server at " +
                                 pulse_.Server() + " does not answer"
                           : pulse_.ConnectFailure("no answer"));
        return;
    }
    const pa_usec_t stall = pa_usec_t{kStallMs} * PA_USEC_PER_MSEC;
    const bool timingStalled = timing_ && pa_operation_get_state(timing_) == PA_OPERATION_RUNNING &&
                               now - timingAsked_ > stall;
    if (timingStalled || (unanswered_ && now - answeredAt_ > stall)) {
        // A frozen server keeps the connection open but plays nothing more.
        FailLocked("The sound server at " + pulse_.Server() + " stopped answering");
        return;
    }
    if (!paused_ && now - timingAsked_ >= kTimingUs) RequestTimingLocked();
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
    connecting_ = false;
    lastError_ = what;
    queue_.clear();
    // Told first: the text still being heard ends with this failure, not as if heard.
    if (onFailure_) {
        try {
            onFailure_(AUDERR_WRITEFAILED, what);
        } catch (...) {
        }
    }
    marks_.RunAll();
    if (onRoom_) {
        try {
            onRoom_();  // a waiting worker must see the failure
        } catch (...) {
        }
    }
}

void DeviceDest::ContextStateCb(pa_context* c, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    if (c != dest->pulse_.Context()) return;
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_READY) {
        dest->pulse_.Connected();
        std::string error;
        if (dest->connecting_ && !dest->stream_ && !dest->CreateStreamLocked(dest->rate_, error))
            dest->FailLocked(error);
        return;
    }
    // A killed server, a closed socket, or a server that refused: the connection
    // ends with its cause.
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) &&
        (dest->stream_ || dest->connecting_)) {
        const std::string cause = pa_strerror(pa_context_errno(c));
        dest->FailLocked(dest->connecting_ && !dest->stream_
                             ? dest->pulse_.ConnectFailure(cause)
                             : "Lost the connection to the sound server at " +
                                   dest->pulse_.Server() + ": " + cause);
    }
}

void DeviceDest::StreamStateCb(pa_stream* s, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    if (s != dest->stream_ || !dest->pulse_.Context()) return;
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY && dest->connecting_) {
        dest->OnStreamReadyLocked();
    } else if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        dest->FailLocked(std::string(dest->connecting_ ? "Cannot open the sound device: "
                                                       : "The sound device stopped: ") +
                         dest->pulse_.Why());
    }
}

void DeviceDest::StreamWriteCb(pa_stream*, size_t, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    dest->PushLocked();
}

void DeviceDest::StreamStartedCb(pa_stream*, void* self) {
    // Playback started or starved: the clock needs a fresh report rather than one
    // from before the change.
    static_cast<DeviceDest*>(self)->RequestTimingLocked();
}

void DeviceDest::PollCb(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    // Its marks are destroyed last: one may hold the last reference to this destination.
    CallbackScope scope(dest->marks_);
    dest->OnPoll();
}

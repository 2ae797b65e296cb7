// The sound device on its main-loop thread: the clock poll that runs marks and
// wakes the writer, and the libpulse callbacks, among them the ones that notice a
// lost server. All of it runs with the main-loop lock held.
#include <pulse/rtclock.h>

#include <algorithm>
#include <optional>

#include "platform/service/DeviceDest.h"

namespace {
// The clock is read this often while anything waits to be heard.
constexpr pa_usec_t kPollUs = 5000;
// A fresh timing report is asked for this often.
constexpr pa_usec_t kTimingUs = 10000;
// The shortest wake-up: a mark due sooner runs this late at most, and a clock that
// falls short of its own estimate by a frame or two cannot make the loop spin.
constexpr pa_usec_t kMinWakeUs = 200;
}  // namespace

void DeviceDest::ArmPollLocked() {
    if (paused_ || !StreamUsableLocked()) return;
    if (marks_.Empty() && HeardLocked() >= written_) return;
    // The wake-up comes when the next mark is due by the running clock, so that it
    // runs when its frame is heard rather than up to a poll later.
    pa_usec_t delay = kPollUs;
    if (const std::optional<uint64_t> next = marks_.NextFrame())
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
    if (timing_ && pa_operation_get_state(timing_) == PA_OPERATION_RUNNING &&
        now - timingAsked_ > pa_usec_t{kStallMs} * PA_USEC_PER_MSEC) {
        // A frozen server keeps the connection open but plays nothing more.
        FailLocked("The sound server at " + pulse_.Server() + " stopped answering");
        return;
    }
    if (now - timingAsked_ >= kTimingUs) RequestTimingLocked();
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
    pa_context_state_t state = pa_context_get_state(c);
    // A killed server or a closed socket: the connection ends with its cause.
    if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) &&
        c == dest->pulse_.Context() && dest->stream_)
        dest->FailLocked("Lost the connection to the sound server at " + dest->pulse_.Server() +
                         ": " + pa_strerror(pa_context_errno(c)));
    dest->pulse_.Signal();
}

void DeviceDest::StreamStateCb(pa_stream* s, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    pa_stream_state_t state = pa_stream_get_state(s);
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && dest->rate_ &&
        s == dest->stream_ && dest->pulse_.Context())
        dest->FailLocked("The sound device stopped: " + dest->pulse_.Why());
    dest->pulse_.Signal();
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

void DeviceDest::SuccessCb(pa_stream*, int, void* self) {
    static_cast<DeviceDest*>(self)->pulse_.Signal();
}

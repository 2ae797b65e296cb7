// Pause, Resume and Reset of the sound device: each acts on the destination's own
// state at once and asks the server to follow, without waiting for it; the server's
// answers arrive on the main-loop thread, which catches the device up.
#include <pulse/rtclock.h>

#include <algorithm>

#include "platform/device/DeviceDest.h"

HRESULT DeviceDest::Pause() {
    ApiScope scope(marks_, this);
    // The clock stops now, whatever the server makes of the cork: no mark runs after.
    paused_ = true;
    corkWanted_ = true;
    if (!StreamUsableLocked()) return S_OK;  // a stream still being made is corked when ready
    return CorkLocked(true) ? S_OK : E_FAIL;
}

HRESULT DeviceDest::Resume() {
    ApiScope scope(marks_, this);
    corkWanted_ = false;
    if (!StreamUsableLocked()) {
        paused_ = false;
        return S_OK;
    }
    // The clock runs again once the server has the stream playing (UncorkedCb).
    return CorkLocked(false) ? S_OK : E_FAIL;
}

HRESULT DeviceDest::Reset() {
    ApiScope scope(marks_, this);
    marks_.Drop();
    queue_.clear();
    endOfData_ = false;
    pushed_ = written_;
    heard_ = std::max(heard_, written_);  // nothing written so far is to be heard
    corkWanted_ = false;
    leadIn_ = true;
    lastRoom_ = 0;
    if (!StreamUsableLocked()) {
        // Nothing reached a stream still being made: its first frame is the next one.
        offset_ = static_cast<int64_t>(written_);
        paused_ = false;
        return S_OK;
    }
    pa_operation* flush = pa_stream_flush(stream_, &DeviceDest::FlushedCb, this);
    if (!flush) {
        lastError_ = "Cannot reset the sound device: " + pulse_.Why();
        return E_FAIL;
    }
    pa_operation_unref(flush);
    AskedLocked();
    // Nothing is left to hold, and the next text must be heard: a reset ends a pause.
    if (paused_) CorkLocked(false);
    // The server's write position goes back to its read position; frames written from
    // now on land there, and wait until the server says where that is.
    if (pa_operation* report =
            pa_stream_update_timing_info(stream_, &DeviceDest::ResetReportCb, this)) {
        pa_operation_unref(report);
        ++resetting_;
        AskedLocked();
    }
    NotifyRoomLocked();
    return S_OK;
}

bool DeviceDest::CorkLocked(bool cork) {
    pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0,
                                      cork ? &DeviceDest::CorkedCb : &DeviceDest::UncorkedCb, this);
    if (!op) {
        lastError_ = std::string(cork ? "Cannot pause" : "Cannot resume") +
                     " the sound device: " + pulse_.Why();
        return false;
    }
    pa_operation_unref(op);
    if (!cork) ++uncorking_;
    AskedLocked();
    return true;
}

void DeviceDest::AskedLocked() {
    // The watchdog counts from the last answer, or from this ask when none is due.
    if (unanswered_++ == 0) answeredAt_ = pa_rtclock_now();
    ArmPollLocked();
}

bool DeviceDest::AnsweredLocked(int ok, const char* what) {
    if (unanswered_) --unanswered_;
    answeredAt_ = pa_rtclock_now();
    if (!ok) FailLocked(std::string(what) + ": " + pulse_.Why());
    return ok && !failed_;
}

void DeviceDest::CorkedCb(pa_stream*, int ok, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    // Where the stream stopped: the clock stands there until a resume is played.
    if (dest->AnsweredLocked(ok, "Cannot pause the sound device")) dest->RequestTimingLocked();
}

void DeviceDest::UncorkedCb(pa_stream*, int ok, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    if (dest->uncorking_) --dest->uncorking_;
    if (!dest->AnsweredLocked(ok, "Cannot resume the sound device")) return;
    // A Pause after this resume, or a later resume on its way, decides instead.
    if (dest->uncorking_ || dest->corkWanted_) return;
    dest->paused_ = false;
    dest->RequestTimingLocked();
    dest->RunDueMarksLocked();
    dest->ArmPollLocked();
    dest->NotifyRoomLocked();
}

void DeviceDest::FlushedCb(pa_stream*, int ok, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    dest->AnsweredLocked(ok, "Cannot reset the sound device");
}

void DeviceDest::ResetReportCb(pa_stream* s, int ok, void* self) {
    auto* dest = static_cast<DeviceDest*>(self);
    CallbackScope scope(dest->marks_);
    if (dest->resetting_) --dest->resetting_;
    if (!dest->AnsweredLocked(ok, "Cannot reset the sound device") || dest->resetting_) return;
    // Nothing was pushed since the flush: the frames held back start at the server's
    // write position, which the flush moved back to what it had played.
    const pa_timing_info* info = pa_stream_get_timing_info(s);
    if (info && !info->write_index_corrupt)
        dest->offset_ = static_cast<int64_t>(dest->pushed_) - info->write_index / 2;
    dest->PushLocked();
    dest->ArmPollLocked();
    dest->NotifyRoomLocked();
}

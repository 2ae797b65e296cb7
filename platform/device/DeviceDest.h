#pragma once
// The sound-device destination: plays on the sound server's default sink through
// libpulse (threaded main loop, one playback stream, 16-bit mono at the rate given
// to Open).
//
// Creating it never fails: the server is reached lazily in Open, so that a machine
// without sound can still render WAV files. Synthesis is kept a bounded amount
// (kAheadMs) ahead of what is heard; written frames wait in a queue of ours until the
// server's small buffer has room, so Write never blocks. Marks run on the main-loop
// thread when the stream clock (the server's timing report: the sample being heard)
// passes their frame; the loop wakes when the next one is due by that clock.
//
// No public call waits for the server, so a server that stops answering cannot hold
// the caller (the window). Open starts connecting and making the stream and returns
// at once; frames written meanwhile wait in the queue. Pause stops the clock at once
// (no mark runs after it) and corks the stream; Resume uncorks it, and the clock runs
// again when the server says it plays. Reset drops the marks and the queue at once,
// flushes the stream and also ends a pause (nothing is left to hold, and the next
// text must be heard); frames written after it wait until the server reports where
// its flushed stream goes on. Open with another rate makes a new stream: what the old
// one had not played is dropped and its marks run at once, as they do whenever
// nothing can be heard any more (no server, connection lost), so that nobody waits
// for them.
//
// A connection lost (the server killed, its socket closed, a connection or stream not
// ready within PulseLoop::kConnectTimeoutUs, or a server that leaves a request
// unanswered for kStallMs) fails the destination: the failure callback hears of it
// first, the marks run, the room callback wakes the writer, and Write fails from then
// on with LastError naming the server and the cause. The next Open connects again.
// The main-loop plumbing is PulseLoop's; what runs on the loop thread is in
// DeviceDestThread.cpp.
#include <pulse/pulseaudio.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ComObject.h"
#include "platform/audio/AudioDest.h"
#include "platform/audio/MarkQueue.h"
#include "platform/device/PulseLoop.h"

class DeviceDest final : public TComObject<IAudioMultiMediaDevice, IParlenAudioDest> {
  public:
    // Synthesis may run this far ahead of what is heard.
    static constexpr unsigned kAheadMs = 250;
    // The server's own buffer: small, so pause and reset are heard quickly.
    static constexpr unsigned kServerBufferMs = 100;
    // Silence put before the first frame after the stream ran dry.
    static constexpr unsigned kLeadInMs = 6;
    // A server that leaves a request (a timing report, a pause, a resume, a reset)
    // unanswered this long has stopped: the connection counts as lost.
    static constexpr unsigned kStallMs = 4000;

    DeviceDest();
    ~DeviceDest() override;

    // IAudioMultiMediaDevice. There is one device, the server's default sink; the
    // number is kept for callers that read it back.
    HRESULT CustomMessage(DWORD message, const void* data) override;
    HRESULT DeviceNumGet(DWORD* device) override;
    HRESULT DeviceNumSet(DWORD device) override;

    // IParlenAudioDest
    HRESULT Open(unsigned sampleRate) override;
    size_t Room() override;
    HRESULT Write(const int16_t* frames, size_t count) override;
    uint64_t WrittenFrames() override;
    void AddMark(uint64_t frame, std::function<void()> onHeard) override;
    void AddMarks(Marks marks) override;
    void EndOfData() override;
    HRESULT Pause() override;
    HRESULT Resume() override;
    HRESULT Reset() override;
    void SetRoomCallback(std::function<void()> onRoom) override;
    std::string LastError() override;
    void SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) override;
    uint64_t HeardFrames() override;

  private:
    class ApiLock;
    using ApiScope = MarkQueue::Scope<ApiLock>;
    // A libpulse callback: the loop's lock is held already.
    struct Held {};
    using CallbackScope = MarkQueue::Scope<Held>;

    // Everything below the api mutex is touched only under the main-loop lock.
    bool CreateStreamLocked(unsigned rate, std::string& error);
    void StartTimeLineLocked();
    void OnStreamReadyLocked();
    void DropStreamLocked();
    void Teardown();
    bool StreamUsableLocked() const;
    // Write takes frames: the stream plays or is being made.
    bool AcceptsLocked() const { return !failed_ && (connecting_ || StreamUsableLocked()); }
    bool CorkLocked(bool cork);
    void AskedLocked();
    bool AnsweredLocked(int ok, const char* what);
    void PushLocked();
    uint64_t HeardLocked();
    std::optional<pa_usec_t> DueInLocked(uint64_t frame);
    void RequestTimingLocked();
    void RunDueMarksLocked();
    void ArmPollLocked();
    void OnPoll();
    void NotifyRoomLocked();
    size_t RoomLocked();
    void FailLocked(const std::string& what);

    static void ContextStateCb(pa_context* c, void* self);
    static void StreamStateCb(pa_stream* s, void* self);
    static void StreamWriteCb(pa_stream* s, size_t bytes, void* self);
    static void StreamStartedCb(pa_stream* s, void* self);
    static void PollCb(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv,
                       void* self);
    static void CorkedCb(pa_stream* s, int ok, void* self);
    static void UncorkedCb(pa_stream* s, int ok, void* self);
    static void FlushedCb(pa_stream* s, int ok, void* self);
    static void ResetReportCb(pa_stream* s, int ok, void* self);

    std::mutex api_;  // serialises the public calls; taken before the main-loop lock
    DWORD deviceNum_ = 0xFFFFFFFFu;

    PulseLoop pulse_;
    pa_stream* stream_ = nullptr;
    pa_time_event* poll_ = nullptr;
    bool pollArmed_ = false;
    pa_usec_t pollAt_ = 0;            // when the armed wake-up comes (monotonic clock)
    pa_operation* timing_ = nullptr;  // a timing report on its way
    pa_usec_t timingAsked_ = 0;       // when it was asked for (monotonic clock)
    unsigned rate_ = 0;

    uint64_t written_ = 0;       // frames accepted on the time line
    uint64_t pushed_ = 0;        // frames of the time line handed to the server
    int64_t offset_ = 0;         // time-line frame = stream frame + offset_
    uint64_t heard_ = 0;         // highest heard position reported (monotonic)
    std::deque<int16_t> queue_;  // accepted, not yet handed to the server
    MarkQueue marks_;
    bool paused_ = false;       // the clock stands still: Pause, until a Resume is played
    bool corkWanted_ = false;   // the last of Pause and Resume was Pause
    bool connecting_ = false;   // Open's connection or stream is not ready yet
    pa_usec_t connectAt_ = 0;   // when Open started it (monotonic clock)
    unsigned uncorking_ = 0;    // resumes the server has not confirmed
    unsigned resetting_ = 0;    // resets whose stream position has not been reported
    unsigned unanswered_ = 0;   // pauses, resumes and resets on their way
    pa_usec_t answeredAt_ = 0;  // the server's last answer to one of them, or the first ask
    bool endOfData_ = false;
    bool leadIn_ = false;  // the next push starts a cold stream
    bool failed_ = false;  // the connection broke; the next Open reconnects
    size_t lastRoom_ = 0;
    std::function<void()> onRoom_;
    std::function<void(HRESULT, const std::string&)> onFailure_;
    std::string lastError_;
};

// One public call: the api mutex, then the main-loop lock.
class DeviceDest::ApiLock {
  public:
    explicit ApiLock(DeviceDest* d) : api_(d->api_), loop_(d->pulse_) {}

  private:
    std::lock_guard<std::mutex> api_;
    PulseLoop::Lock loop_;
};

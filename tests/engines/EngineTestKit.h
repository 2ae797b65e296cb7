#pragma once
// Test kit for the engines: a recording audio destination, recording notification
// sinks, and helpers that select a mode and render a text through it.
#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ComObject.h"
#include "platform/audio/AudioDest.h"
#include "platform/voices/VoiceCatalogue.h"

// Keeps every frame. Marks run in order of their frames once their frame has been
// written: at once, like the WAV file, or (paced, the default) one at a time from
// PumpUntil on the UI thread, like a sound device that plays while the UI thread runs. No mark runs
// while paused. Room can be limited to hold an engine back.
class RecordingDest : public TComObject<IParlenAudioDest> {
  public:
    explicit RecordingDest(bool paced = true);
    ~RecordingDest() override;
    HRESULT Open(unsigned rate) override;
    size_t Room() override;
    HRESULT Write(const int16_t* frames, size_t count) override;
    uint64_t WrittenFrames() override;
    // Paced: the frame of the last mark played; else what is written.
    uint64_t HeardFrames() override;
    void AddMark(uint64_t frame, std::function<void()> onHeard) override;
    void EndOfData() override;
    HRESULT Pause() override;
    HRESULT Resume() override;
    HRESULT Reset() override;
    void SetRoomCallback(std::function<void()> onRoom) override;
    std::string LastError() override { return openResult == S_OK ? "" : "refused"; }
    void SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) override;

    void SetRoom(size_t room);
    // Room() is what is left below frames written in all.
    void SetCap(size_t frames);
    std::vector<int16_t> Frames();
    unsigned Rate();
    int Opens();
    std::chrono::steady_clock::time_point FirstWrite();
    // Runs the next due mark; false when there is none.
    bool PlayOne();
    // Fails by itself, as a sound device whose server went away: says so, then runs
    // every mark.
    void Lose(const std::string& why);
    std::atomic<int> endsOfData{0};
    HRESULT openResult = S_OK;

  private:
    const bool paced_;
    void RunDue(std::unique_lock<std::mutex>& lock);
    std::mutex mutex_;
    std::vector<int16_t> frames_;
    std::vector<std::pair<uint64_t, std::function<void()>>> marks_;
    std::function<void()> onRoom_;
    std::function<void(HRESULT, const std::string&)> onFailure_;
    size_t room_ = SIZE_MAX;
    size_t cap_ = SIZE_MAX;
    unsigned rate_ = 0;
    int opens_ = 0;
    uint64_t heard_ = 0;
    bool paused_ = false;
    bool wroteAny_ = false;
    std::chrono::steady_clock::time_point firstWrite_{};
};

// Records notifications as lines: "start", "stop", "visual", "word N",
// "textstarted", "textdone", "failed CODE DESCRIPTION"; every word's time apart.
class EventLog {
  public:
    std::vector<std::string> lines;
    std::vector<ParlenWordTime> times;
    int timeRuns = 0;
    std::vector<uint32_t> Words() const;
    int Count(const std::string& line) const;
};

class RecordingNotifySink : public TComObject<ITTSNotifySinkA> {
  public:
    explicit RecordingNotifySink(EventLog* log) : log_(log) {}
    HRESULT AttribChanged(DWORD) override { return S_OK; }
    HRESULT AudioStart(QWORD) override;
    HRESULT AudioStop(QWORD) override;
    HRESULT Visual(QWORD, char, char, DWORD, PTTSMOUTH mouth) override;

  private:
    EventLog* log_;
};

class RecordingBufSink
    : public TComObject<ITTSBufNotifySink, IParlenTextFailureSink, IParlenWordTimesSink> {
  public:
    explicit RecordingBufSink(EventLog* log) : log_(log) {}
    HRESULT TextDataDone(QWORD, DWORD) override;
    HRESULT TextDataStarted(QWORD) override;
    HRESULT BookMark(QWORD, DWORD) override { return S_OK; }
    HRESULT WordPosition(QWORD, DWORD offset) override;
    HRESULT TextFailed(QWORD, HRESULT code, const char* description) override;
    HRESULT WordsRendered(const ParlenWordTime* words, size_t count, DWORD) override {
        log_->times.insert(log_->times.end(), words, words + count);
        ++log_->timeRuns;
        return S_OK;
    }

  private:
    EventLog* log_;
};

// A Qt application and a bound apartment for the whole test program.
void EnsureApartment();
// Processes UI-thread events until done() or the timeout; returns done().
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// A selected engine with its destination and sinks.
struct TestEngine {
    ComPtr<RecordingDest> dest;
    ComPtr<ITTSCentralA> central;
    ComPtr<ITTSAttributesA> attributes;
    EventLog log;
    ComPtr<RecordingNotifySink> notify;
    ComPtr<RecordingBufSink> buf;
    DWORD key = 0;

    // Selects the mode whose name is given (empty: first mode); false when missing.
    bool Select(const std::string& modeName, bool paced = true);
    HRESULT Speak(const std::string& text);
    // Waits for the given number of audio stops in the log.
    bool WaitStops(int count, int timeoutMs = 60000);
};

// Renders text through a fresh engine of the mode after injecting tags; the frames.
std::vector<int16_t> RenderText(const std::string& modeName, const std::string& text,
                                const std::vector<std::string>& tags = {},
                                std::vector<uint32_t>* words = nullptr);

// The same, in a fresh process of this program: espeak-ng carries state from one
// text to the next (its pitch flutter and noise run on), so only renders made in
// equal circumstances can be compared sample for sample.
std::vector<int16_t> FreshRender(const std::string& modeName, const std::string& text,
                                 const std::vector<std::string>& tags = {});

const VoiceMode* FindMode(const std::string& modeName);
double Rms(const std::vector<int16_t>& frames);
// Fundamental frequency estimate over the voiced parts (autocorrelation), in Hz.
double PitchEstimate(const std::vector<int16_t>& frames, unsigned rate);
// Frames from the first to the last non-silent sample.
size_t VoicedLength(const std::vector<int16_t>& frames);

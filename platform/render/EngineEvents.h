#pragma once
// What an engine reports, on its way to the UI thread. Audio-destination marks (on
// the destination's thread, or inside Write for a file) and the engine feed events
// in; one posted call at a time drains them on the UI thread through the apartment.
// A run of word and mouth-shape events that wait together is coalesced, as they are
// queued, into its last word position and its last mouth shape: a file rendering at
// full speed never floods the UI thread nor grows the queue while that thread is
// busy, and the last word position still comes before audio stop. A text's sink that
// takes every word (IParlenWordTimesSink) still gets the words passed over: they go
// along with the word that superseded them and reach it in one call, in order.
//
// Events carry the generation of the text stream they belong to; AudioReset starts
// a new generation, and late marks of the old one are ignored.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ComPtr.h"
#include "speech/speech.h"

class EngineEvents : public std::enable_shared_from_this<EngineEvents> {
  public:
    struct Event {
        // Failed: the text ends early; its audio stop follows.
        // SentenceEnd: only for a sink that takes every word, the entry in `earlier`.
        enum class Kind { TextStarted, AudioStart, Word, Visual, SentenceEnd, Failed, AudioStop };
        Kind kind;
        ComPtr<ITTSBufNotifySink> sink;  // the text's, for TextStarted, Word, Failed, AudioStop
        uint32_t offset = 0;             // Word
        TTSMOUTH mouth{};                // Word (the shape shown with it) and Visual
        char phoneme = 0;
        DWORD hints = 0;
        uint64_t frame = 0;      // when it is heard, on the destination's time line
        HRESULT failure = S_OK;  // Failed: the code and why, in words
        std::string description{};
        // Word, for a sink that takes every word: the words and sentence ends it
        // superseded, in order.
        std::vector<ParlenWordTime> earlier{};
        ComPtr<IParlenWordTimesSink> times{};
    };

    // The frames of the words a sink takes count samples at this rate.
    explicit EngineEvents(DWORD samplesPerSecond = 0) : rate_(samplesPerSecond) {}

    // Any thread. Ignored when gen is not the current generation or after Close.
    void Emit(const Event& event, uint64_t gen);
    // What the calling thread emits from BeginBatch to EndBatch is queued at
    // EndBatch, under one lock and with at most one posted call: the marks of a
    // written chunk that run at once cost the UI thread one wake-up, not one each.
    // Other threads emit as usual meanwhile.
    void BeginBatch();
    void EndBatch();
    // Starts generation gen (AudioReset): a text whose audio start went out gets its
    // audio stop now, ahead of everything that follows; with stopLater, at StopNow
    // (once its file is complete), and a reset meanwhile adds no second stop.
    void NewGeneration(uint64_t gen, bool stopLater = false);
    // Any thread. The stop NewGeneration left for later, after the failure (when
    // failure is one) to complete the text's file.
    void StopNow(HRESULT failure, const std::string& description);
    // AudioResume of generation gen: when a text's audio start went out (its audio
    // is under way), the call that reports audio start again, to be run once frame
    // `frame` is heard; an empty call otherwise. It reports nothing when by then that
    // text's audio stop went out or a reset came.
    std::function<void()> Resumed(uint64_t gen, uint64_t frame);
    // Any thread. The destination failed by itself: the next text to stop without
    // a failure of its own (one still being heard) reports this one before its stop.
    // A text that starts later, or a reset, forgets it.
    void Lost(HRESULT code, const std::string& description);
    // The engine is released: nothing more is delivered.
    void Close();

    // Events waiting for the UI thread (for tests and diagnostics).
    size_t Queued();

    // UI thread.
    DWORD Register(ComPtr<ITTSNotifySinkA> sink);
    bool Unregister(DWORD key);

  private:
    void PushLocked(Event event);
    ComPtr<IParlenWordTimesSink> WordTimesOf(const ComPtr<ITTSBufNotifySink>& sink);
    void HeardAgain(uint64_t gen, uint64_t opening, uint64_t frame);
    void Drain();
    void Deliver(Event& event, const std::map<DWORD, ComPtr<ITTSNotifySinkA>>& sinks);

    const DWORD rate_;
    std::mutex mutex_;
    std::deque<Event> queue_;
    bool posted_ = false;
    uint64_t gen_ = 0;
    bool open_ = false;       // an audio start went out without its stop
    bool stopLater_ = false;  // and its stop waits for StopNow
    uint64_t openings_ = 0;   // texts whose audio start went out, to tell them apart
    ComPtr<ITTSBufNotifySink> openSink_;
    std::optional<Event> lost_;  // from Lost, until a text's stop takes it
    std::map<DWORD, ComPtr<ITTSNotifySinkA>> sinks_;
    // The last text's sink asked for IParlenWordTimesSink, and its answer: asked once
    // a text, let go with the text.
    ComPtr<ITTSBufNotifySink> timesAsked_;
    ComPtr<IParlenWordTimesSink> times_;
    DWORD nextKey_ = 1;
    std::atomic<bool> alive_{true};
    // Only the batching thread touches batch_.
    std::atomic<std::thread::id> batchThread_{};
    std::vector<std::pair<Event, uint64_t>> batch_;
};

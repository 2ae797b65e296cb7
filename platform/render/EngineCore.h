#pragma once
// The working state of one engine object, shared between the object (UI thread) and
// the synthesis worker, so that the worker never touches a released engine: the
// object shuts the core down, and the worker's own reference keeps it valid until
// its current step ends.
//
// Text flows through it like this: TextData queues a sanitised copy with a snapshot
// of the voice settings; the worker cuts the text into pieces, renders one piece
// per turn, and writes its samples as far as the destination has room, adding a
// mark for each event once the frame it belongs to has been written. The marks feed
// EngineEvents, which delivers on the UI thread.
//
// A text may come with lexicons to apply: the synthesis worker rewrites it once, before
// its first piece (worker processes of a long render find the rewritten text as it
// left it), and every word position and sentence end it reports is mapped back to the
// text as it was handed over.
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "lexicon/Rewrite.h"
#include "platform/ComPtr.h"
#include "platform/audio/AudioDest.h"
#include "platform/render/EngineEvents.h"
#include "platform/render/ParallelRender.h"
#include "platform/voices/SynthesisWorker.h"
#include "platform/voices/VoiceBackend.h"

class EngineCore : public SynthesisClient, public std::enable_shared_from_this<EngineCore> {
  public:
    // `voiceName` is handed to the destination with each text (a file's artist).
    EngineCore(std::unique_ptr<VoiceBackend> voice, ComPtr<IParlenAudioDest> dest,
               std::string voiceName = {});
    ~EngineCore() override;

    // Joins the worker. Call once, right after construction.
    void Start();
    // The engine object is going: nothing more is delivered or synthesised.
    void Shutdown();

    // What a text's voice applies: a rewriter, or why the lexicons cannot be used (the
    // text then ends with that failure).
    struct TextLexicon {
        std::shared_ptr<const lexicon::Rewriter> rewriter;
        std::string failure;
    };

    // UI thread.
    HRESULT Queue(std::string text, ComPtr<ITTSBufNotifySink> sink, TextLexicon lexicon = {});
    HRESULT Pause();
    HRESULT Resume();
    HRESULT Reset();

    // Voice parameters, clamped into the voice's limits (VoiceBackend.h gives the
    // units). The real-time rate is the speed in percent of the voice's normal speed.
    VoiceLimits Limits() const { return limits_; }
    uint16_t Pitch();
    uint32_t Speed();
    uint32_t RealTime();
    uint32_t Volume();
    void SetPitch(uint64_t pitch);
    void SetSpeed(uint64_t speed);
    void SetRealTime(uint64_t percent);
    void SetVolume(uint32_t volume);

    EngineEvents& Events() { return *events_; }
    unsigned SampleRate() const { return rate_; }

    bool Step() override;

  private:
    struct Text {
        std::string bytes;
        ComPtr<ITTSBufNotifySink> sink;
        TextLexicon lexicon;
        // Once rewritten: the text as handed over, and where each byte of bytes came from.
        std::string original;
        std::optional<lexicon::OffsetMap> map;
        uint32_t Original(size_t at) const {
            return map ? map->ToOriginal(at) : static_cast<uint32_t>(at);
        }
        VoiceSettings settings;
        uint32_t volume = 0xFFFFFFFFu;
        size_t cursor = 0;
        bool begun = false;
        bool anyAudio = false;
        bool anyWord = false;
        uint32_t lastWord = 0;
        bool inSentence = false;  // a word came since the last sentence end
        TTSMOUTH mouth{};
        // A long text for a file: its parts rendered by worker processes. Only the
        // synthesis worker touches it; it stops its workers when the text goes.
        std::unique_ptr<ParallelRender> parallel;
    };
    struct Pending {
        std::vector<int16_t> samples;
        size_t written = 0;
        bool last = false;
    };
    struct Planned {
        uint64_t frame;
        EngineEvents::Event event;
    };

    bool StepText();
    // Applies the text's lexicons; false when the text ended instead.
    bool Rewrite(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Text>& text);
    bool WritePending();
    void RenderNext();
    void FinishText();
    void Plan(uint64_t frame, EngineEvents::Event event);
    void AddDueMarks();
    // Ends the current text early; a failure (code and why) goes out before its stop.
    void EndWithoutAudio(HRESULT failure = S_OK, std::string description = {});
    // When no text follows and the destination has a file to complete, completes it
    // on the synthesis thread and then tells the failure (or the completion's own) and
    // the stop; false, telling nothing, otherwise.
    bool StopAfterCompletion(const EngineEvents::Event& stop,
                             std::optional<EngineEvents::Event> failed);

    std::unique_ptr<VoiceBackend> voice_;
    ComPtr<IParlenAudioDest> dest_;
    std::shared_ptr<EngineEvents> events_;
    const VoiceLimits limits_;
    const unsigned rate_;
    const std::string voiceName_;

    std::mutex mutex_;  // guards everything below
    VoiceSettings settings_;
    uint32_t volume_ = 0xFFFFFFFFu;
    std::deque<std::shared_ptr<Text>> queue_;
    std::shared_ptr<Text> current_;
    std::optional<Pending> pending_;
    std::vector<int16_t> spare_;  // a written piece's buffer, kept for the next one
    std::deque<Planned> planned_;
    std::atomic<uint64_t> gen_{0};
    std::atomic<bool> alive_{true};
    bool started_ = false;
};

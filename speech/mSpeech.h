#pragma once
// TMSpeech: one connection to the speech service. It reads the catalogue of engine
// modes at construction, attaches one mode by name, reads and sets its pitch, speed
// and volume, speaks its Text aloud or into a WAV file, and forwards what the engine
// reports (audio start and stop, mouth shapes, word positions and times) as events.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/ComPtr.h"
#include "speech/speech.h"
#include "support/Component.h"
#include "support/StringList.h"

// The component's version text. A stored layout writes it back, which changes nothing.
inline constexpr char kMSpeechVersion[] = "Garrow Speech 1.1.0";

enum TSpeechOutput { soFile = 0, soGeneral = 1 };

struct TMSpeechEngineInfo {
    std::string ModeName, Dialect, Manufacturer, Product, ModeID, EngineID, Speaker, Style, Gender;
    uint32_t Age = 0, Features = 0, Interfaces = 0;
    uint16_t PitchMax = 0, PitchMin = 0;
    uint32_t RealTimeMax = 0, RealTimeMin = 0, SpeedMax = 0, SpeedMin = 0;
    int32_t VolumeMax = 0, VolumeMin = 0;
};

using TNotifyEvent = std::function<void(void* sender)>;
using TMSVisualEvent = std::function<void(void* sender, uint32_t hints, PTTSMOUTH mouth)>;
// Words in order with their byte offset and first sample; frames count samples at
// samplesPerSecond from the start of the output.
using TMSWordTimesEvent = std::function<void(void* sender, std::span<const ParlenWordTime> words,
                                             uint32_t samplesPerSecond)>;

class TMSpeech;

// The notification objects' uncounted way back to their component. Engines may hold
// a notification object past the component's life; the component clears Speech when
// it goes, and the objects then ignore what still arrives.
struct TMSpeechLink {
    TMSpeech* Speech = nullptr;
};

class TMSpeech : public TComponent {
  public:
    explicit TMSpeech(TComponent* owner = nullptr);
    ~TMSpeech() override;

    // Reads the catalogue into Engines; a failure shows only as Initialized false.
    void InitEngines();
    // Attaches the mode named (letter case ignored). Raises EMSpeechException when
    // not initialized or when the name is not listed; any other failure shows only
    // as Selected false.
    void SelectEngine(const std::string& name);

    const TStringList& Engines() const { return Engines_; }
    bool Selected() const { return Selected_; }
    bool Initialized() const { return Initialized_; }
    const TMSpeechEngineInfo& EngineInfo() const { return EngineInfo_; }

    const std::u16string& Filename() const { return Filename_; }
    void SetFilename(const std::u16string& name) { Filename_ = name; }
    TSpeechOutput Output() const { return Output_; }
    void SetOutput(TSpeechOutput output) { Output_ = output; }
    bool Paused() const { return Paused_; }
    // While OnStop runs: the text ended early through a failure, which EMSpeechTextFailed
    // tells right after it (what is rendered then is no whole text to make more of).
    bool Failing() const { return Failing_; }
    uint32_t WordPosition() const { return WordPosition_; }

    TStringList& Text() { return Text_; }
    void SetText(const TStrings& lines) { Text_.CopyLines(lines); }

    std::string Version() const { return Version_; }
    // Accepted so that a stored layout value can be assigned; Version() stays.
    void SetVersion(const std::string& version) { VersionWritten_ = version; }

    // Gets ask the engine; sets inject a control tag. Engine results are ignored; an
    // empty attribute or engine reference raises EMSpeechException.
    uint16_t GetPitch();
    void SetPitch(uint16_t value);
    uint32_t GetSpeed();
    void SetSpeed(uint32_t value);
    // Percent 0..100, from and to the engine's two-channel 16-bit levels.
    uint32_t GetVolume();
    void SetVolume(uint32_t value);

    // Hands Text to the engine. Raises EMSpeechException when not initialized or
    // not selected, EMSpeechCreateFileError (with the system's reason) when the WAV
    // file cannot be created, and EMSpeechException when no sound server can be
    // reached; any other failure is absorbed (no audio follows).
    // A text that ends early because of a failure (the file cannot be written or
    // completed, the sound server went away, no memory for synthesis) raises
    // EMSpeechTextFailed from its stop notification, right after OnStop: it reaches
    // the notification guard once, with everything already back at rest.
    void Speak();
    // The same for a text already joined as Text would join it (lines ended by CR LF),
    // leaving Text alone: a long text need not be held as lines as well.
    void Speak(const std::string& text);
    void Pause();
    void Resume();
    void Stop();
    // Shows the engine's lexicon dialog for the selected voice over the parent window
    // (a QWidget* in the window; the component does not look at it). Raises
    // EMSpeechException when no voice is selected or the engine has no such dialog.
    void LexiconDialog(void* parent, const std::string& title);

    TNotifyEvent OnStart, OnStop;
    TMSVisualEvent OnVisual;
    // Every word rendered, once and in order, in runs that come on the UI thread
    // before the OnVisual of their last word: with a WAV file also the words the
    // word position passed over. Nothing is kept for it when it is not set.
    TMSWordTimesEvent OnWordTimes;

  private:
    friend class TTSNotifySink;
    friend class TTSBufNotifySink;

    void PrepareSinks();
    void CreateAudioDest();
    void AttachEngine();
    void ReadEngineInfo(const TTSMODEINFOA& record);
    void ProbeRanges();
    IUnknown* AudioDest() const;
    struct TextFailure {
        HRESULT code;
        std::string description;
    };
    // The stop of a text: completes the WAV file (file output) and hands over what
    // ended the text early or kept the file from completing, if anything.
    std::optional<TextFailure> FinishText();
    void Inject(const std::string& tag);
    ITTSAttributesA* RequireAttributes() const;
    ITTSCentralA* RequireCentral() const;

    TStringList Engines_;
    bool Selected_ = false;
    std::u16string Filename_;
    ComPtr<IAudioFile> FileDest;
    ComPtr<IAudioMultiMediaDevice> DeviceDest;
    TMSpeechEngineInfo EngineInfo_;
    bool Initialized_ = false;
    ComPtr<ITTSAttributesA> Attributes;
    ComPtr<ITTSCentralA> Central;
    ComPtr<ITTSDialogsA> Dialogs;
    ComPtr<ITTSEnumA> Enumerator;
    DWORD RegisterKey = 0;
    TSpeechOutput Output_ = soGeneral;
    bool Paused_ = false;
    bool Failing_ = false;
    TStringList Text_;
    ComPtr<ITTSNotifySinkA> NotifySink;
    ComPtr<ITTSBufNotifySink> BufNotifySink;
    std::string Version_;
    std::string VersionWritten_;
    std::unique_ptr<TTSMODEINFOA> SelectedMode;
    uint32_t WordPosition_ = 0;
    std::optional<TextFailure> Failure_;  // from the engine, until the text's stop
    std::shared_ptr<TMSpeechLink> Link;
};

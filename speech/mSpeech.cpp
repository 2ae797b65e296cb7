#include "speech/mSpeech.h"

#include <cstring>

#include "platform/ClassRegistry.h"
#include "platform/ErrorInfo.h"
#include "platform/Guid.h"
#include "speech/OleCheck.h"
#include "speech/TTSBufNotifySink.h"
#include "speech/TTSNotifySink.h"
#include "support/Errors.h"
#include "support/Unicode.h"

namespace {
const char kNotInitialized[] = "Speech Engine not initialized";
const char kNotFound[] = "Specified Speech Engine not found";
const char kNotSelected[] = "Speech Engine not selected";
const char kCannotCreateFile[] = "Cannot create file %s";
const char kCannotCompleteFile[] = "Cannot complete file %s";
const char kNoSoundServer[] =
    "No sound server reachable (PulseAudio or PipeWire): cannot play speech";
const char kNoEngine[] = "No speech engine is attached: select an engine first";
const char kModeGone[] = "The engine mode is no longer listed by the speech service";
const char kNoFileDest[] = "No WAV file destination: select the engine after choosing file output";

// A text field of the mode record: its bytes up to the first NUL, at most the field.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string GuidText(const GUID& id) {
    std::string text;
    OleCheck(StringFromCLSID(id, text));
    return text;
}

std::string Format(const char* pattern, const std::string& value) {
    std::string text(pattern);
    size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}
}  // namespace

TMSpeech::TMSpeech(TComponent* owner) : TComponent(owner), Link(std::make_shared<TMSpeechLink>()) {
    Link->Speech = this;
    RegisterKey = 0;
    WordPosition_ = 0;
    Output_ = soGeneral;
    Paused_ = false;
    Version_ = kMSpeechVersion;
    InitEngines();
}

TMSpeech::~TMSpeech() {
    // Notification objects that an engine still holds report to nobody from now on.
    Link->Speech = nullptr;
    Initialized_ = false;
    // The line lists, the mode record and then every platform reference go with the
    // members; no UnRegister, AudioReset or Flush: queued speech is abandoned.
}

void TMSpeech::InitEngines() {
    Initialized_ = true;
    Selected_ = false;
    try {
        OleCheck(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumA,
                                  Enumerator.PutVoid()));
        OleCheck(Enumerator->Reset());
        TTSMODEINFOA record{};
        ULONG fetched = 0;
        OleCheck(Enumerator->Next(1, &record, &fetched));
        while (fetched > 0) {
            Engines_.AppendLine(FieldText(record.szModeName));
            record = TTSMODEINFOA{};
            fetched = 0;
            OleCheck(Enumerator->Next(1, &record, &fetched));
        }
    } catch (const std::exception&) {
        // Names read before the failure stay listed.
        Initialized_ = false;
    }
}

void TMSpeech::SelectEngine(const std::string& name) {
    if (!Initialized_) throw EMSpeechException(kNotInitialized);
    const int index = Engines_.FindLine(name);
    if (index < 0) throw EMSpeechException(kNotFound);
    Selected_ = true;
    try {
        PrepareSinks();
        OleCheck(Enumerator->Reset());
        OleCheck(Enumerator->Skip(static_cast<ULONG>(index)));
        TTSMODEINFOA record{};
        ULONG fetched = 0;
        OleCheck(Enumerator->Next(1, &record, &fetched));
        // The catalogue changed since it was read: there is no record to go on with.
        if (fetched == 0) throw EMSpeechException(kModeGone);
        SelectedMode = std::make_unique<TTSMODEINFOA>(record);
        Central = nullptr;
        OleCheck(Enumerator->Select(SelectedMode->gModeID, Central.Put(), AudioDest()));
        AttachEngine();
        ReadEngineInfo(record);
    } catch (const std::exception&) {
        // The steps done stay done; only Selected tells that the engine is not usable.
        Selected_ = false;
    }
}

void TMSpeech::PrepareSinks() {
    CreateAudioDest();
    if (RegisterKey != 0) {
        if (Central) Central->UnRegister(RegisterKey);
        RegisterKey = 0;
    }
    BufNotifySink = MakeCom<TTSBufNotifySink>(Link);
    NotifySink = MakeCom<TTSNotifySink>(Link);
}

void TMSpeech::CreateAudioDest() {
    if (Output_ == soFile) {
        FileDest = nullptr;
        OleCheck(CoCreateInstance(CLSID_AudioDestFile, nullptr, CLSCTX_ALL, IID_IAudioFile,
                                  FileDest.PutVoid()));
    } else {
        DeviceDest = nullptr;
        OleCheck(CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL,
                                  IID_IAudioMultiMediaDevice, DeviceDest.PutVoid()));
    }
}

IUnknown* TMSpeech::AudioDest() const {
    if (Output_ == soFile) return FileDest.Get();
    return DeviceDest.Get();
}

void TMSpeech::AttachEngine() {
    Attributes = nullptr;
    OleCheck(Central.As(Attributes));
    Dialogs = nullptr;
    OleCheck(Central.As(Dialogs));
    OleCheck(Central->Register(NotifySink.Get(), IID_ITTSNotifySinkA, &RegisterKey));
}

void TMSpeech::ReadEngineInfo(const TTSMODEINFOA& record) {
    TMSpeechEngineInfo& info = EngineInfo_;
    info.Dialect = FieldText(record.language.szDialect);
    info.ModeName = FieldText(record.szModeName);
    info.Manufacturer = FieldText(record.szMfgName);
    info.Product = FieldText(record.szProductName);
    info.ModeID = GuidText(record.gModeID);
    info.EngineID = GuidText(record.gEngineID);
    info.Speaker = FieldText(record.szSpeaker);
    info.Style = FieldText(record.szStyle);
    switch (record.wGender) {
        case GENDER_NEUTRAL:
            info.Gender = "NEUTRAL";
            break;
        case GENDER_FEMALE:
            info.Gender = "FEMALE";
            break;
        case GENDER_MALE:
            info.Gender = "MALE";
            break;
        default:
            break;  // an unknown value keeps what an earlier selection set
    }
    info.Age = record.wAge;
    info.Features = record.dwFeatures;
    info.Interfaces = record.dwInterfaces;
    ProbeRanges();
    info.VolumeMax = 100;
    info.VolumeMin = 0;
}

// The engine clamps an out-of-range setting to its nearest limit and reports the
// clamped value: setting each extreme and reading back gives the range. Every value
// is set back to what the engine reported before. Results are not checked.
void TMSpeech::ProbeRanges() {
    TMSpeechEngineInfo& info = EngineInfo_;
    ITTSAttributesA* a = Attributes.Get();

    WORD pitch = 0, pitchMax = 0, pitchMin = 0;
    a->PitchGet(&pitch);
    a->PitchSet(0xFFFF);
    a->PitchGet(&pitchMax);
    a->PitchSet(0);
    a->PitchGet(&pitchMin);
    a->PitchSet(pitch);
    info.PitchMax = pitchMax;
    info.PitchMin = pitchMin;

    DWORD rate = 0, rateMax = 0, rateMin = 0;
    a->RealTimeGet(&rate);
    a->RealTimeSet(0xFFFFFFFFu);
    a->RealTimeGet(&rateMax);
    a->RealTimeSet(0);
    a->RealTimeGet(&rateMin);
    a->RealTimeSet(rate);
    info.RealTimeMax = rateMax;
    info.RealTimeMin = rateMin;

    DWORD speed = 0, speedMax = 0, speedMin = 0;
    a->SpeedGet(&speed);
    a->SpeedSet(0xFFFFFFFFu);
    a->SpeedGet(&speedMax);
    a->SpeedSet(0);
    a->SpeedGet(&speedMin);
    a->SpeedSet(speed);
    info.SpeedMax = speedMax;
    info.SpeedMin = speedMin;
}

ITTSAttributesA* TMSpeech::RequireAttributes() const {
    if (!Attributes) throw EMSpeechException(kNoEngine);
    return Attributes.Get();
}

ITTSCentralA* TMSpeech::RequireCentral() const {
    if (!Central) throw EMSpeechException(kNoEngine);
    return Central.Get();
}

void TMSpeech::Inject(const std::string& tag) {
    RequireCentral()->Inject(tag.c_str());
}

uint16_t TMSpeech::GetPitch() {
    WORD value = 0;
    RequireAttributes()->PitchGet(&value);
    return value;
}

void TMSpeech::SetPitch(uint16_t value) {
    Inject("\\Pit=" + std::to_string(value) + "\\");
}

uint32_t TMSpeech::GetSpeed() {
    DWORD value = 0;
    RequireAttributes()->SpeedGet(&value);
    return value;
}

void TMSpeech::SetSpeed(uint32_t value) {
    Inject("\\Spd=" + std::to_string(value) + "\\");
}

uint32_t TMSpeech::GetVolume() {
    DWORD packed = 0;
    RequireAttributes()->VolumeGet(&packed);
    const uint32_t left = packed & 0xFFFFu;  // the right channel is not looked at
    return left * 100u / 65535u;
}

void TMSpeech::SetVolume(uint32_t value) {
    const uint32_t level = (value * 65535u) / 100u;  // wraps like the engine's 32-bit form
    const uint32_t packed = (level & 0xFFFFu) | ((level & 0xFFFFu) << 16);
    Inject("\\Vol=" + std::to_string(packed) + "\\");
}

void TMSpeech::Speak() {
    Speak(Text_.JoinLines());
}

void TMSpeech::Speak(const std::string& text) {
    if (!Initialized_) throw EMSpeechException(kNotInitialized);
    if (!Selected_) throw EMSpeechException(kNotSelected);
    Paused_ = false;
    Failure_.reset();
    // Two failures reach the caller, since a user would otherwise get silence and no
    // word: a WAV file that cannot be created and a sound server that cannot be
    // reached. Every other failure means only that no audio follows.
    std::string reported;
    try {
        if (Output_ == soFile) {
            if (!FileDest) throw EMSpeechException(kNoFileDest);
            TakeErrorDescription();  // a stale one would name the wrong cause
            if (FAILED(FileDest->Set(Filename_.c_str(), 1))) {
                // The service's words say why: "Permission denied", "No space left on device".
                std::string message = Format(kCannotCreateFile, FileNameFromUtf16(Filename_));
                if (const std::string cause = TakeErrorDescription(); !cause.empty())
                    message += ": " + cause;
                throw EMSpeechCreateFileError(message);
            }
        }
        const size_t size = text.size() + 1;  // with the terminating NUL
        ITTSCentralA* central = RequireCentral();
        TakeErrorDescription();  // a stale one would name the wrong cause
        const HRESULT hr = central->TextData(CHARSET_TEXT, 0, text.c_str(), size,
                                             BufNotifySink.Get(), IID_ITTSBufNotifySink);
        if (hr == TTSERR_NOSOUNDSERVER && Output_ == soGeneral) {
            // The service's own words say why: which server, and what it answered.
            reported = kNoSoundServer;
            const std::string cause = TakeErrorDescription();
            if (!cause.empty()) reported += ". " + cause;
        }
        OleCheck(hr);
    } catch (const EMSpeechCreateFileError&) {
        throw;
    } catch (const std::exception&) {
        if (!reported.empty()) throw EMSpeechException(reported);
    }
}

void TMSpeech::Pause() {
    OleCheck(RequireCentral()->AudioPause());
    Paused_ = true;
}

void TMSpeech::Resume() {
    OleCheck(RequireCentral()->AudioResume());
    Paused_ = false;
}

void TMSpeech::LexiconDialog(void* parent, const std::string& title) {
    RequireCentral();
    if (!Dialogs) throw EMSpeechException("The voice has no lexicon dialog");
    const HRESULT hr = Dialogs->LexiconDlg(parent, title.c_str());
    if (hr == E_NOTIMPL) throw EMSpeechException("The voice has no lexicon dialog");
    OleCheck(hr);
}

void TMSpeech::Stop() {
    Paused_ = false;
    OleCheck(RequireCentral()->AudioReset());
}

std::optional<TMSpeech::TextFailure> TMSpeech::FinishText() {
    // A text that ends while paused (its sound server was lost) leaves nothing to
    // resume: the next Speak speaks.
    Paused_ = false;
    std::optional<TextFailure> failure = std::move(Failure_);
    Failure_.reset();
    if (Output_ == soFile && FileDest) {
        TakeErrorDescription();
        const HRESULT hr = FileDest->Flush();
        if (FAILED(hr) && !failure) {
            std::string message = Format(kCannotCompleteFile, FileNameFromUtf16(Filename_));
            if (const std::string cause = TakeErrorDescription(); !cause.empty())
                message += ": " + cause;
            failure = TextFailure{hr, std::move(message)};
        }
    }
    Failing_ = failure.has_value();
    return failure;
}

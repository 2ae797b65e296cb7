#include "platform/service/TTSEngine.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "lexicon/Store.h"
#include "platform/render/EngineCore.h"
#include "platform/voices/InlineTag.h"

namespace {
LexiconDialogHost& DialogHost() {
    static LexiconDialogHost host;
    return host;
}

std::string Field(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

// The lexicons for this voice, or why they cannot be used.
EngineCore::TextLexicon LexiconFor(const TTSMODEINFOA& mode) {
    EngineCore::TextLexicon lexicon;
    try {
        const std::string product = Field(mode.szProductName, sizeof mode.szProductName);
        lexicon.rewriter = lexicon::Store::Instance().ForVoice(
            Field(mode.szModeName, sizeof mode.szModeName),
            Field(mode.language.szDialect, sizeof mode.language.szDialect),
            product.rfind("espeak-ng", 0) == 0);
    } catch (const Exception& e) {
        lexicon.failure = e.Message();
    }
    return lexicon;
}
}  // namespace

void SetLexiconDialogHost(LexiconDialogHost host) {
    DialogHost() = std::move(host);
}

TTSEngine::TTSEngine(const TTSMODEINFOA& mode, std::unique_ptr<VoiceBackend> voice,
                     ComPtr<IParlenAudioDest> dest)
    : mode_(mode),
      core_(std::make_shared<EngineCore>(
          std::move(voice), std::move(dest),
          std::string(mode.szModeName, strnlen(mode.szModeName, sizeof mode.szModeName)))) {
    core_->Start();
}

TTSEngine::~TTSEngine() {
    core_->Shutdown();
}

HRESULT TTSEngine::Inject(const char* tag) {
    if (!tag) return E_POINTER;
    const auto parsed = ParseInlineTag(tag);
    if (!parsed) return TTSERR_INVALIDCHAR;
    switch (parsed->kind) {
        case InlineTag::Kind::Pitch:
            core_->SetPitch(parsed->value);
            break;
        case InlineTag::Kind::Speed:
            core_->SetSpeed(parsed->value);
            break;
        case InlineTag::Kind::Volume:
            core_->SetVolume(parsed->value);
            break;
    }
    return S_OK;
}

HRESULT TTSEngine::ModeGet(TTSMODEINFOA* record) {
    if (!record) return E_POINTER;
    *record = mode_;
    return S_OK;
}

HRESULT TTSEngine::Phoneme(DWORD, DWORD, const void*, size_t, void*) {
    return E_NOTIMPL;
}
HRESULT TTSEngine::PosnGet(QWORD*) {
    return E_NOTIMPL;
}
HRESULT TTSEngine::ToFileTime(QWORD*, void*) {
    return E_NOTIMPL;
}

HRESULT TTSEngine::TextData(DWORD charset, DWORD /*flags*/, const void* text, size_t size,
                            IUnknown* notify, IID notifyIid) {
    if (charset != CHARSET_TEXT) return E_INVALIDARG;
    if (!text && size > 0) return E_POINTER;
    // The size counts the terminating NUL (a buffer may pad the text with more). A NUL
    // inside the text, as pasted or read from a file, is spoken as a blank, so that the
    // rest is spoken too and word offsets still point into the text as handed over.
    const char* bytes = static_cast<const char*>(text);
    size_t length = size;
    while (length > 0 && bytes[length - 1] == '\0') --length;
    ComPtr<ITTSBufNotifySink> sink;
    if (notify) {
        if (!(notifyIid == IID_ITTSBufNotifySink)) return E_NOINTERFACE;
        if (FAILED(notify->QueryInterface(IID_ITTSBufNotifySink, sink.PutVoid())))
            return E_NOINTERFACE;
    }
    std::string data(bytes ? bytes : "", length);
    std::replace(data.begin(), data.end(), '\0', ' ');
    return core_->Queue(std::move(data), std::move(sink), LexiconFor(mode_));
}

HRESULT TTSEngine::AudioPause() {
    return core_->Pause();
}
HRESULT TTSEngine::AudioResume() {
    return core_->Resume();
}
HRESULT TTSEngine::AudioReset() {
    return core_->Reset();
}

HRESULT TTSEngine::Register(IUnknown* notify, IID notifyIid, DWORD* key) {
    if (!notify || !key) return E_POINTER;
    if (!(notifyIid == IID_ITTSNotifySinkA)) return E_NOINTERFACE;
    ComPtr<ITTSNotifySinkA> sink;
    if (FAILED(notify->QueryInterface(IID_ITTSNotifySinkA, sink.PutVoid()))) return E_NOINTERFACE;
    *key = core_->Events().Register(std::move(sink));
    return S_OK;
}

HRESULT TTSEngine::UnRegister(DWORD key) {
    return core_->Events().Unregister(key) ? S_OK : E_INVALIDARG;
}

HRESULT TTSEngine::PitchGet(WORD* pitch) {
    if (!pitch) return E_POINTER;
    *pitch = core_->Pitch();
    return S_OK;
}
HRESULT TTSEngine::PitchSet(WORD pitch) {
    core_->SetPitch(pitch);
    return S_OK;
}
HRESULT TTSEngine::RealTimeGet(DWORD* rate) {
    if (!rate) return E_POINTER;
    *rate = core_->RealTime();
    return S_OK;
}
HRESULT TTSEngine::RealTimeSet(DWORD rate) {
    core_->SetRealTime(rate);
    return S_OK;
}
HRESULT TTSEngine::SpeedGet(DWORD* speed) {
    if (!speed) return E_POINTER;
    *speed = core_->Speed();
    return S_OK;
}
HRESULT TTSEngine::SpeedSet(DWORD speed) {
    core_->SetSpeed(speed);
    return S_OK;
}
HRESULT TTSEngine::VolumeGet(DWORD* volume) {
    if (!volume) return E_POINTER;
    *volume = core_->Volume();
    return S_OK;
}
HRESULT TTSEngine::VolumeSet(DWORD volume) {
    core_->SetVolume(volume);
    return S_OK;
}

HRESULT TTSEngine::AboutDlg(void*, const char*) {
    return S_OK;
}
HRESULT TTSEngine::LexiconDlg(void* window, const char* title) {
    const LexiconDialogHost& host = DialogHost();
    return host ? host(window, title, mode_) : E_NOTIMPL;
}
HRESULT TTSEngine::GeneralDlg(void*, const char*) {
    return E_NOTIMPL;
}
HRESULT TTSEngine::TranslateDlg(void*, const char*) {
    return E_NOTIMPL;
}

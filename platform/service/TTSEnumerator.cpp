#include "platform/service/TTSEnumerator.h"

#include "platform/ClassRegistry.h"
#include "platform/service/TTSEngine.h"

TTSEnumerator::TTSEnumerator()
    : modes_(std::make_shared<const VoiceModeList>(ModesForLocale(UserLocale()))) {}

TTSEnumerator::TTSEnumerator(std::shared_ptr<const VoiceModeList> modes, size_t cursor)
    : modes_(std::move(modes)), cursor_(cursor) {}

HRESULT TTSEnumerator::Next(ULONG count, TTSMODEINFOA* records, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (count > 0 && !records) return E_POINTER;
    if (count > 1 && !fetched) return E_POINTER;
    ULONG got = 0;
    while (got < count && cursor_ < modes_->size()) records[got++] = (*modes_)[cursor_++]->info;
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
}

HRESULT TTSEnumerator::Skip(ULONG count) {
    const size_t left = modes_->size() - cursor_;
    if (count > left) {
        cursor_ = modes_->size();
        return S_FALSE;
    }
    cursor_ += count;
    return S_OK;
}

HRESULT TTSEnumerator::Reset() {
    cursor_ = 0;
    return S_OK;
}

HRESULT TTSEnumerator::Clone(ITTSEnumA** copy) {
    if (!copy) return E_POINTER;
    *copy = MakeCom<TTSEnumerator>(modes_, cursor_).Detach();
    return S_OK;
}

HRESULT TTSEnumerator::Select(GUID modeId, ITTSCentralA** central, IUnknown* audio) {
    if (!central) return E_POINTER;
    *central = nullptr;
    const VoiceMode* mode = nullptr;
    for (const VoiceMode* m : *modes_)
        if (m->info.gModeID == modeId) mode = m;
    if (!mode) return E_INVALIDARG;
    if (!audio) return E_POINTER;
    ComPtr<IParlenAudioDest> dest;
    if (FAILED(audio->QueryInterface(IID_IParlenAudioDest, dest.PutVoid())) || !dest)
        return E_NOINTERFACE;
    std::unique_ptr<VoiceBackend> voice = MakeVoiceBackend(*mode);
    // A missing sound server shows when text is handed over, not here.
    dest->Open(voice->SampleRate());
    ComPtr<TTSEngine> engine = MakeCom<TTSEngine>(mode->info, std::move(voice), std::move(dest));
    *central = static_cast<ITTSCentralA*>(engine.Detach());
    return S_OK;
}

void TTSEnumerator::RegisterClass() {
    RegisterClassObject(CLSID_TTSEnumerator, [](const IID& iid, void** object) -> HRESULT {
        ComPtr<TTSEnumerator> e = MakeCom<TTSEnumerator>();
        return e->QueryInterface(iid, object);
    });
}

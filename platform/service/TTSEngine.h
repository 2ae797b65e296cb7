#pragma once
// The engine object that the enumerator's Select hands out: one voice bound to one
// audio destination. The voice parameters and their units are those of
// VoiceBackend.h; RealTime is the speed in percent of the voice's normal speed.
// Released while it speaks, it stops at once and reports nothing more.
#include <memory>

#include "platform/ComObject.h"
#include "platform/service/AudioDest.h"
#include "platform/service/VoiceBackend.h"

class EngineCore;

class TTSEngine : public TComObject<ITTSCentralA, ITTSAttributesA, ITTSDialogsA> {
  public:
    TTSEngine(const TTSMODEINFOA& mode, std::unique_ptr<VoiceBackend> voice,
              ComPtr<IParlenAudioDest> dest);

    // ITTSCentralA
    HRESULT Inject(const char* tag) override;
    HRESULT ModeGet(TTSMODEINFOA* record) override;
    HRESULT Phoneme(DWORD charset, DWORD flags, const void* text, size_t size,
                    void* phonemes) override;
    HRESULT PosnGet(QWORD* position) override;
    HRESULT TextData(DWORD charset, DWORD flags, const void* text, size_t size, IUnknown* notify,
                     IID notifyIid) override;
    HRESULT ToFileTime(QWORD* stamp, void* fileTime) override;
    HRESULT AudioPause() override;
    HRESULT AudioResume() override;
    HRESULT AudioReset() override;
    HRESULT Register(IUnknown* notify, IID notifyIid, DWORD* key) override;
    HRESULT UnRegister(DWORD key) override;

    // ITTSAttributesA
    HRESULT PitchGet(WORD* pitch) override;
    HRESULT PitchSet(WORD pitch) override;
    HRESULT RealTimeGet(DWORD* rate) override;
    HRESULT RealTimeSet(DWORD rate) override;
    HRESULT SpeedGet(DWORD* speed) override;
    HRESULT SpeedSet(DWORD speed) override;
    HRESULT VolumeGet(DWORD* volume) override;
    HRESULT VolumeSet(DWORD volume) override;

    // ITTSDialogsA: this service has no dialogs of its own.
    HRESULT AboutDlg(void* window, const char* title) override;
    HRESULT LexiconDlg(void* window, const char* title) override;
    HRESULT GeneralDlg(void* window, const char* title) override;
    HRESULT TranslateDlg(void* window, const char* title) override;

  protected:
    ~TTSEngine() override;

  private:
    TTSMODEINFOA mode_;
    std::shared_ptr<EngineCore> core_;
};

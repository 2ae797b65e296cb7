#pragma once
// The engine object that the enumerator's Select hands out: one voice bound to one
// audio destination.
//
// Voice parameters (units in VoiceBackend.h). Every set clamps into the voice's
// limits and the gets read back the clamped value:
//   pitch     0 .. 99, normal 50;
//   speed     words per minute, normal 175: espeak-ng 84 .. 449, flite 80 .. 450;
//   real time the speed in percent of normal, rounded: espeak-ng 48 .. 257, flite
//             46 .. 257; setting it sets the speed;
//   volume    any 32-bit value in the engine form (low 16 bits left level, high 16
//             right); the left level scales the samples.
// Inject accepts "\Pit=N\", "\Spd=N\" and "\Vol=N\" with the same meaning. Each
// text takes the parameters in force when it is handed over, so a change applies to
// the text that follows it.
//
// Text is spoken as plain text, after the lexicons in force for the voice (lexicon/Store.h)
// have been applied; word positions point into the text as handed over. Phonemes reach
// espeak-ng only from a lexicon entry: control characters other than TAB, CR and LF are
// read as blanks, and tags or markup inside it are words like any other. Released
// while it speaks, the engine stops at once and reports nothing more.
#include <functional>
#include <memory>

#include "platform/ComObject.h"
#include "platform/audio/AudioDest.h"
#include "platform/voices/VoiceBackend.h"

class EngineCore;

// The lexicon dialog belongs to the window, which the service cannot show: the window
// registers a function that shows it for the engine's voice (its mode record) over a
// parent window. Without one, LexiconDlg answers E_NOTIMPL.
using LexiconDialogHost =
    std::function<HRESULT(void* window, const char* title, const TTSMODEINFOA& voice)>;
void SetLexiconDialogHost(LexiconDialogHost host);

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

    // ITTSDialogsA: only the lexicon dialog, through the window's host.
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

#pragma once
// Receives the engine's audio start, audio stop and mouth-shape reports and turns
// them into the component's OnStart, OnStop and OnVisual events.
#include <memory>

#include "platform/ComObject.h"
#include "speech/mSpeech.h"

class TTSNotifySink : public TComObject<ITTSNotifySinkA> {
  public:
    explicit TTSNotifySink(std::shared_ptr<TMSpeechLink> speech);

    HRESULT AttribChanged(DWORD attribute) override;
    HRESULT AudioStart(QWORD timeStamp) override;
    // Completes the WAV file first (file output only), then fires OnStop; a failure
    // that ended the text, or kept the file from completing, is raised after it.
    HRESULT AudioStop(QWORD timeStamp) override;
    HRESULT Visual(QWORD timeStamp, char ipaPhoneme, char enginePhoneme, DWORD hints,
                   PTTSMOUTH mouth) override;

    // The component this object reports to, or null once it is gone.
    TMSpeech* Speech() const { return Speech_->Speech; }

  private:
    void* Sender() { return static_cast<IUnknown*>(static_cast<ITTSNotifySinkA*>(this)); }

    std::shared_ptr<TMSpeechLink> Speech_;
};

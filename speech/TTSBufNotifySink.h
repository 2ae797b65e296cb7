#pragma once
// Goes with each text handed to the engine and keeps the component's WordPosition
// at the byte offset of the word being spoken.
#include <memory>

#include "platform/ComObject.h"
#include "speech/mSpeech.h"

class TTSBufNotifySink : public TComObject<ITTSBufNotifySink> {
  public:
    explicit TTSBufNotifySink(std::shared_ptr<TMSpeechLink> speech);

    HRESULT TextDataDone(QWORD timeStamp, DWORD flags) override;
    HRESULT TextDataStarted(QWORD timeStamp) override;
    HRESULT BookMark(QWORD timeStamp, DWORD mark) override;
    HRESULT WordPosition(QWORD timeStamp, DWORD offset) override;

    TMSpeech* Speech() const { return Speech_->Speech; }

  private:
    std::shared_ptr<TMSpeechLink> Speech_;
};

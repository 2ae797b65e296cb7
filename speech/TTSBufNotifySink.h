#pragma once
// Goes with each text handed to the engine and keeps the component's WordPosition
// at the byte offset of the word being spoken; it also takes the failure that ends
// a text early, for the text's stop to report, and hands every word's first sample
// to the component's OnWordTimes.
#include <memory>

#include "platform/ComObject.h"
#include "speech/mSpeech.h"

class TTSBufNotifySink
    : public TComObject<ITTSBufNotifySink, IParlenTextFailureSink, IParlenWordTimesSink> {
  public:
    explicit TTSBufNotifySink(std::shared_ptr<TMSpeechLink> speech);

    HRESULT TextDataDone(QWORD timeStamp, DWORD flags) override;
    HRESULT TextDataStarted(QWORD timeStamp) override;
    HRESULT BookMark(QWORD timeStamp, DWORD mark) override;
    HRESULT WordPosition(QWORD timeStamp, DWORD offset) override;
    HRESULT TextFailed(QWORD timeStamp, HRESULT code, const char* description) override;
    HRESULT WordsRendered(const ParlenWordTime* words, size_t count,
                          DWORD samplesPerSecond) override;

    TMSpeech* Speech() const { return Speech_->Speech; }

  private:
    std::shared_ptr<TMSpeechLink> Speech_;
};

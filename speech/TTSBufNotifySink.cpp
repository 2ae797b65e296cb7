#include "speech/TTSBufNotifySink.h"

#include <span>
#include <utility>

TTSBufNotifySink::TTSBufNotifySink(std::shared_ptr<TMSpeechLink> speech)
    : Speech_(std::move(speech)) {}

HRESULT TTSBufNotifySink::TextDataDone(QWORD, DWORD) {
    return S_OK;
}

HRESULT TTSBufNotifySink::TextDataStarted(QWORD) {
    return S_OK;
}

HRESULT TTSBufNotifySink::BookMark(QWORD, DWORD) {
    return S_OK;
}

HRESULT TTSBufNotifySink::WordPosition(QWORD, DWORD offset) {
    // No event: the window reads the value in its OnVisual handlers.
    if (TMSpeech* speech = Speech()) speech->WordPosition_ = offset;
    return S_OK;
}

HRESULT TTSBufNotifySink::TextFailed(QWORD, HRESULT code, const char* description) {
    if (TMSpeech* speech = Speech())
        speech->Failure_ = TMSpeech::TextFailure{code, description ? description : ""};
    return S_OK;
}

HRESULT TTSBufNotifySink::WordsRendered(const ParlenWordTime* words, size_t count,
                                        DWORD samplesPerSecond) {
    // Held, and the handler copied, as for the other events: it may end the component.
    ComPtr<IParlenWordTimesSink> hold(this);
    TMSpeech* speech = Speech();
    if (!speech || !speech->OnWordTimes || count == 0) return S_OK;
    if (!words) return E_POINTER;
    TMSWordTimesEvent handler = speech->OnWordTimes;
    handler(static_cast<IUnknown*>(speech->NotifySink.Get()),
            std::span<const ParlenWordTime>(words, count), samplesPerSecond);
    return S_OK;
}

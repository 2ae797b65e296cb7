#include "speech/TTSBufNotifySink.h"

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

#include "speech/TTSNotifySink.h"

#include <utility>

#include "support/Errors.h"

TTSNotifySink::TTSNotifySink(std::shared_ptr<TMSpeechLink> speech) : Speech_(std::move(speech)) {}

HRESULT TTSNotifySink::AttribChanged(DWORD) {
    return S_OK;
}

// Each handler runs on a copy of the event and with this object held: a handler may
// reassign the event or destroy the component (and with it the component's reference
// to this object) while it runs. Errors from handlers are not caught here; they go
// on to the apartment's guard, which shows them.

HRESULT TTSNotifySink::AudioStart(QWORD) {
    ComPtr<ITTSNotifySinkA> hold(this);
    TMSpeech* speech = Speech();
    if (!speech) return S_OK;
    TNotifyEvent handler = speech->OnStart;
    if (handler) handler(Sender());
    return S_OK;
}

HRESULT TTSNotifySink::AudioStop(QWORD) {
    ComPtr<ITTSNotifySinkA> hold(this);
    TMSpeech* speech = Speech();
    if (!speech) return S_OK;
    const std::optional<TMSpeech::TextFailure> failure = speech->FinishText();
    TNotifyEvent handler = speech->OnStop;
    if (handler) handler(Sender());
    // Told after OnStop, so the caller is back at rest when it hears of it.
    if (failure) throw EMSpeechTextFailed(failure->description, failure->code);
    return S_OK;
}

HRESULT TTSNotifySink::Visual(QWORD, char, char, DWORD hints, PTTSMOUTH mouth) {
    ComPtr<ITTSNotifySinkA> hold(this);
    TMSpeech* speech = Speech();
    if (!speech) return S_OK;
    TMSVisualEvent handler = speech->OnVisual;
    if (handler) handler(Sender(), hints, mouth);
    return S_OK;
}

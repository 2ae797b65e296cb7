#include "platform/service/SpeechService.h"

#include "platform/service/TTSEnumerator.h"

void RegisterSpeechService() {
    TTSEnumerator::RegisterClass();
    RegisterAudioDestinations();
}

#include "platform/service/SpeechService.h"

#include "platform/render/ParallelRender.h"
#include "platform/service/TTSEnumerator.h"

void RegisterSpeechService() {
    TTSEnumerator::RegisterClass();
    RegisterAudioDestinations();
}

void SetRenderJobs(unsigned jobs) {
    ParallelRender::SetJobs(jobs);
}

#pragma once
// The real speech service: registers the enumerator class (engines over espeak-ng
// and flite) and the two audio destination classes with the class registry.
void RegisterSpeechService();
// Registers only the sound-device and WAV-file destination classes.
void RegisterAudioDestinations();
// Processes that render a long text into a file at once (0: PARLEN_RENDER_JOBS, else
// one per core; 1: only the process itself).
void SetRenderJobs(unsigned jobs);

#pragma once
// Renders a text into a WAV file straight through the speech service (no component in
// between) and keeps the frame the engine gave each word: the file destination runs a
// word's mark when its frame is written, and the mark carries that frame.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ReferenceRender {
    // Word byte offset -> frame of the file where the word starts.
    std::map<uint32_t, uint64_t> wordFrames;
    std::vector<int16_t> samples;
    unsigned rate = 0;
    std::string error;

    // Renders text with the mode named voice into path; false with error. Needs the
    // caller's event loop (it runs one until the render ends or timeoutMs passes).
    bool Run(const std::string& voice, const std::string& text, const std::string& path,
             int timeoutMs);
};

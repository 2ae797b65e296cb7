#pragma once
// Festival, kept in a shared library of its own. Its speech tools define C symbols
// that flite defines too with other meanings (val_float and val_string are data there
// and functions in flite, swapfloat, ...), so the two cannot share one namespace of
// symbols: this library holds Festival and its speech tools with every symbol hidden
// but the few below. Its interpreter is not thread-safe: every call comes from the
// synthesis worker's thread.
#include <cstdint>
#include <string>
#include <vector>

#define PARLEN_FESTIVAL_API __attribute__((visibility("default")))

namespace festival_bridge {

struct Word {
    uint32_t at;   // byte offset of the word's token in the text handed over
    double start;  // seconds into the audio
};

struct Segment {
    std::string name;  // the phone, "pau" for a pause
    double start;      // seconds into the audio
};

struct Utterance {
    std::vector<int16_t> samples;
    unsigned rate = 0;        // samples per second
    std::vector<Word> words;  // in the order of the text
    std::vector<Segment> segments;
};

// Starts the interpreter the first time; false when it cannot start.
PARLEN_FESTIVAL_API bool Start();

// Makes voice (its Festival name, cmu_us_slt_arctic_hts) the current one.
PARLEN_FESTIVAL_API bool Select(const std::string& voice);

// Synthesises text (handed over as a string, never read as Scheme) with the current
// voice, `length` times as long as the voice's own.
PARLEN_FESTIVAL_API bool Synthesise(const std::string& text, double length, Utterance& out);

// Festival's version ("2.5.0") and the folder of its own data.
PARLEN_FESTIVAL_API std::string Version();
PARLEN_FESTIVAL_API std::string LibraryDirectory();

}  // namespace festival_bridge

#pragma once
// The Festival voices installed, found the way Festival finds them: directories
// DIR/LANGUAGE/NAME with a festvox/NAME.scm, on each DIR of its voice path. Each
// voice describes itself in that file with a (proclaim_voice 'NAME '((language ..)
// (gender ..) (dialect ..) ...)) form, which is read here as text: listing the voices
// never starts Festival's interpreter.
#include <string>
#include <string_view>
#include <vector>

struct FestivalVoiceInfo {
    std::string name;         // Festival's, e.g. cmu_us_slt_arctic_hts
    std::string speaker;      // slt
    std::string description;  // "US English female, HTS"
    std::string language;     // language tag, "en-us"
    std::string style;        // "HTS", "diphone", ...
    unsigned gender = 0;      // the mode record's: 1 female, 2 male, 0 not given
    unsigned rate = 16000;    // samples per second the voice is rendered at
    bool latin1 = false;      // reads ISO-8859-1 (or -15) text, by its declaration
};

// The directories Festival looks for voices in.
std::vector<std::string> FestivalVoicePath();

// Every voice found on the path, in name order; the first directory holding a name
// wins, as in Festival.
std::vector<FestivalVoiceInfo> FindFestivalVoices(const std::vector<std::string>& path);

// The alist of the first proclaim_voice form in a voice file's text, as (key, value)
// pairs of symbols and strings; empty when there is none.
std::vector<std::pair<std::string, std::string>> ProclaimedFeatures(std::string_view scheme);

// Festival's version, e.g. "2.5.0".
std::string FestivalVersion();

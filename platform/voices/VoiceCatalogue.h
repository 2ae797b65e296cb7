#pragma once
// The engine modes of the speech service: one per voice of espeak-ng, flite, Festival
// and RHVoice, with their mode records, ordered for the user's locale.
//
// Mode names read "<voice> - espeak-ng" (e.g. "English (America) - espeak-ng") and
// "<voice> (<description>) - flite" (e.g. "slt (US English female) - flite"), and
// the same for Festival ("slt (US English female, HTS) - festival") and RHVoice ("slt
// (US English female) - RHVoice"). Mode
// and engine identifiers are name-based, the same on every machine and run.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/voices/VoiceBackend.h"
#include "speech/speech.h"

struct VoiceMode {
    enum class Engine { Espeak, Flite, Festival, Rhvoice };
    Engine engine;
    std::string voice;     // espeak-ng identifier, flite, Festival or RHVoice voice name
    std::string language;  // language tag, "en-us", "de", ...
    TTSMODEINFOA info;
    unsigned rate = 0;    // Festival: samples per second to render at
    bool latin1 = false;  // Festival: the voice reads ISO-8859-1
};

// Every installed mode in the stable base order (espeak-ng's list, flite's, Festival's,
// then RHVoice's).
// Read once per process, through the synthesis worker.
const std::vector<VoiceMode>& AllVoiceModes();

// The user's locale: LC_ALL, else LC_MESSAGES, else LANG; "" when none is set.
std::string UserLocale();

// How well a voice's language tag ("en-us", "de", "en-gb-x-rp") suits a locale
// ("en_US.UTF-8", "de_DE", "C"): 0 language and region match, 1 the language
// matches, 2 otherwise. "C", "POSIX" and "" count as en_US.
int LocaleRank(std::string_view language, std::string_view locale);

// Modes as they lie in AllVoiceModes, in an order of their own.
using VoiceModeList = std::vector<const VoiceMode*>;

// The modes with the best-suited voices first (LocaleRank), each rank in base order.
VoiceModeList ModesForLocale(std::string_view locale);

// A new voice object for the mode.
std::unique_ptr<VoiceBackend> MakeVoiceBackend(const VoiceMode& mode);

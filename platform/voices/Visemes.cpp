#include "platform/voices/Visemes.h"

#include <cctype>
#include <cstring>

namespace {
// Height, width, upturn, jaw, upper teeth, lower teeth, tongue, lip tension.
constexpr TTSMOUTH kRest{0, 100, 128, 0, 0, 0, 0, 60};
constexpr TTSMOUTH kOpen{200, 140, 128, 220, 120, 60, 40, 80};          // a
constexpr TTSMOUTH kMid{130, 160, 140, 140, 160, 80, 80, 110};          // e, @
constexpr TTSMOUTH kSpread{70, 200, 150, 60, 200, 120, 120, 170};       // i
constexpr TTSMOUTH kRoundOpen{150, 70, 128, 160, 80, 40, 40, 150};      // o
constexpr TTSMOUTH kRound{80, 40, 128, 70, 40, 20, 40, 200};            // u, w
constexpr TTSMOUTH kClosed{0, 110, 128, 0, 0, 0, 0, 200};               // p b m
constexpr TTSMOUTH kLipTeeth{30, 130, 128, 30, 220, 0, 0, 160};         // f v
constexpr TTSMOUTH kTongueTeeth{40, 130, 128, 50, 200, 120, 250, 100};  // th
constexpr TTSMOUTH kAlveolar{40, 140, 128, 40, 180, 150, 200, 110};     // t d n l s z
constexpr TTSMOUTH kPostAlveolar{60, 90, 128, 60, 170, 130, 170, 170};  // sh ch j
constexpr TTSMOUTH kVelar{60, 120, 128, 80, 120, 80, 60, 100};          // k g ng h
constexpr TTSMOUTH kRhotic{70, 80, 128, 60, 120, 60, 150, 150};         // r

bool Starts(std::string_view s, const char* prefix) {
    return s.substr(0, std::strlen(prefix)) == prefix;
}
}  // namespace

TTSMOUTH RestingMouth() {
    return kRest;
}

bool SameMouth(const TTSMOUTH& a, const TTSMOUTH& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TTSMOUTH MouthForPhoneme(std::string_view name) {
    // espeak-ng marks stress and length with these; they do not shape the mouth.
    while (!name.empty() && std::strchr("'\",%=_:;|", name.front())) name.remove_prefix(1);
    if (name.empty() || Starts(name, "pau") || Starts(name, "sil")) return kRest;
    // Two-letter ARPAbet names first, where their first letter would mislead.
    if (Starts(name, "th") || Starts(name, "dh") || name[0] == 'T' || name[0] == 'D')
        return kTongueTeeth;
    if (Starts(name, "sh") || Starts(name, "ch") || Starts(name, "zh") || Starts(name, "jh") ||
        name[0] == 'S' || name[0] == 'Z' || name[0] == 'j' || Starts(name, "tS") ||
        Starts(name, "dZ"))
        return kPostAlveolar;
    if (Starts(name, "ng") || name[0] == 'N') return kVelar;
    if (Starts(name, "aw") || Starts(name, "ow") || Starts(name, "oy") || Starts(name, "ao"))
        return kRoundOpen;
    if (Starts(name, "uw") || Starts(name, "uh") || Starts(name, "er")) return kRound;
    if (Starts(name, "iy") || Starts(name, "ih") || Starts(name, "ey")) return kSpread;
    if (Starts(name, "ae") || Starts(name, "eh") || Starts(name, "ah") || Starts(name, "ax"))
        return kMid;
    if (name[0] == 'V') return kMid;  // espeak-ng's open-mid back vowel
    switch (std::tolower(static_cast<unsigned char>(name[0]))) {
        case 'a':
            return kOpen;
        case 'e':
        case '@':
        case '3':
            return kMid;
        case 'i':
        case 'y':
            return kSpread;
        case 'o':
        case '0':
            return kRoundOpen;
        case 'u':
        case 'w':
            return kRound;
        case 'p':
        case 'b':
        case 'm':
            return kClosed;
        case 'f':
        case 'v':
            return kLipTeeth;
        case 't':
        case 'd':
        case 'n':
        case 'l':
        case 's':
        case 'z':
            return kAlveolar;
        case 'k':
        case 'g':
        case 'h':
        case 'x':
        case 'q':
        case 'c':
            return kVelar;
        case 'r':
            return kRhotic;
        default:
            return kMid;
    }
}

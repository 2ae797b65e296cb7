#include "platform/voices/VoiceCatalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/Guid.h"
#include "platform/voices/EspeakVoice.h"
#include "platform/voices/FestivalVoice.h"
#include "platform/voices/FestivalVoices.h"
#include "platform/voices/FliteVoice.h"
#include "platform/voices/RhvoiceVoice.h"
#include "platform/voices/SynthesisWorker.h"

namespace {
// Interface and feature bits of the mode record.
constexpr DWORD kInterfaceCentral = 0x1;
constexpr DWORD kInterfaceAttributes = 0x4;
constexpr DWORD kInterfaceDialogs = 0x2;
constexpr DWORD kFeatureVolume = 0x2;
constexpr DWORD kFeatureSpeed = 0x4;
constexpr DWORD kFeaturePitch = 0x8;
constexpr DWORD kFeatureVisual = 0x40;
constexpr DWORD kFeatureWordPosition = 0x80;

void Copy(char* field, size_t size, std::string_view text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

TTSMODEINFOA Record(std::string_view engine, std::string_view modeKey, const std::string& name,
                    std::string_view manufacturer, std::string_view product,
                    std::string_view dialect, std::string_view speaker, std::string_view style,
                    WORD gender, WORD age) {
    TTSMODEINFOA r{};
    r.gEngineID = GuidFromName(engine);
    r.gModeID = GuidFromName(modeKey);
    Copy(r.szModeName, sizeof r.szModeName, name);
    Copy(r.szMfgName, sizeof r.szMfgName, manufacturer);
    Copy(r.szProductName, sizeof r.szProductName, product);
    Copy(r.language.szDialect, sizeof r.language.szDialect, dialect);
    Copy(r.szSpeaker, sizeof r.szSpeaker, speaker);
    Copy(r.szStyle, sizeof r.szStyle, style);
    r.wGender = gender;
    r.wAge = age;
    r.dwFeatures =
        kFeatureVolume | kFeatureSpeed | kFeaturePitch | kFeatureVisual | kFeatureWordPosition;
    r.dwInterfaces = kInterfaceCentral | kInterfaceAttributes | kInterfaceDialogs;
    return r;
}

std::vector<VoiceMode> ReadModes() {
    std::vector<EspeakVoiceInfo> espeak;
    std::string espeakVersion;
    std::vector<RhvoiceVoiceInfo> rhvoice;
    std::string rhvoiceVersion;
    SynthesisWorker::Instance().RunSync([&] {
        espeak = EspeakVoice::ListVoices();
        espeakVersion = EspeakVoice::Version();
        rhvoice = RhvoiceVoice::Voices();
        rhvoiceVersion = RhvoiceVoice::Version();
    });
    std::vector<VoiceMode> modes;
    modes.reserve(espeak.size() + FliteVoice::Voices().size() + 16);
    std::set<std::string> names;
    for (const auto& v : espeak) {
        std::string name = v.name + " - espeak-ng";
        // Names must stay unique; the identifier tells twins apart.
        if (!names.insert(name).second) {
            name = v.name + " [" + v.identifier + "] - espeak-ng";
            if (!names.insert(name).second) continue;
        }
        const WORD gender = v.gender == 1   ? GENDER_MALE
                            : v.gender == 2 ? GENDER_FEMALE
                                            : GENDER_NEUTRAL;
        modes.push_back(
            VoiceMode{VoiceMode::Engine::Espeak, v.identifier, v.language,
                      Record("espeak-ng", "espeak-ng/" + v.identifier, name, "eSpeak NG project",
                             "espeak-ng " + espeakVersion, v.language, v.name, "Normal", gender,
                             static_cast<WORD>(v.age))});
    }
    for (const auto& v : FliteVoice::Voices()) {
        const std::string name = v.name + " (" + v.description + ") - flite";
        if (!names.insert(name).second) continue;
        modes.push_back(VoiceMode{
            VoiceMode::Engine::Flite, v.name, v.name == "awb" ? "en-gb-scotland" : "en-us",
            Record("flite", "flite/" + v.name, name, "Carnegie Mellon University",
                   "flite " + FliteVoice::Version(), v.name == "awb" ? "en-gb-scotland" : "en-us",
                   v.name, v.style, static_cast<WORD>(v.gender), 0)});
    }
    // Found on disk: Festival itself starts only when one of its voices is used.
    for (const auto& v : FindFestivalVoices(FestivalVoicePath())) {
        const std::string name = v.speaker + " (" + v.description + ") - festival";
        if (!names.insert(name).second) continue;
        VoiceMode mode{VoiceMode::Engine::Festival, v.name, v.language,
                       Record("festival", "festival/" + v.name, name, "University of Edinburgh",
                              "festival " + FestivalVersion(), v.language, v.speaker, v.style,
                              static_cast<WORD>(v.gender), 0)};
        mode.rate = v.rate;
        mode.latin1 = v.latin1;
        modes.push_back(std::move(mode));
    }
    // RHVoice's own list: none where RHVoice is not installed.
    for (const auto& v : rhvoice) {
        const std::string name = v.speaker + " (" + v.description + ") - RHVoice";
        if (!names.insert(name).second) continue;
        VoiceMode mode{VoiceMode::Engine::Rhvoice, v.name, v.language,
                       Record("RHVoice", "RHVoice/" + v.name, name, "RHVoice project",
                              "RHVoice " + rhvoiceVersion, v.language, v.speaker, "HTS",
                              static_cast<WORD>(v.gender), 0)};
        // RHVoice tells no phonemes: its voices show no mouth shapes.
        mode.info.dwFeatures &= ~kFeatureVisual;
        modes.push_back(std::move(mode));
    }
    return modes;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
}  // namespace

const std::vector<VoiceMode>& AllVoiceModes() {
    static const std::vector<VoiceMode> modes = ReadModes();
    return modes;
}

std::string UserLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "";
}

int LocaleRank(std::string_view language, std::string_view locale) {
    // "de_DE.UTF-8@euro" -> language "de", region "de".
    std::string loc = Lower(locale.substr(0, locale.find_first_of(".@")));
    if (loc.empty() || loc == "c" || loc == "posix") loc = "en_us";
    const size_t sep = loc.find_first_of("_-");
    const std::string locLang = loc.substr(0, sep);
    const std::string locRegion = sep == std::string::npos ? "" : loc.substr(sep + 1);

    const std::string tag = Lower(language);
    const size_t dash = tag.find('-');
    const std::string lang = tag.substr(0, dash);
    if (lang != locLang) return 2;
    if (locRegion.empty() || dash == std::string::npos) return 1;
    const std::string rest = tag.substr(dash + 1);
    const std::string region = rest.substr(0, rest.find('-'));
    return region == locRegion ? 0 : 1;
}

VoiceModeList ModesForLocale(std::string_view locale) {
    // Each mode is ranked once; the records themselves stay where the catalogue keeps
    // them, as the list is made at every start.
    const std::vector<VoiceMode>& all = AllVoiceModes();
    std::vector<std::pair<int, size_t>> order;
    order.reserve(all.size());
    for (size_t i = 0; i < all.size(); ++i)
        order.emplace_back(LocaleRank(all[i].language, locale), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    VoiceModeList modes;
    modes.reserve(all.size());
    for (const auto& [rank, i] : order) modes.push_back(&all[i]);
    return modes;
}

std::unique_ptr<VoiceBackend> MakeVoiceBackend(const VoiceMode& mode) {
    if (mode.engine == VoiceMode::Engine::Espeak) return std::make_unique<EspeakVoice>(mode.voice);
    if (mode.engine == VoiceMode::Engine::Festival)
        return std::make_unique<FestivalVoice>(mode.voice, mode.rate, mode.latin1);
    if (mode.engine == VoiceMode::Engine::Rhvoice)
        return std::make_unique<RhvoiceVoice>(mode.voice);
    return std::make_unique<FliteVoice>(mode.voice);
}

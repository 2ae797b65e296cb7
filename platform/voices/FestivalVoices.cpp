#include "platform/voices/FestivalVoices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/festival/FestivalBridge.h"

namespace fs = std::filesystem;

namespace {
// At most limit bytes of the file, read as far as it goes: a voice file is a few KB, and
// the list is read at every start of the program.
std::string ReadFile(const fs::path& path, size_t limit = 1 << 20) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char chunk[16384];
    while (in && text.size() < limit) {
        in.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, limit - text.size())));
        text.append(chunk, static_cast<size_t>(in.gcount()));
    }
    return text;
}

// A Scheme reader just large enough for a voice's proclamation: lists, strings,
// symbols and quotes, comments skipped.
struct Reader {
    std::string_view s;
    size_t i = 0;

    void Skip() {
        while (i < s.size()) {
            if (std::isspace(static_cast<unsigned char>(s[i]))) {
                ++i;
            } else if (s[i] == ';') {
                while (i < s.size() && s[i] != '\n') ++i;
            } else {
                return;
            }
        }
    }
    // Reads one datum; lists come back as their items, atoms as one string.
    bool Atom(std::string& out) {
        Skip();
        if (i >= s.size() || s[i] == '(' || s[i] == ')') return false;
        out.clear();
        if (s[i] == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < s.size()) ++i;
                out += s[i];
            }
            ++i;
            return true;
        }
        while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '(' &&
               s[i] != ')')
            out += s[i++];
        return true;
    }
    bool Open() {
        Skip();
        if (i < s.size() && s[i] == '\'') ++i;
        Skip();
        if (i >= s.size() || s[i] != '(') return false;
        ++i;
        return true;
    }
    bool Close() {
        Skip();
        if (i >= s.size() || s[i] != ')') return false;
        ++i;
        return true;
    }
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Capitalised(std::string s) {
    if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

// The synthesis method a voice's name ends with, as the mode's style.
std::string StyleOf(const std::string& suffix) {
    static const std::map<std::string, std::string> styles{
        {"hts", "HTS"},       {"diphone", "diphone"},   {"clunits", "unit selection"},
        {"cg", "clustergen"}, {"multisyn", "multisyn"}, {"ldom", "limited domain"},
        {"mbrola", "MBROLA"},
    };
    auto it = styles.find(suffix);
    return it == styles.end() ? "" : it->second;
}

std::string LanguageTag(const std::string& language, const std::string& dialect) {
    static const std::map<std::string, std::string> codes{
        {"english", "en"}, {"catalan", "ca"}, {"spanish", "es"}, {"czech", "cs"},
        {"finnish", "fi"}, {"italian", "it"}, {"russian", "ru"}, {"hindi", "hi"},
        {"marathi", "mr"}, {"telugu", "te"},  {"welsh", "cy"},   {"german", "de"},
        {"french", "fr"},  {"polish", "pl"},  {"japanese", "ja"}};
    static const std::map<std::string, std::string> regions{
        {"american", "us"}, {"british", "gb"}, {"scottish", "gb-scotland"}};
    auto code = codes.find(language);
    std::string tag = code == codes.end() ? language : code->second;
    if (auto region = regions.find(dialect); region != regions.end()) tag += "-" + region->second;
    return tag;
}

std::string LanguageWords(const std::string& language, const std::string& dialect) {
    static const std::map<std::string, std::string> dialects{
        {"american", "US"}, {"british", "British"}, {"scottish", "Scottish"}};
    std::string words = Capitalised(language);
    if (dialect.empty()) return words;
    auto it = dialects.find(dialect);
    return (it == dialects.end() ? Capitalised(dialect) : it->second) + " " + words;
}

unsigned HtsRate(const fs::path& voiceDir) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(voiceDir / "hts", ec)) {
        if (entry.path().extension() != ".htsvoice") continue;
        std::istringstream header(ReadFile(entry.path(), 4096));
        for (std::string line; std::getline(header, line);)
            if (line.rfind("SAMPLING_FREQUENCY:", 0) == 0)
                return static_cast<unsigned>(std::strtoul(line.c_str() + 19, nullptr, 10));
    }
    return 0;
}

FestivalVoiceInfo Describe(const std::string& name, const std::string& languageDir,
                           const fs::path& dir) {
    std::map<std::string, std::string> features;
    for (auto& [key, value] : ProclaimedFeatures(ReadFile(dir / "festvox" / (name + ".scm"))))
        features.emplace(Lower(key), value);
    std::vector<std::string> parts;
    std::istringstream split(name);
    for (std::string part; std::getline(split, part, '_');) parts.push_back(Lower(part));
    FestivalVoiceInfo v;
    v.name = name;
    v.style = parts.empty() ? "" : StyleOf(parts.back());
    if (!v.style.empty()) parts.pop_back();
    std::erase(parts, "arctic");
    // institution_country_speaker (cmu_us_slt), else the speaker first (kal).
    v.speaker = parts.size() >= 3 && parts[1].size() == 2 ? parts[2]
                : parts.empty()                           ? name
                                                          : parts[0];
    const std::string language =
        Lower(features.count("language") ? features["language"] : languageDir);
    const std::string dialect = Lower(features["dialect"]);
    const std::string gender = Lower(features["gender"]);
    v.gender = gender == "female" ? 1 : gender == "male" ? 2 : 0;
    v.language = LanguageTag(language, dialect);
    v.description = LanguageWords(language, dialect);
    if (v.gender) v.description += gender == "female" ? " female" : " male";
    if (!v.style.empty()) v.description += ", " + v.style;
    if (const unsigned rate = HtsRate(dir)) v.rate = rate;
    v.latin1 = Lower(features["coding"]).rfind("iso-8859", 0) == 0;
    return v;
}
}  // namespace

std::vector<std::pair<std::string, std::string>> ProclaimedFeatures(std::string_view scheme) {
    std::vector<std::pair<std::string, std::string>> out;
    // The first one outside a comment.
    size_t at = 0;
    for (;; ++at) {
        at = scheme.find("(proclaim_voice", at);
        if (at == std::string_view::npos) return out;
        const size_t line = scheme.rfind('\n', at);
        const size_t from = line == std::string_view::npos ? 0 : line + 1;
        if (scheme.substr(from, at - from).find(';') == std::string_view::npos) break;
    }
    Reader r{scheme, at + 1};
    std::string word;
    if (!r.Atom(word) || !r.Atom(word) || !r.Open()) return out;  // 'proclaim_voice 'NAME
    // Each entry: (key value ...); a value that is a list or missing is left out.
    while (r.Open()) {
        std::string key, value;
        const bool pair = r.Atom(key) && r.Atom(value);
        int depth = 1;
        while (depth > 0 && r.i < r.s.size()) {
            if (r.s[r.i] == '"') {
                r.Atom(word);
                continue;
            }
            depth += r.s[r.i] == '(' ? 1 : r.s[r.i] == ')' ? -1 : 0;
            ++r.i;
        }
        if (pair) out.emplace_back(key, value);
    }
    return out;
}

std::vector<std::string> FestivalVoicePath() {
    std::vector<std::string> path{festival_bridge::LibraryDirectory() + "/voices",
                                  "/usr/share/festival/voices"};
    std::vector<std::string> unique;
    std::set<std::string> seen;
    for (auto& dir : path) {
        std::error_code ec;
        const std::string key = fs::weakly_canonical(dir, ec).string();
        if (seen.insert(ec ? dir : key).second) unique.push_back(dir);
    }
    return unique;
}

std::vector<FestivalVoiceInfo> FindFestivalVoices(const std::vector<std::string>& path) {
    std::map<std::string, FestivalVoiceInfo> voices;
    for (const std::string& root : path) {
        std::error_code ec;
        for (const auto& language : fs::directory_iterator(root, ec)) {
            std::error_code inner;
            for (const auto& voice : fs::directory_iterator(language.path(), inner)) {
                const std::string name = voice.path().filename().string();
                if (name.find('.') != std::string::npos || voices.count(name)) continue;
                if (!fs::is_regular_file(voice.path() / "festvox" / (name + ".scm"), inner))
                    continue;
                voices.emplace(name,
                               Describe(name, language.path().filename().string(), voice.path()));
            }
        }
    }
    std::vector<FestivalVoiceInfo> out;
    for (auto& [name, info] : voices) out.push_back(std::move(info));
    return out;
}

std::string FestivalVersion() {
    return festival_bridge::Version();
}

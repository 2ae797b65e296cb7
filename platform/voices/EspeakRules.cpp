#include "platform/voices/EspeakRules.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {
// The codes of espeak-ng's compiled rules.
constexpr char kGroupStart = 6;
constexpr char kGroupEnd = 7;
constexpr char kLetterGroup = 18;   // a ".L" letter group: its code and letter follow
constexpr char kReplacements = 20;  // character replacements, word-aligned, up to four NULs
constexpr size_t kHashChains = 1024;

// Where the NUL that ends the rules lies, and whether a group without a name came
// before it; nothing when the bytes are not rules as espeak-ng writes them.
struct RulesEnd {
    size_t end = 0;
    bool hasDefault = false;
};
std::optional<RulesEnd> ScanRules(std::string_view d, size_t rules) {
    RulesEnd out;
    size_t p = rules;
    const auto at = [&](size_t i) { return i < d.size() ? d[i] : kGroupEnd; };
    if (p >= d.size()) return std::nullopt;
    // A dictionary without rules has only the end mark; it never reaches the rules.
    if (d[p] == kGroupEnd) return std::nullopt;
    while (p < d.size() && d[p] != 0) {
        if (d[p] != kGroupStart) return std::nullopt;
        ++p;
        if (at(p) == kReplacements) {
            // Aligned as espeak-ng aligns it in memory: the file's start is word-aligned
            // there, so offsets align alike.
            p = (p + 4) & ~size_t{3};
            while (p + 4 <= d.size() && std::memcmp(d.data() + p, "\0\0\0\0", 4) != 0) ++p;
            while (p < d.size() && d[p] != kGroupEnd) ++p;
            if (p >= d.size()) return std::nullopt;
            ++p;
            continue;
        }
        if (at(p) == kLetterGroup) {
            p += 2;
        } else {
            const size_t name = d.find('\0', p);
            if (name == std::string_view::npos) return std::nullopt;
            if (name == p) out.hasDefault = true;
            p = name + 1;
        }
        while (p < d.size() && d[p] != kGroupEnd) {
            const size_t rule = d.find('\0', p);
            if (rule == std::string_view::npos) return std::nullopt;
            p = rule + 1;
        }
        if (p >= d.size()) return std::nullopt;
        ++p;
    }
    if (p >= d.size()) return std::nullopt;
    out.end = p;
    return out;
}

uint32_t ReadWord(std::string_view d, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, d.data() + at, sizeof v);  // little-endian, as espeak-ng writes it here
    return v;
}

uint64_t Fnv(uint64_t hash, std::string_view bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

std::optional<std::string> ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

bool WriteWhole(const fs::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    return !out.fail();
}

// Links every entry of the system's data folder into folder/espeak-ng-data, writing
// the mended dictionaries instead; false when any of it fails.
bool FillCopy(const fs::path& system, const fs::path& copy,
              const std::vector<std::pair<std::string, std::string>>& mended) {
    std::error_code ec;
    fs::create_directory(copy, ec);
    if (ec) return false;
    for (const auto& entry : fs::directory_iterator(system, ec)) {
        const std::string name = entry.path().filename();
        const auto it = std::find_if(mended.begin(), mended.end(),
                                     [&](const auto& m) { return m.first == name; });
        if (it != mended.end()) {
            if (!WriteWhole(copy / name, it->second)) return false;
        } else {
            fs::create_symlink(entry.path(), copy / name, ec);
            if (ec) return false;
        }
    }
    return !ec;
}

std::vector<fs::path> Roots() {
    std::vector<fs::path> roots;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        roots.emplace_back(fs::path(cache) / "parlenmaker");
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        roots.emplace_back(fs::path(home) / ".cache" / "parlenmaker");
    const char* tmp = std::getenv("TMPDIR");
    roots.emplace_back(fs::path(tmp && *tmp == '/' ? tmp : "/tmp") /
                       ("parlenmaker-" + std::to_string(getuid())));
    // espeak-ng keeps its data path in a buffer of 160 bytes, with file names after it.
    std::erase_if(roots, [](const fs::path& root) { return root.string().size() > 80; });
    return roots;
}
}  // namespace

std::optional<std::string> WithDefaultRuleGroup(std::string_view dictionary) {
    if (dictionary.size() < 8 + kHashChains) return std::nullopt;
    if (ReadWord(dictionary, 0) != kHashChains) return std::nullopt;
    const uint32_t rules = ReadWord(dictionary, 4);
    if (rules < 8 + kHashChains || rules >= dictionary.size()) return std::nullopt;
    const std::optional<RulesEnd> end = ScanRules(dictionary, rules);
    if (!end || end->hasDefault) return std::nullopt;
    std::string out(dictionary);
    out.insert(end->end, std::string{kGroupStart, '\0', kGroupEnd});
    return out;
}

bool ReadsUnsetMatchRecord(std::string_view version) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(std::string(version).c_str(), "%u.%u", &major, &minor) != 2) return false;
    return major < 1 || (major == 1 && minor < 52);
}

std::string MendedEspeakDataParent(const std::string& systemData, std::string_view version) {
    if (systemData.empty() || !ReadsUnsetMatchRecord(version)) return {};
    // The name: the version and every dictionary's name, size and time.
    std::error_code ec;
    std::vector<fs::path> dictionaries;
    for (const auto& entry : fs::directory_iterator(systemData, ec))
        if (entry.path().filename().string().ends_with("_dict"))
            dictionaries.push_back(entry.path());
    if (ec || dictionaries.empty()) return {};
    std::sort(dictionaries.begin(), dictionaries.end());
    uint64_t hash = Fnv(14695981039346656037ULL, version);
    for (const fs::path& path : dictionaries) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return {};
        hash = Fnv(hash, path.filename().string() + " " + std::to_string(st.st_size) + " " +
                             std::to_string(st.st_mtim.tv_sec) + "." +
                             std::to_string(st.st_mtim.tv_nsec) + "\n");
    }
    char name[40];
    std::snprintf(name, sizeof name, "espeak-ng-%016llx", static_cast<unsigned long long>(hash));
    for (const fs::path& root : Roots()) {
        const fs::path folder = root / name;
        if (fs::is_directory(folder / "espeak-ng-data", ec)) return folder.string();
    }
    // Not made yet: read the dictionaries (about 6 MB) once.
    std::vector<std::pair<std::string, std::string>> mended;
    for (const fs::path& path : dictionaries) {
        const std::optional<std::string> data = ReadWhole(path);
        if (!data) return {};
        if (std::optional<std::string> with = WithDefaultRuleGroup(*data))
            mended.emplace_back(path.filename().string(), std::move(*with));
    }
    if (mended.empty()) return {};
    for (const fs::path& root : Roots()) {
        fs::create_directories(root, ec);
        const std::string pattern = (root / ".espeak-ng-XXXXXX").string();
        std::vector<char> temp(pattern.begin(), pattern.end());
        temp.push_back('\0');
        if (!::mkdtemp(temp.data())) continue;
        const fs::path made(temp.data());
        const fs::path folder = root / name;
        // Another process may finish the same copy first: either one serves.
        if (FillCopy(systemData, made / "espeak-ng-data", mended) &&
            (::rename(made.c_str(), folder.c_str()) == 0 ||
             fs::is_directory(folder / "espeak-ng-data", ec))) {
            fs::remove_all(made, ec);
            return folder.string();
        }
        fs::remove_all(made, ec);
    }
    return {};
}

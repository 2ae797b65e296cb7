#include "platform/voices/EspeakVoiceCache.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "support/FileReplace.h"

namespace {
constexpr std::string_view kHeader = "parlen espeak-ng voices 1\n";

std::string StampOf(const std::string& dataDir, const std::string& relative,
                    long long* newest = nullptr) {
    struct stat st {};
    if (::lstat((dataDir + "/" + relative).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    if (newest) *newest = std::max<long long>(*newest, st.st_mtim.tv_sec);
    return std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_mtim.tv_nsec) + " " +
           std::to_string(st.st_ino) + " " + relative;
}

void StampTree(const std::string& dataDir, const std::string& relative, int depth,
               EspeakVoiceFolders& folders) {
    std::string stamp = StampOf(dataDir, relative, &folders.newest);
    if (stamp.empty() || depth > 8) return;
    folders.lines.push_back(std::move(stamp));
    DIR* dir = ::opendir((dataDir + "/" + relative).c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        // StampOf tells folders from anything else where the type is unknown.
        StampTree(dataDir, relative + "/" + std::string(name), depth + 1, folders);
    }
    ::closedir(dir);
}

bool Storable(std::string_view field) {
    return field.find_first_of("\t\n") == std::string_view::npos;
}

// Splits "a\tb\tc" into exactly n fields.
bool Fields(std::string_view line, size_t n, std::vector<std::string_view>& out) {
    out.clear();
    for (size_t i = 0; i + 1 < n; ++i) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return false;
        out.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    out.push_back(line);
    return true;
}

bool Number(std::string_view text, unsigned& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}
}  // namespace

EspeakVoiceFolders StampVoiceFolders(const std::string& dataDir) {
    EspeakVoiceFolders folders{dataDir, {}, 0};
    for (const char* top : {"voices", "lang"}) StampTree(dataDir, top, 0, folders);
    return folders;
}

std::optional<std::vector<EspeakVoiceInfo>> LoadVoiceCache(const std::string& cacheFile,
                                                           const std::string& key) {
    // A list of every voice is some kilobytes; anything much larger is not ours.
    struct stat st {};
    if (cacheFile.empty() || ::stat(cacheFile.c_str(), &st) != 0 || st.st_size > (1 << 20))
        return std::nullopt;
    std::string text;
    if (!ReadWholeFile(cacheFile, text) || !text.starts_with(kHeader) || !text.ends_with('\n'))
        return std::nullopt;
    std::string_view rest = std::string_view(text).substr(kHeader.size());
    std::vector<EspeakVoiceInfo> voices;
    std::string dataDir;
    bool keyed = false;
    std::vector<std::string_view> f;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        if (line.starts_with("key\t")) {
            if (!Fields(line, 3, f) || f[1] != key) return std::nullopt;
            dataDir = f[2];
            keyed = true;
        } else if (line.starts_with("dir\t") && keyed) {
            const std::string stamp(line.substr(4));
            const size_t third = stamp.find(' ', stamp.find(' ', stamp.find(' ') + 1) + 1);
            if (third == std::string::npos || StampOf(dataDir, stamp.substr(third + 1)) != stamp)
                return std::nullopt;
        } else if (line.starts_with("voice\t") && keyed) {
            EspeakVoiceInfo v;
            if (!Fields(line, 6, f) || !Number(f[1], v.gender) || !Number(f[2], v.age))
                return std::nullopt;
            v.identifier = f[3];
            v.language = f[4];
            v.name = f[5];
            voices.push_back(std::move(v));
        } else {
            return std::nullopt;
        }
    }
    if (!keyed) return std::nullopt;
    return voices;
}

bool SaveVoiceCache(const std::string& cacheFile, const std::string& key,
                    const EspeakVoiceFolders& folders, const std::vector<EspeakVoiceInfo>& voices) {
    if (cacheFile.empty() || !Storable(key) || !Storable(folders.dataDir) ||
        folders.newest > static_cast<long long>(std::time(nullptr)) - 2)
        return false;
    std::string text(kHeader);
    text += "key\t" + key + "\t" + folders.dataDir + "\n";
    for (const std::string& line : folders.lines) {
        if (!Storable(line)) return false;
        text += "dir\t" + line + "\n";
    }
    for (const EspeakVoiceInfo& v : voices) {
        if (!Storable(v.identifier) || !Storable(v.language) || !Storable(v.name)) return false;
        text += "voice\t" + std::to_string(v.gender) + "\t" + std::to_string(v.age) + "\t" +
                v.identifier + "\t" + v.language + "\t" + v.name + "\n";
    }
    const size_t slash = cacheFile.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string folder = cacheFile.substr(0, slash);
        // The parent (~/.cache) may be missing on a fresh account; the file's own folder
        // is private, as the cache specification asks.
        ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
        ::mkdir(folder.c_str(), 0700);
    }
    return ReplaceFileContents(cacheFile, [&](const std::string*) { return text; });
}

std::string DefaultVoiceCacheFile() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::string(cache) + "/parlenmaker/espeak-voices";
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.cache/parlenmaker/espeak-voices";
    return {};
}

#include "lexicon/Store.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "lexicon/Pls.h"

namespace lexicon {
namespace {
std::string Slug(std::string_view name) {
    std::string out;
    for (const char c : FoldCase(name)) {
        const auto u = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || u >= 0x80)
            out += c;
        else if (!out.empty() && out.back() != '-')
            out += '-';
    }
    while (!out.empty() && out.back() == '-') out.pop_back();
    return out.empty() ? "unnamed" : out;
}

void MakeFolder(const std::string& folder) {
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            throw LexiconError("Cannot make the lexicon folder " + part + ": " +
                               std::strerror(errno));
    }
}

std::vector<std::string> PlsFiles(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT) return names;
        throw LexiconError("Cannot read the lexicon folder " + folder + ": " +
                           std::strerror(errno));
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pls") == 0 && name[0] != '.')
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The order in which lexicons win: by scope, the voice's first; among one scope, in
// the order given.
std::vector<Lexicon> InOrder(std::vector<const Lexicon*> applying) {
    std::stable_sort(applying.begin(), applying.end(), [](const Lexicon* a, const Lexicon* b) {
        return static_cast<int>(a->scope) > static_cast<int>(b->scope);
    });
    std::vector<Lexicon> out;
    for (const Lexicon* l : applying) out.push_back(*l);
    return out;
}
}  // namespace

std::string UserLexiconFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/parlenmaker/lexicons";
}

std::string UserLexiconFile(const Lexicon& lexicon) {
    switch (lexicon.scope) {
        case Scope::Global:
            return "global.pls";
        case Scope::Language:
            return "language-" + Slug(lexicon.language) + ".pls";
        case Scope::Voice:
            return "voice-" + Slug(lexicon.voice) + ".pls";
    }
    return "global.pls";
}

std::vector<Lexicon> LoadLexiconFolder(const std::string& folder) {
    std::vector<Lexicon> lexicons;
    for (const std::string& name : PlsFiles(folder))
        lexicons.push_back(LoadPlsFile(folder + "/" + name));
    return lexicons;
}

void SaveLexiconFolder(const std::string& folder, const std::vector<Lexicon>& lexicons) {
    MakeFolder(folder);
    // Lexicons of one scope (a file of the user's own beside ours) go into one file,
    // in order, so that nothing is lost.
    std::map<std::string, Lexicon> files;
    for (const Lexicon& lexicon : lexicons) {
        const auto [it, made] = files.emplace(UserLexiconFile(lexicon), lexicon);
        if (!made)
            it->second.entries.insert(it->second.entries.end(), lexicon.entries.begin(),
                                      lexicon.entries.end());
    }
    std::set<std::string> kept;
    for (const auto& [name, lexicon] : files) {
        SavePlsFile(folder + "/" + name, lexicon);
        kept.insert(name);
    }
    for (const std::string& name : PlsFiles(folder))
        if (!kept.count(name) && ::unlink((folder + "/" + name).c_str()) != 0)
            throw LexiconError("Cannot remove the lexicon " + folder + "/" + name + ": " +
                               std::strerror(errno));
}

Store& Store::Instance() {
    static Store store;
    return store;
}

void Store::UseUserLexicons(bool use) {
    std::lock_guard lock(mutex_);
    useUser_ = use;
    ++generation_;
}

void Store::AddLexiconFile(const std::string& path) {
    Lexicon lexicon = LoadPlsFile(path);
    std::lock_guard lock(mutex_);
    extra_.push_back(std::move(lexicon));
    ++generation_;
}

void Store::SetUserLexicons(std::vector<Lexicon> lexicons) {
    std::lock_guard lock(mutex_);
    user_ = std::move(lexicons);
    userLoaded_ = true;
    ++generation_;
}

void Store::LoadUserLocked() {
    if (userLoaded_) return;
    user_ = LoadLexiconFolder(UserLexiconFolder());
    userLoaded_ = true;
}

std::vector<Lexicon> Store::UserLexicons() {
    std::lock_guard lock(mutex_);
    LoadUserLocked();
    return user_;
}

void Store::UseDocumentLexicons(const std::vector<std::pair<std::string, std::string>>& files,
                                const std::string& documentName,
                                std::vector<std::string>& problems) {
    std::vector<Lexicon> lexicons;
    for (const auto& [name, bytes] : files) {
        try {
            lexicons.push_back(ReadPls(bytes, documentName + ": " + name));
        } catch (const LexiconError& e) {
            problems.push_back(e.what());
        }
    }
    SetDocumentLexicons(std::move(lexicons));
}

void Store::SetDocumentLexicons(std::vector<Lexicon> lexicons) {
    std::lock_guard lock(mutex_);
    document_ = std::move(lexicons);
    ++generation_;
}

std::shared_ptr<const Rewriter> Store::ForVoice(const std::string& voiceName,
                                                const std::string& language, bool espeak) {
    std::lock_guard lock(mutex_);
    if (useUser_) LoadUserLocked();
    const std::string key = voiceName + '\n' + language + '\n' + (espeak ? "e" : "o");
    for (const Cached& c : cache_)
        if (c.key == key && c.generation == generation_) return c.rewriter;
    std::vector<const Lexicon*> applying;
    for (const std::vector<Lexicon>* group : {&document_, &extra_, useUser_ ? &user_ : nullptr}) {
        if (!group) continue;
        for (const Lexicon& l : *group)
            if (AppliesTo(l, voiceName, language)) applying.push_back(&l);
    }
    std::shared_ptr<const Rewriter> rewriter;
    if (!applying.empty()) {
        auto made = std::make_shared<Rewriter>(InOrder(std::move(applying)), espeak);
        if (!made->Empty()) rewriter = std::move(made);
    }
    std::erase_if(cache_,
                  [&](const Cached& c) { return c.key == key || c.generation != generation_; });
    cache_.push_back({key, generation_, rewriter});
    return rewriter;
}

}  // namespace lexicon

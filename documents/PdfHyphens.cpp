#include "documents/PdfHyphens.h"

#include <hunspell.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "support/Unicode.h"

namespace documents {
namespace {

bool Exists(const std::string& folder, const std::string& name) {
    std::error_code ec;
    return std::filesystem::is_regular_file(folder + "/" + name + ".aff", ec) &&
           std::filesystem::is_regular_file(folder + "/" + name + ".dic", ec);
}

// A dictionary for the language: its own region's, else the usual one of its language
// (en_US for "en"), else any of its language's in name order.
std::string FindDictionary(const std::string& folder, std::string_view language) {
    const std::string name = DictionaryName(language);
    if (name.empty()) return {};
    if (name.find('_') != std::string::npos && Exists(folder, name)) return name;
    const std::string primary = name.substr(0, name.find('_'));
    std::string upper = primary;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (Exists(folder, primary + "_" + upper)) return primary + "_" + upper;
    if (primary == "en" && Exists(folder, "en_US")) return "en_US";
    if (Exists(folder, primary)) return primary;
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (file.starts_with(primary + "_") && file.ends_with(".aff") &&
            Exists(folder, file.substr(0, file.size() - 4)))
            found.push_back(file.substr(0, file.size() - 4));
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}

std::string LocaleLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value) {
            const std::string_view v(value);
            return std::string(v.substr(0, v.find_first_of(".@")));
        }
    return {};
}

// Word endings a break comes before, for when no dictionary is at hand: a compound's
// second half is a word of its own, these never are.
bool CommonEnding(std::string_view right) {
    static constexpr std::string_view kEndings[] = {
        "tion",  "tions", "sion", "sions", "ment", "ments", "ness", "ing",  "ings", "ity",  "ities",
        "tive",  "tives", "ive",  "able",  "ible", "ally",  "ous",  "ence", "ance", "ical", "ture",
        "tures", "ly",    "ed",   "er",    "ers",  "est",   "ism",  "ist",  "ists"};
    return std::find(std::begin(kEndings), std::end(kEndings), right) != std::end(kEndings);
}

// The C library's tables of C.UTF-8 know the letter case of every script.
bool InCase(char32_t c, bool upper) {
    if (c < 0x80) return upper ? (c >= 'A' && c <= 'Z') : (c >= 'a' && c <= 'z');
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    const auto w = static_cast<wint_t>(c);
    return c < kNotUtf8 && utf8 && (upper ? iswupper_l(w, utf8) : iswlower_l(w, utf8));
}

bool StartsLowerCase(std::string_view word) {
    size_t i = 0;
    return InCase(NextUtf8(word, i), false);
}

bool AllCapitals(std::string_view word) {
    for (size_t i = 0; i < word.size();)
        if (!InCase(NextUtf8(word, i), true)) return false;
    return !word.empty();
}

}  // namespace

struct HyphenJudge::Speller {
    Hunhandle* handle;
    bool latin1;  // the dictionary's words are ISO 8859-1, not UTF-8
    ~Speller() { Hunspell_destroy(handle); }
    // A word the dictionary knows; false for one it cannot hold in its encoding.
    bool Knows(std::string_view utf8) const {
        std::string word;
        if (!latin1) {
            word = utf8;
        } else {
            for (size_t i = 0; i < utf8.size();) {
                const char32_t c = NextUtf8(utf8, i);
                if (c > 0xFF) return false;
                word += static_cast<char>(c);
            }
        }
        return Hunspell_spell(handle, word.c_str()) != 0;
    }
};

std::string DictionaryName(std::string_view language) {
    // A tag is letters, digits and separators; anything else names no dictionary (and
    // never a path).
    std::string name;
    for (char c : language) {
        if (c == '-' || c == '_') {
            if (name.find('_') != std::string::npos) break;  // script or variant: dropped
            name += '_';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            const bool region = name.find('_') != std::string::npos;
            name += static_cast<char>(region ? (c >= 'a' ? c - 32 : c) : (c <= 'Z' ? c + 32 : c));
        } else {
            return {};
        }
    }
    const size_t cut = name.find('_');
    const std::string primary = name.substr(0, cut);
    if (primary.size() < 2 || primary.size() > 3) return {};
    if (cut != std::string::npos && name.size() - cut - 1 != 2) return primary;
    return name;
}

HyphenJudge::HyphenJudge(std::string language, std::string dictionaryFolder)
    : language_(std::move(language)), folder_(std::move(dictionaryFolder)) {}

HyphenJudge::~HyphenJudge() = default;

void HyphenJudge::Load() {
    loaded_ = true;
    dictionary_ = FindDictionary(folder_, language_);
    if (dictionary_.empty() && language_.empty())
        dictionary_ = FindDictionary(folder_, LocaleLanguage());
    if (dictionary_.empty() && language_.empty()) dictionary_ = FindDictionary(folder_, "en-US");
    if (dictionary_.empty()) return;
    const std::string base = folder_ + "/" + dictionary_;
    Hunhandle* handle = Hunspell_create((base + ".aff").c_str(), (base + ".dic").c_str());
    if (!handle) {
        dictionary_.clear();
        return;
    }
    const std::string_view encoding = Hunspell_get_dic_encoding(handle);
    speller_.reset(new Speller{handle, encoding != "UTF-8"});
    if (speller_->latin1 && encoding != "ISO8859-1") {
        speller_.reset();  // an encoding of its own: the rule without a dictionary serves
        dictionary_.clear();
    }
}

const std::string& HyphenJudge::Dictionary() {
    if (!loaded_) Load();
    return dictionary_;
}

bool HyphenJudge::Join(std::string_view left, std::string_view right) {
    // A capital after the break starts a name ("Anglo-Saxon"), unless all is in capitals.
    const bool capitals = AllCapitals(left) && AllCapitals(right);
    if (left.empty() || right.empty() || !(capitals || StartsLowerCase(right))) return false;
    if (!loaded_) Load();
    if (!speller_) {
        std::string ending(right);
        for (char& c : ending) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return CommonEnding(ending);
    }
    const std::string whole = std::string(left) + std::string(right);
    return speller_->Knows(whole) && !(speller_->Knows(left) && speller_->Knows(right));
}

}  // namespace documents

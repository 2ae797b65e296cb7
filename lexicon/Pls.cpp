#include "lexicon/Pls.h"

#include <cerrno>
#include <cstring>

#include "documents/Markup.h"
#include "documents/MarkupTree.h"
#include "support/FileReplace.h"
#include "support/XmlText.h"

namespace lexicon {
namespace {
using documents::LocalName;
using documents::MarkupNode;

constexpr std::string_view kPlsNamespace = "http://www.w3.org/2005/01/pronunciation-lexicon";

std::string Prefix(std::string_view name) {
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon));
}

// The prefix the document binds to our namespace, or "\n" (no prefix can be that).
std::string OurPrefix(const MarkupNode& root) {
    for (const auto& [name, value] : root.attributes)
        if (value == kOurNamespace && name.rfind("xmlns:", 0) == 0) return name.substr(6);
    return "\n";
}

std::string OurAttribute(const MarkupNode& node, const std::string& prefix,
                         std::string_view local) {
    for (const auto& [name, value] : node.attributes)
        if (Prefix(name) == prefix && LocalName(name) == local) return value;
    return {};
}

bool IsTrue(std::string_view v) {
    return v == "true" || v == "1";
}

std::string Trimmed(std::string s) {
    const char* blanks = " \t\r\n";
    const size_t b = s.find_first_not_of(blanks);
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The preferred child of this name (prefer="true"), else the first; nullptr for none.
const MarkupNode* Preferred(const MarkupNode& node, std::string_view local) {
    const MarkupNode* first = nullptr;
    for (const MarkupNode& child : node.children) {
        if (child.name.empty() || LocalName(child.name) != local) continue;
        if (IsTrue(child.Attribute("prefer"))) return &child;
        if (!first) first = &child;
    }
    return first;
}

void Pronunciation(const MarkupNode& node, const std::string& lexiconAlphabet, Entry& entry) {
    if (const MarkupNode* alias = Preferred(node, "alias"))
        entry.respelling = Trimmed(alias->AllText());
    if (const MarkupNode* phoneme = Preferred(node, "phoneme")) {
        entry.phonemes = Trimmed(phoneme->AllText());
        std::string alphabet(phoneme->Attribute("alphabet"));
        if (alphabet.empty()) alphabet = lexiconAlphabet;
        entry.alphabet = alphabet == kEspeakAlphabet ? "" : alphabet;
    }
}

void Element(std::string& out, std::string_view name, std::string_view text,
             std::string_view attributes = {}) {
    out += "    <";
    out += name;
    out += attributes;
    out += '>';
    AppendXmlEscaped(text, out);
    out += "</";
    out += name;
    out += ">\n";
}
}  // namespace

Lexicon ReadPls(std::string_view bytes, const std::string& fileName) {
    MarkupNode tree;
    try {
        tree = documents::ReadMarkupTree(bytes, documents::MarkupMode::Xml);
    } catch (const documents::MarkupError& e) {
        throw LexiconError(fileName + " is not a lexicon: " + e.what());
    }
    const MarkupNode* root = tree.Child("lexicon");
    if (!root || root->Attribute("xmlns") != kPlsNamespace)
        throw LexiconError(fileName + " is not a lexicon: its root is no <lexicon> element of " +
                           std::string(kPlsNamespace));
    Lexicon lexicon;
    const std::string ours = OurPrefix(*root);
    const std::string alphabet(root->Attribute("alphabet"));
    lexicon.language = std::string(root->Attribute("lang"));
    if (lexicon.language == "und") lexicon.language.clear();
    const std::string scope = OurAttribute(*root, ours, "scope");
    if (scope == "global" || (scope.empty() && lexicon.language.empty())) {
        lexicon.scope = Scope::Global;
    } else if (scope == "voice") {
        lexicon.scope = Scope::Voice;
        lexicon.voice = OurAttribute(*root, ours, "voice");
        if (lexicon.voice.empty())
            throw LexiconError(fileName + ": its voice scope names no voice (pm:voice)");
    } else if (scope.empty() || scope == "language") {
        lexicon.scope = Scope::Language;
    } else {
        throw LexiconError(fileName + ": unknown scope \"" + scope + "\"");
    }
    size_t count = 0;
    for (const MarkupNode& node : root->children) {
        if (node.name.empty()) continue;
        const std::string prefix = Prefix(node.name);
        const std::string_view local = LocalName(node.name);
        const bool mine = prefix == ours;
        if (!(mine && local == "regex") && !(prefix.empty() && local == "lexeme") &&
            !(root->name.find(':') != std::string::npos && prefix == Prefix(root->name) &&
              local == "lexeme"))
            continue;  // metadata, or another program's own
        ++count;
        Entry entry;
        entry.matchCase = IsTrue(OurAttribute(node, ours, "match-case"));
        Pronunciation(node, alphabet, entry);
        std::vector<std::string> words;
        if (mine) {
            words.push_back(OurAttribute(node, ours, "pattern"));
            entry.regex = true;
        } else {
            for (const MarkupNode& child : node.children)
                if (!child.name.empty() && LocalName(child.name) == "grapheme")
                    words.push_back(Trimmed(child.AllText()));
        }
        if (words.empty())
            throw LexiconError(fileName + ": entry " + std::to_string(count) + " has no grapheme");
        for (std::string& word : words) {
            entry.word = std::move(word);
            if (const std::string problem = EntryProblem(entry); !problem.empty())
                throw LexiconError(fileName + ": entry " + std::to_string(count) + " (\"" +
                                   entry.word + "\"): " + problem);
            lexicon.entries.push_back(entry);
        }
    }
    return lexicon;
}

std::string WritePls(const Lexicon& lexicon) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<lexicon version=\"1.0\" xmlns=\"";
    out += kPlsNamespace;
    out += "\" xmlns:pm=\"";
    out += kOurNamespace;
    out += "\" alphabet=\"";
    out += kEspeakAlphabet;
    out += "\" xml:lang=\"";
    AppendXmlEscaped(lexicon.language.empty() ? "und" : lexicon.language, out);
    out += "\" pm:scope=\"";
    out += ScopeName(lexicon.scope);
    if (lexicon.scope == Scope::Voice) {
        out += "\" pm:voice=\"";
        AppendXmlEscaped(lexicon.voice, out);
    }
    out += "\">\n";
    for (const Entry& e : lexicon.entries) {
        std::string open = e.regex ? "  <pm:regex pm:pattern=\"" : "  <lexeme";
        if (e.regex) AppendXmlEscaped(e.word, open), open += '"';
        if (e.matchCase) open += " pm:match-case=\"true\"";
        out += open + ">\n";
        if (!e.regex) Element(out, "grapheme", e.word);
        if (!e.phonemes.empty()) {
            std::string attribute;
            if (!e.alphabet.empty()) {
                attribute = " alphabet=\"";
                AppendXmlEscaped(e.alphabet, attribute);
                attribute += '"';
            }
            Element(out, "phoneme", e.phonemes, attribute);
        }
        if (!e.respelling.empty()) Element(out, "alias", e.respelling);
        out += e.regex ? "  </pm:regex>\n" : "  </lexeme>\n";
    }
    out += "</lexicon>\n";
    return out;
}

Lexicon LoadPlsFile(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        throw LexiconError("Cannot read the lexicon " + path + ": " + std::strerror(errno));
    return ReadPls(bytes, path);
}

void SavePlsFile(const std::string& path, const Lexicon& lexicon) {
    const std::string bytes = WritePls(lexicon);
    errno = 0;
    if (!ReplaceFileContents(path, [&](const std::string*) { return bytes; }))
        throw LexiconError("Cannot write the lexicon " + path + ": " +
                           (errno ? std::strerror(errno) : "the file cannot be replaced"));
}

}  // namespace lexicon

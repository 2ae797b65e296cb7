#include "documents/DocxStyles.h"

#include <cstdlib>

#include "documents/ListNumbers.h"

namespace documents {
namespace {

int IntValue(std::string_view text, int fallback) {
    if (text.empty()) return fallback;
    const std::string s(text);
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (end == s.c_str() || v < -1000000 || v > 1000000) return fallback;
    return static_cast<int>(v);
}

int ValOf(const MarkupNode* node, int fallback) {
    return node ? IntValue(node->Attribute("val"), fallback) : fallback;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

constexpr int kLevels = 9;

}  // namespace

DocxStyles::DocxStyles(const MarkupNode& styles, const MarkupNode& numbering) {
    styles.ForEach("style", [&](const MarkupNode& node) {
        if (node.Attribute("type") != "paragraph") return;
        Style style;
        if (const auto* name = node.Child("name")) style.name = Lower(name->Attribute("val"));
        if (const auto* based = node.Child("basedOn")) style.basedOn = based->Attribute("val");
        if (const auto* pPr = node.Child("pPr")) {
            style.outline = ValOf(pPr->Child("outlineLvl"), -1);
            if (const auto* numPr = pPr->Child("numPr")) {
                style.numId = ValOf(numPr->Child("numId"), -1);
                style.numLevel = ValOf(numPr->Child("ilvl"), -1);
            }
        }
        styles_.emplace(node.Attribute("styleId"), std::move(style));
    });
    numbering.ForEach("abstractNum", [&](const MarkupNode& node) {
        auto& levels = abstract_[std::string(node.Attribute("abstractNumId"))];
        levels.assign(kLevels, Level{});
        node.ForEach("lvl", [&](const MarkupNode& lvl) {
            const int i = IntValue(lvl.Attribute("ilvl"), -1);
            if (i < 0 || i >= kLevels) return;
            Level& level = levels[static_cast<size_t>(i)];
            level.start = ValOf(lvl.Child("start"), 1);
            if (const auto* f = lvl.Child("numFmt")) level.format = f->Attribute("val");
            if (const auto* t = lvl.Child("lvlText")) level.text = t->Attribute("val");
            if (const auto* s = lvl.Child("pStyle")) level.style = s->Attribute("val");
        });
    });
    numbering.ForEach("num", [&](const MarkupNode& node) {
        List& list = lists_[IntValue(node.Attribute("numId"), -1)];
        list.abstractId =
            node.Child("abstractNumId") ? node.Child("abstractNumId")->Attribute("val") : "";
        node.ForEach("lvlOverride", [&](const MarkupNode& o) {
            if (const auto* start = o.Child("startOverride"))
                list.startOverride[IntValue(o.Attribute("ilvl"), 0)] = ValOf(start, 1);
        });
    });
}

DocxParagraphStyle DocxStyles::Paragraph(std::string_view styleId) const {
    DocxParagraphStyle out;
    int outline = -1;
    // The chain of styles each is based on, bounded against cycles.
    for (int step = 0; step < 32 && !styleId.empty(); ++step) {
        const auto it = styles_.find(styleId);
        if (it == styles_.end()) break;
        const Style& style = it->second;
        if (style.name.rfind("toc ", 0) == 0 || style.name == "toc heading") out.toc = true;
        if (outline < 0 && style.outline >= 0) outline = style.outline;
        if (outline < 0 && out.level == 0) {
            if (style.name.rfind("heading ", 0) == 0)
                out.level = IntValue(style.name.substr(8), 0);
            else if (style.name == "title")
                out.level = 1;
        }
        if (out.numId < 0 && style.numId >= 0) {
            out.numId = style.numId;
            out.numLevel = style.numLevel;
        }
        styleId = style.basedOn;
    }
    // Level 9 and past are body text.
    if (outline >= 0) out.level = outline < kLevels ? outline + 1 : 0;
    if (out.level < 0 || out.level > kLevels) out.level = 0;
    return out;
}

std::string DocxStyles::Number(int numId, int level, std::string_view styleId) {
    const auto list = lists_.find(numId);
    if (numId <= 0 || list == lists_.end()) return {};
    const auto found = abstract_.find(list->second.abstractId);
    if (found == abstract_.end()) return {};
    const auto& levels = found->second;
    if (level < 0) {
        level = 0;
        for (int i = 0; i < kLevels; ++i)
            if (!styleId.empty() && levels[static_cast<size_t>(i)].style == styleId) level = i;
    }
    if (level >= kLevels) return {};
    auto& counters = counters_[list->second.abstractId];
    counters.resize(kLevels, 0);
    auto startOf = [&](int i) {
        const auto o = list->second.startOverride.find(i);
        return o != list->second.startOverride.end() ? o->second
                                                     : levels[static_cast<size_t>(i)].start;
    };
    if (!list->second.overrideApplied && !list->second.startOverride.empty()) {
        // A list that restarts its numbering starts over where it is first used.
        list->second.overrideApplied = true;
        for (auto& c : counters) c = 0;
    }
    auto& counter = counters[static_cast<size_t>(level)];
    counter = counter == 0 ? startOf(level) : counter + 1;
    for (int i = level + 1; i < kLevels; ++i) counters[static_cast<size_t>(i)] = 0;

    const Level& shown = levels[static_cast<size_t>(level)];
    if (shown.format == "bullet") return {};
    std::string out;
    for (size_t i = 0; i < shown.text.size(); ++i) {
        const char c = shown.text[i];
        if (c == '%' && i + 1 < shown.text.size() && shown.text[i + 1] >= '1' &&
            shown.text[i + 1] <= '9') {
            const int of = shown.text[++i] - '1';
            const int value =
                counters[static_cast<size_t>(of)] ? counters[static_cast<size_t>(of)] : startOf(of);
            out += FormatListNumber(value, levels[static_cast<size_t>(of)].format);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace documents

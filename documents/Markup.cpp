#include "documents/Markup.h"

#include <algorithm>
#include <cstring>

#include "documents/MarkupEncoding.h"
#include "support/Unicode.h"

namespace documents {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool StartsWithIgnoringCase(std::string_view text, size_t at, std::string_view prefix) {
    if (text.size() - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[at + i]) != prefix[i]) return false;
    return true;
}

size_t FindIgnoringCase(std::string_view text, size_t from, std::string_view what) {
    for (size_t i = from; i + what.size() <= text.size(); ++i) {
        i = text.find(what[0], i);
        if (i == std::string_view::npos || i + what.size() > text.size()) break;
        if (StartsWithIgnoringCase(text, i, what)) return i;
    }
    return std::string_view::npos;
}

constexpr std::string_view kVoidElements[] = {"area",  "base",   "br",    "col",  "embed",
                                              "hr",    "img",    "input", "link", "meta",
                                              "param", "source", "track", "wbr"};
bool IsVoid(std::string_view name) {
    return std::find(std::begin(kVoidElements), std::end(kVoidElements), name) !=
           std::end(kVoidElements);
}
// A start tag of one of these ends an open paragraph, as in HTML.
constexpr std::string_view kClosesParagraph[] = {
    "p",      "div", "h1",  "h2",    "h3",     "h4",         "h5",      "h6",      "ul",
    "ol",     "dl",  "li",  "pre",   "table",  "blockquote", "section", "article", "header",
    "footer", "hr",  "nav", "aside", "figure", "address",    "main"};

class Walker {
  public:
    Walker(std::string_view bytes, MarkupMode mode, MarkupHandler& handler)
        : in_(bytes), html_(mode == MarkupMode::Html), handler_(handler) {}

    void Run() {
        if (in_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        bool sawElement = false;
        while (pos_ < in_.size()) {
            const size_t lt = in_.find('<', pos_);
            if (lt != pos_) {
                EmitText(in_.substr(pos_, (lt == std::string_view::npos ? in_.size() : lt) - pos_));
                if (lt == std::string_view::npos) break;
                pos_ = lt;
            }
            if (in_.compare(pos_, 4, "<!--") == 0) {
                Skip(4, "-->", "a comment is not closed");
            } else if (in_.compare(pos_, 9, "<![CDATA[") == 0) {
                const size_t end = in_.find("]]>", pos_ + 9);
                if (end == std::string_view::npos && !html_) Fail("a CDATA section is not closed");
                const size_t stop = end == std::string_view::npos ? in_.size() : end;
                handler_.Text(in_.substr(pos_ + 9, stop - pos_ - 9));
                pos_ = end == std::string_view::npos ? in_.size() : end + 3;
            } else if (StartsWithIgnoringCase(in_, pos_, "<!doctype")) {
                Doctype();
            } else if (in_.compare(pos_, 2, "<?") == 0) {
                Skip(2, html_ ? ">" : "?>", "a processing instruction is not closed");
            } else if (in_.compare(pos_, 2, "</") == 0) {
                EndTag();
            } else if (pos_ + 1 < in_.size() && IsNameStart(in_[pos_ + 1]) &&
                       !(html_ && static_cast<unsigned char>(in_[pos_ + 1]) >= 0x80)) {
                StartTag();
                sawElement = true;
            } else if (html_) {
                EmitText(in_.substr(pos_, 1));
                ++pos_;
            } else {
                Fail("a \"<\" starts no markup");
            }
        }
        if (!html_ && !open_.empty()) Fail("it ends before <" + open_.back() + "> is closed");
        if (!html_ && !sawElement) Fail("it holds no element");
        while (!open_.empty()) Pop();
    }

  private:
    [[noreturn]] void Fail(const std::string& reason) const {
        const size_t at = std::min(pos_, in_.size());
        size_t line = 1 + static_cast<size_t>(std::count(in_.begin(), in_.begin() + at, '\n'));
        const size_t lineStart = in_.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t begin = lineStart == std::string_view::npos || at == 0 ? 0 : lineStart + 1;
        // Columns count characters, as editors show them.
        size_t column = 1;
        for (size_t i = begin; i < at; ++i)
            if ((static_cast<unsigned char>(in_[i]) & 0xC0) != 0x80) ++column;
        throw MarkupError(reason + " (line " + std::to_string(line) + ", column " +
                          std::to_string(column) + ")");
    }

    void Skip(size_t from, std::string_view end, const char* unclosed) {
        const size_t at = in_.find(end, pos_ + from);
        if (at == std::string_view::npos) {
            if (!html_) Fail(unclosed);
            pos_ = in_.size();
            return;
        }
        pos_ = at + end.size();
    }

    void Doctype() {
        // An internal subset may declare entities, which could expand past any bound.
        size_t i = pos_ + 9;
        char quote = 0;
        for (; i < in_.size(); ++i) {
            const char c = in_[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                const size_t close = in_.find(']', i);
                const std::string_view subset = in_.substr(
                    i, close == std::string_view::npos ? std::string_view::npos : close - i);
                if (subset.find("<!ENTITY") != std::string_view::npos ||
                    FindIgnoringCase(subset, 0, "<!entity") != std::string_view::npos)
                    Fail("its DTD declares entities, which are never expanded");
                if (close == std::string_view::npos) break;
                i = close;
            } else if (c == '>') {
                pos_ = i + 1;
                return;
            }
        }
        if (!html_) Fail("its document type declaration is not closed");
        pos_ = in_.size();
    }

    void EmitText(std::string_view text) {
        if (open_.empty() && !html_) {
            // Only white space may stand outside the root element.
            for (char c : text)
                if (!IsSpace(c)) Fail("text stands outside the root element");
            return;
        }
        if (text.find('&') == std::string_view::npos) {
            handler_.Text(text);
            return;
        }
        scratch_.clear();
        Resolve(text, scratch_);
        handler_.Text(scratch_);
    }

    void Resolve(std::string_view text, std::string& out) {
        if (!AppendResolved(text, out, !html_)) Fail("an \"&\" starts no known reference");
    }

    std::string_view Name() {
        const size_t start = pos_;
        while (pos_ < in_.size() && IsNameChar(in_[pos_])) ++pos_;
        return in_.substr(start, pos_ - start);
    }

    void SkipSpace() {
        while (pos_ < in_.size() && IsSpace(in_[pos_])) ++pos_;
    }

    std::string Normal(std::string_view name) const {
        std::string out(name);
        if (html_) std::transform(out.begin(), out.end(), out.begin(), Lower);
        return out;
    }

    void StartTag() {
        ++pos_;
        std::string name = Normal(Name());
        size_t count = 0;
        bool selfClosing = false;
        while (true) {
            SkipSpace();
            if (pos_ >= in_.size()) {
                if (!html_) Fail("<" + name + "> is not closed");
                break;
            }
            const char c = in_[pos_];
            if (c == '>') {
                ++pos_;
                break;
            }
            if (c == '/' && pos_ + 1 < in_.size() && in_[pos_ + 1] == '>') {
                pos_ += 2;
                selfClosing = true;
                break;
            }
            if (!IsNameStart(c)) {
                if (!html_) Fail("<" + name + "> has a malformed attribute");
                ++pos_;
                continue;
            }
            if (count == names_.size()) {
                names_.emplace_back();
                values_.emplace_back();
            }
            names_[count] = Normal(Name());
            values_[count].clear();
            SkipSpace();
            if (pos_ < in_.size() && in_[pos_] == '=') {
                ++pos_;
                SkipSpace();
                AttributeValueAt(values_[count], name);
            } else if (!html_) {
                Fail("an attribute of <" + name + "> has no value");
            }
            ++count;
        }
        attributes_.clear();
        for (size_t i = 0; i < count; ++i) attributes_.push_back({names_[i], values_[i]});
        if (html_) CloseImplied(name);
        if (open_.size() >= kDeepestMarkup)
            Fail("its elements nest deeper than " + std::to_string(kDeepestMarkup));
        handler_.StartElement(name, attributes_);
        if (selfClosing || (html_ && IsVoid(name))) {
            handler_.EndElement(name);
            return;
        }
        if (html_ && (name == "script" || name == "style")) {
            // Raw text: nothing in it is markup.
            const size_t end = FindIgnoringCase(in_, pos_, "</" + name);
            const size_t stop = end == std::string_view::npos ? in_.size() : end;
            handler_.Text(in_.substr(pos_, stop - pos_));
            pos_ = stop;
            if (end != std::string_view::npos) {
                const size_t gt = in_.find('>', end);
                pos_ = gt == std::string_view::npos ? in_.size() : gt + 1;
            }
            handler_.EndElement(name);
            return;
        }
        open_.push_back(std::move(name));
    }

    void AttributeValueAt(std::string& value, const std::string& element) {
        if (pos_ < in_.size() && (in_[pos_] == '"' || in_[pos_] == '\'')) {
            const char quote = in_[pos_];
            const size_t end = in_.find(quote, pos_ + 1);
            if (end == std::string_view::npos) {
                if (!html_) Fail("an attribute of <" + element + "> is not closed");
                pos_ = in_.size();
                return;
            }
            Resolve(in_.substr(pos_ + 1, end - pos_ - 1), value);
            pos_ = end + 1;
            return;
        }
        if (!html_) Fail("an attribute of <" + element + "> is not quoted");
        const size_t start = pos_;
        while (pos_ < in_.size() && !IsSpace(in_[pos_]) && in_[pos_] != '>') ++pos_;
        Resolve(in_.substr(start, pos_ - start), value);
    }

    // HTML's unclosed elements: a new paragraph, list item or cell ends the open one.
    void CloseImplied(const std::string& name) {
        if (open_.empty()) return;
        if (open_.back() == "p" &&
            std::find(std::begin(kClosesParagraph), std::end(kClosesParagraph), name) !=
                std::end(kClosesParagraph))
            Pop();
        auto closeUpTo = [this](std::string_view same,
                                std::initializer_list<std::string_view> walls) {
            for (size_t i = open_.size(); i-- > 0;) {
                if (std::find(walls.begin(), walls.end(), open_[i]) != walls.end()) return;
                if (open_[i] == same) {
                    while (open_.size() > i) Pop();
                    return;
                }
            }
        };
        if (name == "li")
            closeUpTo("li", {"ul", "ol", "menu"});
        else if (name == "dt" || name == "dd") {
            closeUpTo("dt", {"dl"});
            closeUpTo("dd", {"dl"});
        } else if (name == "td" || name == "th") {
            closeUpTo("td", {"tr", "table"});
            closeUpTo("th", {"tr", "table"});
        } else if (name == "tr")
            closeUpTo("tr", {"table"});
        else if (name == "option")
            closeUpTo("option", {"select"});
    }

    void Pop() {
        const std::string name = std::move(open_.back());
        open_.pop_back();
        handler_.EndElement(name);
    }

    void EndTag() {
        pos_ += 2;
        const std::string name = Normal(Name());
        SkipSpace();
        if (pos_ < in_.size() && in_[pos_] == '>') {
            ++pos_;
        } else {
            if (!html_) Fail("</" + name + "> is malformed");
            const size_t gt = in_.find('>', pos_);
            pos_ = gt == std::string_view::npos ? in_.size() : gt + 1;
        }
        if (!html_) {
            if (open_.empty() || open_.back() != name)
                Fail("</" + name + "> closes " +
                     (open_.empty() ? "nothing" : "<" + open_.back() + ">"));
            Pop();
            return;
        }
        // A stray end tag is ignored; one that closes an outer element closes all within.
        const auto it = std::find(open_.rbegin(), open_.rend(), name);
        if (it == open_.rend()) return;
        const size_t keep = static_cast<size_t>(open_.rend() - it) - 1;
        while (open_.size() > keep) Pop();
    }

    std::string_view in_;
    size_t pos_ = 0;
    bool html_;
    MarkupHandler& handler_;
    std::vector<std::string> open_;
    std::vector<std::string> names_, values_;
    MarkupAttributes attributes_;
    std::string scratch_;
};

}  // namespace

void WalkMarkup(std::string_view bytes, MarkupMode mode, MarkupHandler& handler) {
    if (const auto utf8 = MarkupToUtf8(bytes, mode)) {
        Walker(*utf8, mode, handler).Run();
        return;
    }
    Walker(bytes, mode, handler).Run();
}

}  // namespace documents

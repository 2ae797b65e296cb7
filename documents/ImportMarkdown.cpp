// Markdown: headings (# and underlined) become chapters; the text is what a reader of
// the rendered page sees: no emphasis markers, links as their text, no images or HTML
// tags, code as it is written.
#include <algorithm>
#include <cctype>
#include <set>

#include "documents/Importers.h"
#include "documents/Markup.h"
#include "documents/TextBuilder.h"

namespace documents {
namespace {

bool IsPunct(char c) {
    return std::ispunct(static_cast<unsigned char>(c)) != 0;
}
bool IsBlankAt(std::string_view s, size_t i) {
    return i >= s.size() || s[i] == ' ' || s[i] == '\t';
}
bool IsWordChar(std::string_view s, size_t i) {
    return i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) ||
                            static_cast<unsigned char>(s[i]) >= 0x80);
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Links, tags and references reach at most this far, and the searches for the brackets of
// one paragraph's links look at most a few times at each byte: text full of "[" or "<"
// must not be searched to its end again and again.
constexpr size_t kReach = 1024;
constexpr size_t kLooksPerByte = 8;

// The index of the bracket closing the one at open, or npos; budget is what is left of the
// looks the paragraph may take.
size_t Closing(std::string_view s, size_t open, char opener, char closer, size_t& budget) {
    int depth = 0;
    const size_t end = std::min({s.size(), open + kReach, open + budget});
    budget -= end > open ? end - open : 0;
    for (size_t i = open; i < end; ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == opener) {
            ++depth;
        } else if (s[i] == closer && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

// After "[text]" at close: the end of "(url)" or "[ref]" that makes it a link, or npos.
size_t LinkEnd(std::string_view s, size_t close, size_t& budget) {
    if (close + 1 < s.size() && s[close + 1] == '(') return Closing(s, close + 1, '(', ')', budget);
    if (close + 1 < s.size() && s[close + 1] == '[') return Closing(s, close + 1, '[', ']', budget);
    return std::string_view::npos;
}

void StripInline(std::string_view s, std::string& out) {
    std::set<size_t> unclosedRuns;  // lengths of backtick runs with no closing run after them
    size_t budget = kLooksPerByte * s.size() + kReach;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size() && IsPunct(s[i + 1])) {
            out += s[i + 1];
            i += 2;
        } else if (c == '`') {
            size_t run = 0;
            while (i + run < s.size() && s[i + run] == '`') ++run;
            const size_t close = unclosedRuns.count(run) ? std::string_view::npos
                                                         : s.find(std::string(run, '`'), i + run);
            if (close == std::string_view::npos) {
                unclosedRuns.insert(run);
                out.append(run, '`');
                i += run;
            } else {
                out += Trim(s.substr(i + run, close - i - run));
                i = close + run;
            }
        } else if (c == '[' && i + 1 < s.size() && s[i + 1] == '^' &&
                   s.substr(i, kReach).find(']') != std::string_view::npos) {
            i = s.find(']', i) + 1;  // a note's reference: notes are not read
        } else if ((c == '!' && i + 1 < s.size() && s[i + 1] == '[') || c == '[') {
            const size_t open = c == '!' ? i + 1 : i;
            const size_t close = Closing(s, open, '[', ']', budget);
            const size_t end = close == std::string_view::npos ? close : LinkEnd(s, close, budget);
            if (end == std::string_view::npos) {
                out += c;
                ++i;
                continue;
            }
            // An image says nothing; a link says its text.
            if (c == '[') StripInline(s.substr(open + 1, close - open - 1), out);
            i = end + 1;
        } else if (c == '<') {
            const size_t reach = s.substr(i, kReach).find('>');
            const size_t close = reach == std::string_view::npos ? reach : i + reach;
            const std::string_view inner = close == std::string_view::npos
                                               ? std::string_view()
                                               : s.substr(i + 1, close - i - 1);
            if (!inner.empty() && (inner.find("://") != std::string_view::npos ||
                                   (inner.find('@') != std::string_view::npos &&
                                    inner.find(' ') == std::string_view::npos))) {
                out += inner;  // an automatic link shows its address
                i = close + 1;
            } else if (!inner.empty() && (std::isalpha(static_cast<unsigned char>(inner[0])) ||
                                          inner[0] == '/' || inner[0] == '!' || inner[0] == '?')) {
                i = close + 1;  // an HTML tag
            } else {
                out += c;
                ++i;
            }
        } else if (c == '&') {
            const size_t reach = s.substr(i, 41).find(';');
            const size_t end = reach == std::string_view::npos ? i : i + reach;
            AppendResolved(s.substr(i, end - i + 1), out);
            i = end + 1;
        } else if (c == '*' || c == '_' || c == '~') {
            size_t run = 0;
            while (i + run < s.size() && s[i + run] == c) ++run;
            const bool opens = !IsBlankAt(s, i + run);
            const bool closes = i > 0 && !IsBlankAt(s, i - 1);
            const bool intraword = IsWordChar(s, i + run) && i > 0 && IsWordChar(s, i - 1);
            const bool marker =
                (opens || closes) && !(c == '_' && intraword) && !(c == '~' && run == 1);
            if (!marker) out.append(run, c);
            i += run;
        } else {
            out += c;
            ++i;
        }
    }
}

std::string Inline(std::string_view s) {
    std::string out;
    StripInline(s, out);
    return out;
}

// "---", "***", "___" (three or more, spaces between allowed).
bool IsBreak(std::string_view line, char c) {
    size_t count = 0;
    for (char x : line) {
        if (x == c)
            ++count;
        else if (x != ' ' && x != '\t')
            return false;
    }
    return count >= 3;
}

bool IsTableDelimiter(std::string_view line) {
    if (line.find('-') == std::string_view::npos || line.find('|') == std::string_view::npos)
        return false;
    for (char x : line)
        if (x != '|' && x != '-' && x != ':' && x != ' ' && x != '\t') return false;
    return true;
}

// The text after a list marker ("- ", "* ", "+ ", "12. ", "3) "), or npos.
size_t ListItemText(std::string_view line) {
    if (line.size() >= 2 && (line[0] == '-' || line[0] == '*' || line[0] == '+') && line[1] == ' ')
        return 2;
    size_t digits = 0;
    while (digits < line.size() && digits < 9 &&
           std::isdigit(static_cast<unsigned char>(line[digits])))
        ++digits;
    if (digits > 0 && digits + 1 < line.size() && (line[digits] == '.' || line[digits] == ')') &&
        line[digits + 1] == ' ')
        return digits + 2;
    return std::string_view::npos;
}

class MarkdownReader {
  public:
    explicit MarkdownReader(TextBuilder& builder) : builder_(builder) {}

    void Line(std::string_view line) {
        if (fence_) {
            const std::string_view t = Trim(line);
            if (t.size() >= fenceLength_ && t.find_first_not_of(fence_) == std::string_view::npos) {
                fence_ = 0;
                builder_.EndParagraph();
            } else {
                builder_.Append(line);
                builder_.Append(" ");
            }
            return;
        }
        std::string_view t = Trim(line);
        while (!t.empty() && t[0] == '>') t = Trim(t.substr(1));  // quotes read as text
        if (t.empty()) return Flush();
        // Indented code, outside a paragraph and a list: each line as it is written.
        const bool indented = line.substr(0, 4) == "    " || line[0] == '\t';
        if (indented && paragraph_.empty() && !inList_) {
            builder_.Append(t);
            builder_.EndParagraph();
            return;
        }
        if (!indented) inList_ = false;
        if (t[0] == '#') {
            size_t level = 0;
            while (level < t.size() && t[level] == '#') ++level;
            if (level <= 6 && IsBlankAt(t, level)) {
                std::string_view text = Trim(t.substr(level));
                while (!text.empty() && text.back() == '#') text.remove_suffix(1);
                Flush();  // a heading may follow its paragraph without a blank line
                return Heading(Trim(text), static_cast<int>(level));
            }
        }
        if (!paragraph_.empty() && t.find_first_not_of('=') == std::string_view::npos)
            return Heading(std::string(paragraph_), 1);
        if (!paragraph_.empty() && t.find_first_not_of('-') == std::string_view::npos)
            return Heading(std::string(paragraph_), 2);
        if (IsBreak(t, '-') || IsBreak(t, '*') || IsBreak(t, '_')) return Flush();
        if (t.substr(0, 3) == "```" || t.substr(0, 3) == "~~~") {
            Flush();
            fence_ = t[0];
            fenceLength_ = t.find_first_not_of(fence_);
            if (fenceLength_ == std::string_view::npos) fenceLength_ = t.size();
            return;
        }
        if (IsTableDelimiter(t)) return;
        size_t budget = kReach;
        if (t[0] == '[' && t.find("]:") != std::string_view::npos &&
            t.find("]:") == Closing(t, 0, '[', ']', budget))
            return Flush();  // a link's reference definition
        if (t[0] == '|') {
            Flush();
            std::string row(t);
            for (char& c : row)
                if (c == '|') c = ' ';
            paragraph_ = row;
            return Flush();
        }
        if (const size_t item = ListItemText(t); item != std::string_view::npos) {
            Flush();
            inList_ = true;
            t = Trim(t.substr(item));
        }
        if (!paragraph_.empty()) paragraph_ += ' ';
        paragraph_ += t;
    }

    void Flush() {
        if (paragraph_.empty()) return;
        builder_.Append(Inline(paragraph_));
        builder_.EndParagraph();
        paragraph_.clear();
    }

  private:
    void Heading(std::string_view text, int level) {
        paragraph_.clear();
        builder_.EndParagraph();
        const std::string line = CleanLine(Inline(text));
        if (line.empty()) return;
        builder_.StartChapter(line, level);
        builder_.Append(line);
        builder_.EndParagraph();
    }

    TextBuilder& builder_;
    std::string paragraph_;
    bool inList_ = false;  // indented lines continue its items
    char fence_ = 0;
    size_t fenceLength_ = 0;
};

// The text without HTML comments, which may span lines.
std::string WithoutComments(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t open = text.find("<!--", i);
        out += text.substr(i, open == std::string_view::npos ? open : open - i);
        if (open == std::string_view::npos) break;
        const size_t close = text.find("-->", open + 4);
        if (close == std::string_view::npos) break;
        i = close + 3;
    }
    return out;
}

}  // namespace

Document ImportMarkdown(const Source& source) {
    const std::string text = WithoutComments(source.bytes);
    std::string_view rest(text);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    TextBuilder builder;
    MarkdownReader reader(builder);
    Metadata metadata;
    // A front matter block of settings before the text: its title is the document's.
    if (rest.substr(0, 4) == "---\n" || rest.substr(0, 5) == "---\r\n") {
        const size_t end = rest.find("\n---", 3);
        if (end != std::string_view::npos) {
            const std::string_view block = rest.substr(0, end);
            const size_t at = block.find("\ntitle:");
            if (at != std::string_view::npos) {
                std::string_view value =
                    Trim(block.substr(at + 7, block.find('\n', at + 1) - at - 7));
                if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
                    value.back() == value[0])
                    value = value.substr(1, value.size() - 2);
                metadata.title = value;
            }
            const size_t next = rest.find('\n', end + 4);
            rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        }
    }
    size_t lines = 0;
    while (!rest.empty()) {
        const size_t lf = rest.find('\n');
        reader.Line(rest.substr(0, lf));
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (++lines % 4096 == 0)
            source.Progress(1.0 - static_cast<double>(rest.size()) /
                                      static_cast<double>(text.size() + 1));
    }
    reader.Flush();
    return builder.Finish(std::move(metadata));
}

}  // namespace documents

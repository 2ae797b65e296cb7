#include "support/ProfileText.h"

#include <vector>

#include "support/Strings.h"

namespace {

enum class LineKind { kBlank, kComment, kHeading, kKey, kOther };

struct ProfileLine {
    size_t start = 0;       // first byte
    size_t contentEnd = 0;  // before the CR LF or LF
    size_t end = 0;         // after the line end
    LineKind kind = LineKind::kOther;
    std::string_view name;  // section name or key, without blanks
    size_t valueStart = 0;  // key lines: first non-blank byte after "="
    size_t valueEnd = 0;    // key lines: after the last non-blank byte
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

ProfileLine ParseLine(std::string_view text, size_t start) {
    ProfileLine line;
    line.start = start;
    size_t lf = text.find('\n', start);
    line.end = lf == std::string_view::npos ? text.size() : lf + 1;
    line.contentEnd = lf == std::string_view::npos ? text.size() : lf;
    if (lf != std::string_view::npos && line.contentEnd > start && text[lf - 1] == '\r')
        --line.contentEnd;

    // Editors that save UTF-8 may put a byte order mark first; it is no part of the line.
    size_t from = start;
    if (start == 0 && text.substr(0, line.contentEnd).starts_with("\xEF\xBB\xBF")) from = 3;
    std::string_view content = text.substr(from, line.contentEnd - from);
    std::string_view trimmed = Trim(content);
    if (trimmed.empty()) {
        line.kind = LineKind::kBlank;
    } else if (trimmed.front() == ';') {
        line.kind = LineKind::kComment;
    } else if (trimmed.front() == '[') {
        line.kind = LineKind::kHeading;
        std::string_view inner = trimmed.substr(1);
        size_t close = inner.find(']');
        line.name = Trim(close == std::string_view::npos ? inner : inner.substr(0, close));
    } else if (size_t eq = content.find('='); eq != std::string_view::npos) {
        line.kind = LineKind::kKey;
        line.name = Trim(content.substr(0, eq));
        size_t v = from + eq + 1;
        size_t e = line.contentEnd;
        while (v < e && IsBlank(text[v])) ++v;
        while (e > v && IsBlank(text[e - 1])) --e;
        line.valueStart = v;
        line.valueEnd = e;
    }
    return line;
}

std::vector<ProfileLine> ParseLines(std::string_view text) {
    std::vector<ProfileLine> lines;
    for (size_t pos = 0; pos < text.size();) {
        lines.push_back(ParseLine(text, pos));
        pos = lines.back().end;
    }
    return lines;
}

bool SameName(std::string_view a, std::string_view b) {
    return SameTextLocale(std::string(a), std::string(b));
}

// Where a section lies: its heading's index and the index after its last line.
struct SectionSpan {
    size_t heading = 0;
    size_t end = 0;
};

std::optional<SectionSpan> FindSection(const std::vector<ProfileLine>& lines,
                                       std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::kHeading || !SameName(lines[i].name, section)) continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != LineKind::kHeading) ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<ProfileLine>& lines, SectionSpan span,
                              std::string_view key) {
    for (size_t i = span.heading + 1; i < span.end; ++i)
        if (lines[i].kind == LineKind::kKey && SameName(lines[i].name, key)) return i;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    const std::vector<ProfileLine> lines = ParseLines(text);
    const std::optional<SectionSpan> span = FindSection(lines, section);
    if (!span) return std::nullopt;
    const std::optional<size_t> found = FindKey(lines, *span, key);
    if (!found) return std::nullopt;
    const ProfileLine& line = lines[*found];
    std::string_view value = text.substr(line.valueStart, line.valueEnd - line.valueStart);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    const std::vector<ProfileLine> lines = ParseLines(text);
    const std::optional<SectionSpan> span = FindSection(lines, section);
    std::string result;
    result.reserve(text.size() + section.size() + key.size() + value.size() + 8);

    if (!span) {
        result.append(text);
        if (!result.empty() && result.back() != '\n') result += "\r\n";
        result.append("[").append(section).append("]\r\n");
        result.append(key).append("=").append(value).append("\r\n");
        return result;
    }

    if (const std::optional<size_t> found = FindKey(lines, *span, key)) {
        const ProfileLine& line = lines[*found];
        result.append(text.substr(0, line.valueStart));
        result.append(value);
        result.append(text.substr(line.contentEnd));
        return result;
    }

    // A new key goes after the last non-blank line, so that blank lines that part
    // this section from the next stay where they are.
    size_t last = span->heading;
    for (size_t i = span->heading + 1; i < span->end; ++i)
        if (lines[i].kind != LineKind::kBlank) last = i;
    const ProfileLine& anchor = lines[last];
    result.append(text.substr(0, anchor.end));
    if (anchor.end == anchor.contentEnd) result += "\r\n";  // last line had no line end
    result.append(key).append("=").append(value).append("\r\n");
    result.append(text.substr(anchor.end));
    return result;
}

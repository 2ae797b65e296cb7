#include "documents/PdfText.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string_view>
#include <unordered_map>

#include "support/Unicode.h"

namespace documents {
namespace {
using pdf_bridge::Line;
using pdf_bridge::Page;

constexpr double kBand = 0.15;  // share of the page's height where heads and feet stand

double Height(const Page& page) {
    if (page.height > 0) return page.height;
    double bottom = 0;
    for (const Line& line : page.lines) bottom = std::max(bottom, line.box.bottom);
    return bottom;
}

double Center(const Line& line) {
    return (line.box.top + line.box.bottom) / 2;
}
double Size(const Line& line) {
    return std::max(line.fontSize, 1.0);
}

// Height from the nearer edge: positive from the top, negative from the bottom, so that
// pages of different heights still line up.
bool InBand(const Line& line, double height, double& ref) {
    const double center = Center(line);
    if (!(height > 0)) return false;
    if (center <= height * kBand)
        ref = center;
    else if (center >= height * (1 - kBand))
        ref = center - height;
    else
        return false;
    return true;
}

// The line as a running line is compared: letter case, blanks and numbers made alike.
std::string RunningKey(std::string_view text) {
    std::string key;
    bool digits = false, blank = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= '0' && c <= '9') {
            if (!digits) key += blank && !key.empty() ? " #" : "#";
            digits = true;
            blank = false;
            continue;
        }
        digits = false;
        if (c <= ' ') {
            blank = true;
            continue;
        }
        if (blank && !key.empty()) key += ' ';
        blank = false;
        key += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return key;
}

// "12", "- 12 -", "Page 12", "12 of 40", "xiv": what a page number alone looks like.
bool LooksLikePageNumber(std::string_view text) {
    std::string s;
    for (const char ch : text)
        if (ch != ' ' && ch != '-' && ch != '(' && ch != ')' && ch != '[' && ch != ']' && ch != '.')
            s += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    if (s.starts_with("page"))
        s.erase(0, 4);
    else if (s.starts_with("p"))
        s.erase(0, 1);
    for (const std::string_view of : {"of", "/"})
        if (const size_t at = s.find(of);
            at != std::string::npos && at > 0 &&
            s.find_first_not_of("0123456789", at + of.size()) == std::string::npos &&
            at + of.size() < s.size())
            s.erase(at);
    if (s.empty() || s.size() > 7) return false;
    return s.find_first_not_of("0123456789") == std::string::npos ||
           s.find_first_not_of("ivxlcdm") == std::string::npos;
}

struct Occurrence {
    double ref;
    int page;
    size_t line;
};

// Marks the occurrences of one key that stand at one height on enough pages: on a large
// share of the pages (or of the odd or the even ones), or on three pages or more where
// each has a neighbour among the next two pages with text that holds it too, as a
// chapter's own running head does. ordinal numbers the pages with text.
void MarkRepeats(std::vector<Occurrence>& found, int textPages, const int textPagesOf[2],
                 const std::vector<int>& ordinal, std::vector<std::vector<bool>>& running) {
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.ref < b.ref; });
    for (size_t start = 0; start < found.size();) {
        // A cluster: heights within 2 points of the one before.
        size_t end = start + 1;
        while (end < found.size() && found[end].ref - found[end - 1].ref <= 2) ++end;
        std::vector<int> pages;
        for (size_t i = start; i < end; ++i) pages.push_back(found[i].page);
        std::sort(pages.begin(), pages.end());
        pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
        int ofParity[2] = {0, 0};
        for (int& page : pages) ++ofParity[page % 2], page = ordinal[page];
        const auto enough = [](int count, int of) { return count >= 2 && count >= 0.4 * of; };
        const int all = static_cast<int>(pages.size());
        const bool everywhere = enough(all, textPages) || enough(ofParity[0], textPagesOf[0]) ||
                                enough(ofParity[1], textPagesOf[1]);
        const auto near = [&](int page) {
            const auto at = std::lower_bound(pages.begin(), pages.end(), page);
            return (at != pages.begin() && page - *(at - 1) <= 2) ||
                   (at + 1 != pages.end() && *(at + 1) - page <= 2);
        };
        for (size_t i = start; i < end; ++i)
            if (everywhere || (all >= 3 && near(ordinal[found[i].page])))
                running[found[i].page][found[i].line] = true;
        start = end;
    }
}

}  // namespace

std::vector<std::vector<bool>> FindRunningLines(const std::vector<Page>& pages) {
    std::vector<std::vector<bool>> running(pages.size());
    std::unordered_map<std::string, std::vector<Occurrence>> byKey;
    // Pages without text (a cover that is only an image) count for neither side.
    int textPages = 0, textPagesOf[2] = {0, 0};
    std::vector<int> ordinal(pages.size(), 0);
    for (size_t p = 0; p < pages.size(); ++p) {
        const Page& page = pages[p];
        running[p].assign(page.lines.size(), false);
        if (page.lines.empty()) continue;
        ordinal[p] = textPages++;
        ++textPagesOf[p % 2];
        const double height = Height(page);
        for (size_t l = 0; l < page.lines.size(); ++l) {
            double ref = 0;
            if (!InBand(page.lines[l], height, ref)) continue;
            std::string key = RunningKey(page.lines[l].text);
            if (!key.empty()) byKey[std::move(key)].push_back({ref, static_cast<int>(p), l});
        }
    }
    for (auto& [key, found] : byKey) MarkRepeats(found, textPages, textPagesOf, ordinal, running);

    // A page number alone at the page's edge, with no kept line beyond it.
    for (size_t p = 0; p < pages.size(); ++p) {
        const Page& page = pages[p];
        const double height = Height(page);
        for (size_t l = 0; l < page.lines.size(); ++l) {
            double ref = 0;
            const Line& line = page.lines[l];
            if (running[p][l] || !InBand(line, height, ref) || !LooksLikePageNumber(line.text))
                continue;
            bool outermost = true;
            for (size_t o = 0; o < page.lines.size() && outermost; ++o)
                if (o != l && !running[p][o])
                    outermost = ref > 0 ? Center(page.lines[o]) >= Center(line)
                                        : Center(page.lines[o]) <= Center(line);
            running[p][l] = outermost;
        }
    }
    return running;
}

namespace {

struct Placed {
    const Line* line;
    int page;
};

bool IsLetter(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return c >= 0xC0 && c < kNotUtf8 && !(c >= 0x2000 && c <= 0x206F) && c != 0xFFFD && c != 0xD7 &&
           c != 0xF7;
}

// The letters that end text (read backwards: a paragraph may be long), and those that
// start it.
std::string_view TrailingLetters(std::string_view text) {
    size_t start = text.size();
    while (start > 0) {
        size_t at = start - 1;
        while (at > 0 && start - at < 4 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            --at;
        size_t next = at;
        if (!IsLetter(NextUtf8(text, next)) || next != start) break;
        start = at;
    }
    return text.substr(start);
}

std::string_view LeadingLetters(std::string_view text) {
    size_t i = 0, end = 0;
    while (i < text.size() && IsLetter(NextUtf8(text, i))) end = i;
    return text.substr(0, end);
}

// A list's item: a line that starts with a bullet.
bool StartsItem(std::string_view text) {
    for (const std::string_view bullet :
         {"\u2022", "\u25E6", "\u25AA", "\u2023", "\u25CF", "\u25A0", "\u25CB", "\u2219"})
        if (text.starts_with(bullet)) return true;
    return false;
}

// An entry of a table of contents: dot leaders, then a page number.
bool EndsEntry(std::string_view text) {
    const size_t last = text.find_last_of(' ');
    if (last == std::string_view::npos) return false;
    text = text.substr(0, last);
    while (text.ends_with(' ')) text.remove_suffix(1);
    return text.ends_with("...") || text.ends_with(". . .");
}

bool EndsSentence(std::string_view text) {
    while (!text.empty() && std::string_view("\"') ]").find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    for (const std::string_view quote : {"\u201D", "\u2019", "\u00BB"})
        if (text.ends_with(quote)) text.remove_suffix(quote.size());
    if (text.ends_with("\u2026")) return true;
    return !text.empty() && std::string_view(".!?:").find(text.back()) != std::string_view::npos;
}

// What the paragraph rules need of the page's layout.
class Layout {
  public:
    explicit Layout(const std::vector<Placed>& lines, size_t pages)
        : lines_(lines), bodyLeft_(pages, 0) {
        std::vector<std::map<long, int>> lefts(pages);
        std::vector<double> spacing;
        for (size_t i = 0; i < lines.size(); ++i) {
            ++lefts[lines[i].page][std::lround(lines[i].line->box.left)];
            if (i == 0 || lines[i - 1].page != lines[i].page) continue;
            const Line &a = *lines[i - 1].line, &b = *lines[i].line;
            const double dy = b.box.top - a.box.top;
            if (dy > 0 && dy < 3 * Size(a) && std::abs(Size(a) - Size(b)) < 0.1 * Size(a))
                spacing.push_back(dy / Size(a));
        }
        for (size_t p = 0; p < pages; ++p) {
            int best = 0;
            for (const auto& [left, count] : lefts[p])
                if (count > best) best = count, bodyLeft_[p] = static_cast<double>(left);
        }
        if (!spacing.empty()) {
            std::nth_element(spacing.begin(), spacing.begin() + long(spacing.size() / 2),
                             spacing.end());
            spacing_ = spacing[spacing.size() / 2];
        }
        pageStart_.assign(pages + 1, lines.size());
        for (size_t i = lines.size(); i-- > 0;) pageStart_[lines[i].page] = i;
        for (size_t p = pages; p-- > 0;) pageStart_[p] = std::min(pageStart_[p], pageStart_[p + 1]);
    }

    // Whether the line at index i starts a paragraph after the one before it.
    bool StartsParagraph(size_t i) const {
        const Line &a = *lines_[i - 1].line, &b = *lines_[i].line;
        const double ha = Size(a), hb = Size(b);
        if (std::abs(ha - hb) > 0.15 * std::max(ha, hb)) return true;
        if (StartsItem(b.text) || EndsEntry(a.text)) return true;
        const bool samePage = lines_[i - 1].page == lines_[i].page;
        if (samePage && b.box.top > a.box.top + 0.5 * ha &&
            b.box.top - a.box.top > 1.4 * spacing_ * ha)
            return true;
        const double left = bodyLeft_[lines_[i].page];
        // An item's next line hangs under its text, right of the bullet: no indentation.
        const bool hangs = StartsItem(a.text) && b.box.left > a.box.left;
        const bool indented = b.box.left > left + 0.6 * hb && b.box.left < left + 8 * hb &&
                              std::abs(b.box.left - a.box.left) > 0.3 * hb && !hangs;
        if (indented) return true;
        double from = a.box.left, to = a.box.right;
        ColumnOf(i - 1, from, to);
        // A short line: one ending a sentence, or a centred one (a title) standing alone.
        const bool shortLine = a.box.right < to - std::max(2 * ha, 0.1 * (to - from));
        const double leftGap = a.box.left - from, rightGap = to - a.box.right;
        const bool alone = leftGap > 0.6 * ha && rightGap > 2 * ha &&
                           std::abs(leftGap - rightGap) < 0.25 * (leftGap + rightGap);
        return shortLine && (EndsSentence(a.text) || alone);
    }

    // The first line at or below top on the page, else the first of a later page.
    size_t FirstLineFrom(int page, double top) const {
        for (size_t i = pageStart_[page]; i < pageStart_[page + 1]; ++i)
            if (top < 0 || Center(*lines_[i].line) >= top) return i;
        return pageStart_[page + 1];
    }

  private:
    // The extent of the column the line stands in: the lines of its page that overlap it.
    void ColumnOf(size_t i, double& from, double& to) const {
        const Line& a = *lines_[i].line;
        const size_t begin = pageStart_[lines_[i].page], end = pageStart_[lines_[i].page + 1];
        // A page of thousands of lines is no page of prose: its widest extent serves.
        const bool many = end - begin > 400;
        for (size_t j = begin; j < end; ++j) {
            const Line& b = *lines_[j].line;
            const double overlap =
                std::min(a.box.right, b.box.right) - std::max(a.box.left, b.box.left);
            if (many ||
                overlap > 0.5 * std::min(a.box.right - a.box.left, b.box.right - b.box.left)) {
                from = std::min(from, b.box.left);
                to = std::max(to, b.box.right);
            }
        }
    }

    const std::vector<Placed>& lines_;
    std::vector<double> bodyLeft_;
    std::vector<size_t> pageStart_;
    double spacing_ = 1.2;  // line to line, in type sizes
};

// Adds a line to the paragraph: after a blank, or whole to a word broken at the end.
void Continue(std::string& paragraph, std::string_view line, HyphenJudge& judge) {
    for (const std::string_view hyphen : {"-", "\u2010"}) {
        if (!paragraph.ends_with(hyphen)) continue;
        const std::string_view before(paragraph.data(), paragraph.size() - hyphen.size());
        const std::string_view left = TrailingLetters(before), right = LeadingLetters(line);
        if (left.empty() || right.empty()) break;
        if (judge.Join(left, right)) paragraph.resize(before.size());
        paragraph += line;
        return;
    }
    // A soft hyphen ends a broken word too; the text builder drops it.
    if (!paragraph.ends_with("\u00AD")) paragraph += ' ';
    paragraph += line;
}

}  // namespace

void BuildPdfText(const std::vector<Page>& pages,
                  const std::vector<pdf_bridge::OutlineItem>& outline, HyphenJudge& judge,
                  TextBuilder& builder) {
    const std::vector<std::vector<bool>> running = FindRunningLines(pages);
    std::vector<Placed> lines;
    for (size_t p = 0; p < pages.size(); ++p)
        for (size_t l = 0; l < pages[p].lines.size(); ++l)
            if (!running[p][l] && !CleanLine(pages[p].lines[l].text).empty())
                lines.push_back({&pages[p].lines[l], static_cast<int>(p)});
    const Layout layout(lines, pages.size());

    // The chapters that start at each line, in the outline's order.
    std::vector<std::vector<const pdf_bridge::OutlineItem*>> chapters(lines.size() + 1);
    for (const auto& item : outline)
        if (item.page >= 0 && static_cast<size_t>(item.page) < pages.size() &&
            !CleanLine(item.title).empty())
            chapters[layout.FirstLineFrom(item.page, item.top)].push_back(&item);

    std::string paragraph;
    const auto flush = [&] {
        builder.Append(paragraph);
        builder.EndParagraph();
        paragraph.clear();
    };
    for (size_t i = 0; i <= lines.size(); ++i) {
        if (!chapters[i].empty()) flush();
        for (const auto* item : chapters[i]) builder.StartChapter(item->title, item->level);
        if (i == lines.size()) break;
        const std::string& text = lines[i].line->text;
        if (paragraph.empty())
            paragraph = text;
        else if (chapters[i].empty() && layout.StartsParagraph(i))
            flush(), paragraph = text;
        else
            Continue(paragraph, text, judge);
    }
    flush();
}

}  // namespace documents

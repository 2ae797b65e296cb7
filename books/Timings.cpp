#include "books/Timings.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace books {
namespace {

// The synthesisers read every control character as a blank, so words end there too.
bool IsBlank(unsigned char c) {
    return c <= ' ' || c == 0x7F;
}

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
size_t Utf8Length(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    const size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                     : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4
                                              : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    const auto next = static_cast<unsigned char>(s[i + 1]);
    if ((c == 0xE0 && next < 0xA0) || (c == 0xED && next > 0x9F) || (c == 0xF0 && next < 0x90) ||
        (c == 0xF4 && next > 0x8F))
        return 0;  // overlong, a surrogate or past U+10FFFF
    return n;
}

// Text in UTF-8 whatever the input's bytes: a byte that is not part of valid UTF-8
// becomes U+FFFD, so that no file holds broken text.
std::string ValidUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const size_t n = Utf8Length(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

struct Word {
    uint32_t offset;
    std::string text;
    uint64_t start, end;
    size_t sentence;
    bool estimated;
};
struct Sentence {
    uint64_t start, stop;
    size_t firstWord, endWord;
};

// Every word of the text (a run of non-blank bytes, as the voices see words), timed by
// the marks. Each word lasts until the next one of its sentence starts, the last one
// until its sentence's speech ends. A word the engine gave no start gets one between
// its neighbours', in proportion to the text between them. Of a render that did not
// complete, the words up to the last one marked.
struct Timeline {
    std::vector<Word> words;
    std::vector<Sentence> sentences;

    Timeline(const std::string& text, std::span<const ParlenWordTime> marks, bool complete) {
        std::vector<uint32_t> starts;
        for (size_t i = 0; i < text.size(); ++i)
            if (!IsBlank(static_cast<unsigned char>(text[i])) &&
                (i == 0 || IsBlank(static_cast<unsigned char>(text[i - 1]))))
                starts.push_back(static_cast<uint32_t>(i));
        std::vector<std::optional<uint64_t>> frames(starts.size());
        // Where sentences end (offset, frame), and every known time in text order.
        std::vector<std::pair<size_t, uint64_t>> ends, anchors;
        size_t covered = 0;
        auto below = [&](size_t offset) {
            return static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), offset) -
                                       starts.begin());
        };
        for (const ParlenWordTime& m : marks) {
            if (m.sentenceEnd) {
                const size_t end = std::min<size_t>(m.offset, text.size());
                if (ends.empty() || end > ends.back().first) ends.emplace_back(end, m.frame);
                anchors.emplace_back(end, m.frame);
                covered = std::max(covered, below(end));
                continue;
            }
            if (m.offset >= text.size() || starts.empty()) continue;
            const size_t k = std::max<size_t>(below(m.offset + size_t{1}), 1) - 1;
            if (!frames[k]) frames[k] = m.frame;
            anchors.emplace_back(starts[k], m.frame);
            covered = std::max(covered, k + 1);
        }
        std::stable_sort(anchors.begin(), anchors.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        uint64_t latest = 0;
        for (auto& a : anchors) latest = a.second = std::max(a.second, latest);

        const size_t count = complete ? starts.size() : covered;
        size_t sentence = 0;
        for (size_t i = 0; i < count; ++i) {
            const size_t offset = starts[i];
            while (sentence < ends.size() && ends[sentence].first <= offset) ++sentence;
            uint64_t frame = frames[i].value_or(0);
            if (!frames[i]) {
                const auto next =
                    std::upper_bound(anchors.begin(), anchors.end(), offset,
                                     [](size_t o, const auto& a) { return o < a.first; });
                const std::pair<size_t, uint64_t> before =
                    next == anchors.begin() ? std::pair<size_t, uint64_t>{0, 0} : *(next - 1);
                const std::pair<size_t, uint64_t> after =
                    next == anchors.end() ? std::pair<size_t, uint64_t>{text.size(), latest}
                                          : *next;
                const size_t span = std::max<size_t>(after.first - before.first, 1);
                frame =
                    before.second + (after.second - before.second) * (offset - before.first) / span;
            }
            if (!words.empty()) frame = std::max(frame, words.back().start);
            size_t end = offset;
            while (end < text.size() && !IsBlank(static_cast<unsigned char>(text[end]))) ++end;
            words.push_back(Word{static_cast<uint32_t>(offset),
                                 ValidUtf8(std::string_view(text).substr(offset, end - offset)),
                                 frame, frame, sentence, !frames[i].has_value()});
        }
        // Sentences in the order of their words; one without words is left out.
        size_t first = 0;
        for (size_t i = 0; i <= words.size(); ++i) {
            if (i < words.size() && words[i].sentence == words[first].sentence) continue;
            if (i == first) break;
            const size_t s = words[first].sentence;
            // The last sentence, not told where it ends, ends where its last word starts.
            uint64_t stop = s < ends.size() ? ends[s].second : words[i - 1].start;
            stop = std::max(stop, words[i - 1].start);
            for (size_t k = first; k < i; ++k) {
                words[k].end = k + 1 < i ? words[k + 1].start : stop;
                words[k].sentence = sentences.size();
            }
            sentences.push_back(Sentence{words[first].start, stop, first, i});
            first = i;
        }
    }
};

std::string EscapeMarkup(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// SubRip has no escapes: players take "<" up to the next ">" as a tag and a line with
// "-->" as a cue's times. A word joiner (invisible) after each "<" and between two
// hyphens keeps the text shown as it is (also "<!--" and "--!>").
std::string EscapeSubRip(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        out += s[i];
        if (s[i] == '<' || (s[i] == '-' && i + 1 < s.size() && s[i + 1] == '-')) out += "\u2060";
    }
    return out;
}

std::string EscapeJson(std::string_view s) {
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", u);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

using Escape = std::string (*)(std::string_view);

class Writer {
  public:
    explicit Writer(const TimingsSource& source)
        : s_(source), t_(source.text, source.marks, source.complete) {}

    uint64_t Ms(uint64_t frame) const {
        const uint64_t rate = std::max<uint32_t>(s_.rate, 1);
        return (frame * 1000 + rate / 2) / rate;
    }
    // hh:mm:ss followed by separator and the milliseconds.
    std::string Clock(uint64_t frame, char separator) const {
        const uint64_t ms = Ms(frame);
        char out[40];
        std::snprintf(out, sizeof out, "%02llu:%02llu:%02llu%c%03llu",
                      static_cast<unsigned long long>(ms / 3600000),
                      static_cast<unsigned long long>(ms / 60000 % 60),
                      static_cast<unsigned long long>(ms / 1000 % 60), separator,
                      static_cast<unsigned long long>(ms % 1000));
        return out;
    }
    // The sentence's words on one line, escaped; with stamps, a timestamp before each
    // of its words but the first.
    std::string SentenceText(const Sentence& sentence, bool stamps, Escape escape) const {
        std::string out;
        for (size_t w = sentence.firstWord; w < sentence.endWord; ++w) {
            if (w > sentence.firstWord) {
                out += ' ';
                if (stamps) {
                    out += '<';
                    out += Clock(t_.words[w].start, '.');
                    out += '>';
                }
            }
            out += escape(t_.words[w].text);
        }
        return out;
    }

    std::string WebVtt() const {
        std::string out = "WEBVTT\n";
        for (size_t i = 0; i < t_.sentences.size(); ++i) {
            const Sentence& s = t_.sentences[i];
            // Appended part by part: GCC 12 at -O3 misreads a chain of + here.
            out += '\n';
            out += std::to_string(i + 1);
            out += '\n';
            out += Clock(s.start, '.');
            out += " --> ";
            out += Clock(s.stop, '.');
            out += '\n';
            out += SentenceText(s, true, EscapeMarkup);
            out += '\n';
        }
        return out;
    }

    // A sentence in cues of at most two lines of kLine characters, cut between words
    // (a longer word takes a line of its own).
    std::string SubRip() const {
        constexpr size_t kLine = 42;
        std::string out;
        size_t cue = 0;
        for (const Sentence& s : t_.sentences) {
            std::vector<std::string> lines;
            size_t from = s.firstWord;
            auto flush = [&](size_t to) {
                if (lines.empty()) return;
                out += std::to_string(++cue) + "\n" + Clock(t_.words[from].start, ',') + " --> " +
                       Clock(t_.words[to - 1].end, ',') + "\n" + lines[0] + "\n" +
                       (lines.size() > 1 ? lines[1] + "\n" : "") + "\n";
                lines.clear();
                from = to;
            };
            for (size_t w = s.firstWord; w < s.endWord; ++w) {
                const std::string text = EscapeSubRip(t_.words[w].text);
                if (!lines.empty() && Length(lines.back()) + 1 + Length(text) <= kLine) {
                    lines.back() += " " + text;
                    continue;
                }
                if (lines.size() == 2) flush(w);
                lines.push_back(text);
            }
            flush(s.endWord);
        }
        return out;
    }

    std::string Json() const {
        std::string out = "{\"voice\": \"" + EscapeJson(ValidUtf8(s_.voice)) +
                          "\", \"sample_rate\": " + std::to_string(s_.rate) + ", \"words\": [";
        for (size_t i = 0; i < t_.words.size(); ++i) {
            const Word& w = t_.words[i];
            out += std::string(i ? "," : "") + "\n  {\"text\": \"" + EscapeJson(w.text) +
                   "\", \"offset\": " + std::to_string(w.offset) +
                   ", \"start_ms\": " + std::to_string(Ms(w.start)) +
                   ", \"end_ms\": " + std::to_string(Ms(w.end)) +
                   ", \"sentence\": " + std::to_string(w.sentence) +
                   (w.estimated ? ", \"estimated\": true}" : "}");
        }
        out += "],\n \"sentences\": [";
        for (size_t i = 0; i < t_.sentences.size(); ++i) {
            const Sentence& s = t_.sentences[i];
            out += std::string(i ? "," : "") + "\n  {\"text\": \"" +
                   SentenceText(s, false, EscapeJson) +
                   "\", \"start_ms\": " + std::to_string(Ms(s.start)) +
                   ", \"end_ms\": " + std::to_string(Ms(s.stop)) + "}";
        }
        out += "]";
        if (!s_.chapters.empty()) {
            // Times as the audio file's chapter marks give them.
            out += ",\n \"chapters\": [";
            for (size_t i = 0; i < s_.chapters.size(); ++i) {
                const containers::ChapterMark& c = s_.chapters[i];
                out += std::string(i ? "," : "") + "\n  {\"title\": \"" +
                       EscapeJson(ValidUtf8(c.title)) +
                       "\", \"start_ms\": " + std::to_string(c.startMs) +
                       ", \"end_ms\": " + std::to_string(c.endMs) + "}";
            }
            out += "]";
        }
        return out + "}\n";
    }

  private:
    // Characters shown, not bytes, of UTF-8 text: the word joiner takes no room.
    static size_t Length(const std::string& text) {
        size_t n = 0;
        for (size_t i = 0; i < text.size(); ++i)
            n += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 &&
                 text.compare(i, 3, "\u2060") != 0;
        return n;
    }

    const TimingsSource& s_;
    const Timeline t_;
};

}  // namespace

std::optional<TimingsFormat> TimingsFormatOf(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == "vtt") return TimingsFormat::WebVtt;
    if (ext == "srt") return TimingsFormat::SubRip;
    if (ext == "json") return TimingsFormat::Json;
    return std::nullopt;
}

std::string FormatTimings(TimingsFormat format, const TimingsSource& source) {
    const Writer writer(source);
    switch (format) {
        case TimingsFormat::WebVtt:
            return writer.WebVtt();
        case TimingsFormat::SubRip:
            return writer.SubRip();
        case TimingsFormat::Json:
            break;
    }
    return writer.Json();
}

std::vector<TimedSentence> TimedSentences(const TimingsSource& source) {
    const Timeline t(source.text, source.marks, source.complete);
    const uint64_t rate = source.rate ? source.rate : 1;
    std::vector<TimedSentence> out;
    for (const Sentence& s : t.sentences) {
        // A line break inside a sentence (a heading the engine ran into the text after
        // it) starts a new one there.
        size_t first = s.firstWord;
        for (size_t w = s.firstWord + 1; w <= s.endWord; ++w) {
            const bool broken =
                w < s.endWord && source.text.find('\n', t.words[w - 1].offset) < t.words[w].offset;
            if (w < s.endWord && !broken) continue;
            TimedSentence timed{{},
                                t.words[first].offset,
                                t.words[first].start * 1000 / rate,
                                (w < s.endWord ? t.words[w].start : s.stop) * 1000 / rate};
            for (size_t k = first; k < w; ++k)
                timed.text += (k > first ? " " : "") + t.words[k].text;
            out.push_back(std::move(timed));
            first = w;
        }
    }
    return out;
}

}  // namespace books

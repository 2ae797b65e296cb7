#include "tools/SayTimings.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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
};
struct Sentence {
    size_t begin, end;  // byte range of the text
    uint64_t start, stop;
    size_t firstWord, endWord;
};

// Words and sentences from the marks. Each word lasts until the next one of its
// sentence starts, the last one until its sentence's speech ends.
struct Timeline {
    std::vector<Word> words;
    std::vector<Sentence> sentences;

    Timeline(const std::string& text, std::span<const ParlenWordTime> marks) {
        size_t first = 0;  // of the open sentence
        auto close = [&](size_t end, uint64_t stop) {
            if (first == words.size()) return;
            stop = std::max(stop, words.back().start);
            for (size_t i = first; i < words.size(); ++i)
                words[i].end = i + 1 < words.size() ? words[i + 1].start : stop;
            sentences.push_back(Sentence{words[first].offset,
                                         std::max<size_t>(end, words.back().offset),
                                         words[first].start, stop, first, words.size()});
            first = words.size();
        };
        for (const ParlenWordTime& m : marks) {
            if (m.sentenceEnd) {
                close(std::min<size_t>(m.offset, text.size()), m.frame);
                continue;
            }
            if (m.offset >= text.size()) continue;
            size_t end = m.offset;
            while (end < text.size() && !IsBlank(static_cast<unsigned char>(text[end]))) ++end;
            words.push_back(Word{m.offset,
                                 ValidUtf8(std::string_view(text).substr(m.offset, end - m.offset)),
                                 m.frame, m.frame, sentences.size()});
        }
        // Not told where the last sentence ends: it ends where its last word starts.
        if (first < words.size()) close(text.size(), words.back().start);
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

// SubRip has no escapes, and players take "<" up to the next ">" as a tag; a word joiner
// (invisible) after each "<" keeps the text shown as it is.
std::string EscapeSubRip(std::string_view s) {
    std::string out;
    for (char c : s) out += c == '<' ? std::string("<\u2060") : std::string(1, c);
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
    explicit Writer(const TimingsSource& source) : s_(source), t_(source.text, source.marks) {}

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
    // The sentence's text on one line, blanks run together, escaped; with stamps, a
    // timestamp before each of its words but the first.
    std::string SentenceText(const Sentence& sentence, bool stamps, Escape escape) const {
        std::string out;
        size_t word = sentence.firstWord + 1;
        const std::string& text = s_.text;
        for (size_t i = sentence.begin; i < sentence.end;) {
            const size_t run = i;
            while (i < sentence.end && !IsBlank(static_cast<unsigned char>(text[i]))) ++i;
            while (word < sentence.endWord && t_.words[word].offset < run) ++word;
            if (i > run) {
                if (!out.empty()) out += ' ';
                if (stamps && word < sentence.endWord && t_.words[word].offset == run) {
                    out += '<';
                    out += Clock(t_.words[word].start, '.');
                    out += '>';
                }
                out += escape(ValidUtf8(std::string_view(text).substr(run, i - run)));
            }
            while (i < sentence.end && IsBlank(static_cast<unsigned char>(text[i]))) ++i;
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
                   ", \"sentence\": " + std::to_string(w.sentence) + "}";
        }
        out += "],\n \"sentences\": [";
        for (size_t i = 0; i < t_.sentences.size(); ++i) {
            const Sentence& s = t_.sentences[i];
            out += std::string(i ? "," : "") + "\n  {\"text\": \"" +
                   SentenceText(s, false, EscapeJson) +
                   "\", \"start_ms\": " + std::to_string(Ms(s.start)) +
                   ", \"end_ms\": " + std::to_string(Ms(s.stop)) + "}";
        }
        return out + "]}\n";
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

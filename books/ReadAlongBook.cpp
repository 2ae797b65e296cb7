#include "books/ReadAlongBook.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "books/Timings.h"
#include "containers/ReadAlong.h"
#include "support/Errors.h"
#include "support/FileReplace.h"

namespace books {
namespace {
bool Fail(std::string& why, const std::string& path, const std::string& reason) {
    why = "'" + path + "': " + reason;
    return false;
}

// A paragraph begins at offset when the blanks before it hold a line break.
bool StartsParagraph(const std::string& text, uint32_t offset) {
    for (size_t i = offset; i > 0; --i) {
        const char c = text[i - 1];
        if (c == '\n') return true;
        if (c != ' ' && c != '\t' && c != '\r') return false;
    }
    return true;
}

// The hidden folder the chapters' MP3 files are made in, removed with what it holds.
struct Scratch {
    std::string path;
    ~Scratch() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};
}  // namespace

bool IsReadAlongName(const std::string& out) {
    if (out.size() < 5) return false;
    std::string ext = out.substr(out.size() - 5);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".epub";
}

bool WriteReadAlongBook(const std::string& whole, const std::string& out, const SpokenBook& book,
                        const Making& making, std::string& why) {
    why.clear();
    const std::string& text = book.text;
    const std::span<const ParlenWordTime> marks = book.marks;
    const uint32_t rate = book.rate;
    const uint64_t total = RenderFrames(whole, rate);
    if (rate == 0)
        return Fail(why, out, "nothing in the text is spoken, so it makes no read-along book");
    if (total == 0) return Fail(why, whole, "the render cannot be read back");
    containers::BookTags tags = book.tags;
    if (tags.title.empty()) tags.title = book.name;
    // Chapters of the text in their order; a text without any is one chapter.
    std::vector<containers::ChapterMark> chapters = book.placed;
    std::vector<uint32_t> offsets;
    if (!chapters.empty() && chapters.size() == book.starts.size()) {
        for (const containers::ChapterStart& c : book.starts) offsets.push_back(c.offset);
    } else {
        chapters = {containers::ChapterMark{tags.title, 0, total, 0, 0}};
        offsets = {0};
    }
    const std::vector<SplitPart> parts =
        PlanParts(chapters, marks, total, rate, 0, true, book.name);

    const size_t slash = out.rfind('/');
    Scratch scratch{(slash == std::string::npos ? "." : out.substr(0, slash)) +
                    "/.parlen-epub-XXXXXX"};
    if (!::mkdtemp(scratch.path.data())) {
        const std::string reason = std::strerror(errno);
        scratch.path.clear();
        return Fail(why, out, reason);
    }
    std::vector<std::string> files;
    if (!WriteParts(whole, parts, rate, scratch.path, FileFormat::Mp3, "mp3", tags, -1, making, why,
                    &files))
        return false;

    std::vector<containers::ReadAlongChapter> book3(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        book3[i].title = parts[i].title;
        const uint64_t end = i + 1 < parts.size() ? parts[i + 1].startFrame : total;
        book3[i].durationMs = containers::FrameMs(end - parts[i].startFrame, rate);
        if (!ReadWholeFile(files[i], book3[i].mp3))
            return Fail(why, files[i], "cannot be read back");
    }
    const TimingsSource source{text, {}, rate, marks, true, chapters};
    for (const TimedSentence& s : TimedSentences(source)) {
        size_t i = 0;
        while (i + 1 < offsets.size() && offsets[i + 1] <= s.offset) ++i;
        const uint64_t begin = containers::FrameMs(parts[i].startFrame, rate);
        const auto within = [&](uint64_t ms) {
            return std::min(ms > begin ? ms - begin : 0, book3[i].durationMs);
        };
        book3[i].sentences.push_back(
            {s.text, within(s.startMs), within(s.endMs), StartsParagraph(text, s.offset)});
    }
    try {
        containers::WriteReadAlong(out, tags, book3);
    } catch (const Exception& e) {
        why = e.what();
        return false;
    }
    return true;
}

}  // namespace books

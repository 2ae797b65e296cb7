#include "books/ChapterFiles.h"

#include <sndfile.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "containers/FileNames.h"
#include "platform/audio/AudioEncoder.h"
#include "platform/audio/FileTarget.h"
#include "support/Errors.h"
#include "support/WholeFile.h"

namespace books {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

// Tells why a file cannot be made: its name and the reason.
bool Fail(std::string& why, const std::string& path, const std::string& reason) {
    why = "'" + path + "': " + reason;
    return false;
}

bool FinishedBefore(const std::string& path, long long keepAfterNs) {
    struct stat st {};
    return keepAfterNs >= 0 && ::stat(path.c_str(), &st) == 0 &&
           static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec >=
               keepAfterNs;
}

// Removes the hidden file unless it was named as the chapter's.
struct Temporary {
    std::string path;
    ~Temporary() {
        if (!path.empty()) ::unlink(path.c_str());
    }
};

}  // namespace

namespace {
// The cuts that keep every stretch of [begin, end) within limit: at the last of starts
// (chapter starts) in reach, else the last of ends (sentence ends), else the limit.
std::vector<uint64_t> Cuts(uint64_t begin, uint64_t end, uint64_t limit,
                           const std::vector<uint64_t>& starts, const std::vector<uint64_t>& ends) {
    std::vector<uint64_t> cuts;
    const auto lastIn = [](const std::vector<uint64_t>& sorted, uint64_t after, uint64_t upTo) {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), upTo);
        return it != sorted.begin() && *std::prev(it) > after ? *std::prev(it) : uint64_t{0};
    };
    for (uint64_t at = begin; limit > 0 && end - at > limit;) {
        uint64_t cut = lastIn(starts, at, at + limit);
        if (cut == 0) cut = lastIn(ends, at, at + limit);
        if (cut == 0) cut = at + limit;
        cuts.push_back(cut);
        at = cut;
    }
    return cuts;
}
}  // namespace

std::vector<SplitPart> PlanParts(const std::vector<containers::ChapterMark>& chapters,
                                 std::span<const ParlenWordTime> marks, uint64_t totalFrames,
                                 uint32_t rate, uint64_t limitFrames, bool perChapter,
                                 const std::string& book) {
    std::vector<uint64_t> ends;
    for (const ParlenWordTime& m : marks)
        if (m.sentenceEnd && m.frame > 0 && m.frame < totalFrames) ends.push_back(m.frame);
    std::sort(ends.begin(), ends.end());
    std::vector<SplitPart> parts;
    if (perChapter) {
        for (size_t i = 0; i < chapters.size(); ++i) {
            const uint64_t begin = i == 0 ? 0 : chapters[i].startFrame;
            const uint64_t end = i + 1 < chapters.size() ? chapters[i + 1].startFrame : totalFrames;
            std::vector<uint64_t> cuts = Cuts(begin, end, limitFrames, {}, ends);
            cuts.insert(cuts.begin(), begin);
            for (size_t k = 0; k < cuts.size(); ++k)
                parts.push_back({cuts[k],
                                 cuts.size() == 1
                                     ? chapters[i].title
                                     : chapters[i].title + " (" + std::to_string(k + 1) + ")",
                                 {}});
        }
        return parts;
    }
    std::vector<uint64_t> starts;
    for (size_t i = 1; i < chapters.size(); ++i) starts.push_back(chapters[i].startFrame);
    std::vector<uint64_t> cuts = Cuts(0, totalFrames, limitFrames, starts, ends);
    cuts.insert(cuts.begin(), 0);
    for (size_t k = 0; k < cuts.size(); ++k) {
        const uint64_t begin = cuts[k], end = k + 1 < cuts.size() ? cuts[k + 1] : totalFrames;
        SplitPart part{
            begin, cuts.size() == 1 ? book : book + " (" + std::to_string(k + 1) + ")", {}};
        for (size_t i = 0; i < chapters.size(); ++i) {
            const uint64_t from = i == 0 ? 0 : chapters[i].startFrame;
            const uint64_t to = i + 1 < chapters.size() ? chapters[i + 1].startFrame : totalFrames;
            if (to <= begin || from >= end) continue;
            containers::ChapterMark mark{chapters[i].title, std::max(from, begin) - begin,
                                         std::min(to, end) - begin, 0, 0};
            mark.startMs = containers::FrameMs(mark.startFrame, rate);
            mark.endMs = containers::FrameMs(mark.endFrame, rate);
            part.marks.push_back(std::move(mark));
        }
        parts.push_back(std::move(part));
    }
    return parts;
}

uint64_t RenderFrames(const std::string& whole, uint32_t rate) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> in(sf_open(whole.c_str(), SFM_READ, &info));
    if (!in || info.samplerate <= 0) return 0;
    return static_cast<uint64_t>(info.frames) * (rate ? rate : info.samplerate) /
           static_cast<uint64_t>(info.samplerate);
}

bool WriteParts(const std::string& whole, const std::vector<SplitPart>& parts, uint32_t rate,
                const std::string& dir, FileFormat format, const std::string& ext,
                const containers::BookTags& tags, long long keepAfterNs, const Making& making,
                std::string& why, std::vector<std::string>* written) {
    why.clear();
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> in(sf_open(whole.c_str(), SFM_READ, &info));
    if (!in || info.channels != 1 || info.samplerate <= 0)
        return Fail(why, whole,
                    in ? "the render is not one channel of audio" : sf_strerror(nullptr));
    const auto fileRate = static_cast<uint64_t>(info.samplerate);
    const auto sampleOf = [&](size_t i) -> sf_count_t {
        if (i == 0) return 0;
        if (i >= parts.size()) return info.frames;
        const uint64_t at = parts[i].startFrame * fileRate / (rate ? rate : fileRate);
        return std::min<sf_count_t>(static_cast<sf_count_t>(at), info.frames);
    };
    const double total = static_cast<double>(std::max<sf_count_t>(info.frames, 1));
    std::vector<int16_t> buffer(size_t{1} << 16);
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string path =
            dir + "/" + containers::ChapterFileName(i + 1, parts.size(), parts[i].title, ext);
        if (written) written->push_back(path);
        if (FinishedBefore(path, keepAfterNs)) continue;
        Temporary temp{dir + "/.parlen-part-XXXXXX." + ext};
        if (!MakeHiddenFile(temp.path, ext.size() + 1)) {
            temp.path.clear();
            return Fail(why, dir, std::strerror(errno));
        }
        std::string reason;
        std::unique_ptr<FileTarget> target = FileTarget::Open(temp.path, reason);
        if (!target) return Fail(why, path, reason);
        std::unique_ptr<AudioEncoder> encoder = AudioEncoder::Create(
            std::move(target), format, static_cast<unsigned>(fileRate), reason);
        if (!encoder) return Fail(why, path, reason);
        const sf_count_t end = sampleOf(i + 1);
        sf_count_t at = sampleOf(i);
        if (sf_seek(in.get(), at, SEEK_SET) < 0) return Fail(why, whole, sf_strerror(in.get()));
        while (at < end) {
            if (making.Stopped()) return false;  // why stays empty
            const sf_count_t want =
                std::min<sf_count_t>(end - at, static_cast<sf_count_t>(buffer.size()));
            const sf_count_t got = sf_readf_short(in.get(), buffer.data(), want);
            if (got <= 0) return Fail(why, whole, "the render ends before its chapters do");
            if (!encoder->Write(buffer.data(), static_cast<size_t>(got), reason)) {
                std::string ignored;
                encoder->Close(ignored);
                return Fail(why, path, reason);
            }
            at += got;
            if (making.progress) making.progress(static_cast<double>(at) / total);
        }
        if (!encoder->Close(reason)) return Fail(why, path, reason);
        containers::BookTags track = tags;
        track.trackTitle = parts[i].title;
        track.track = static_cast<unsigned>(i + 1);
        track.tracks = static_cast<unsigned>(parts.size());
        try {
            std::vector<containers::ChapterMark> marks = parts[i].marks;
            containers::WriteChapterMarks(temp.path, format, marks, rate, track);
        } catch (const Exception& e) {
            why = e.what();
            return false;
        }
        if (::rename(temp.path.c_str(), path.c_str()) != 0)
            return Fail(why, path, std::strerror(errno));
        temp.path.clear();
    }
    return true;
}

bool WriteChapterFiles(const std::string& whole,
                       const std::vector<containers::ChapterMark>& chapters,
                       std::span<const ParlenWordTime> marks, uint32_t rate, const std::string& dir,
                       FileFormat format, const std::string& ext, const containers::BookTags& tags,
                       const Making& making, std::string& why, std::vector<std::string>* written) {
    const uint64_t total = RenderFrames(whole, rate);
    if (total == 0 || rate == 0) return Fail(why, whole, "the render cannot be read back");
    const std::vector<SplitPart> parts =
        PlanParts(chapters, marks, total, rate, 0, true, tags.title);
    return WriteParts(whole, parts, rate, dir, format, ext, tags, -1, making, why, written);
}

std::string HiddenRender(const std::string& dir, std::string& why) {
    std::string whole = dir + "/.parlen-book-XXXXXX.wav";
    if (MakeHiddenFile(whole, 4)) return whole;
    why = "cannot write into '" + dir + "': " + std::strerror(errno);
    return {};
}

}  // namespace books

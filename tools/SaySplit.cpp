#include "tools/SaySplit.h"

#include <sndfile.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "containers/FileNames.h"
#include "platform/audio/AudioEncoder.h"
#include "platform/audio/FileTarget.h"
#include "support/Errors.h"
#include "support/WholeFile.h"
#include "tools/SayBatch.h"
#include "tools/SaySignals.h"

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

bool Fail(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "parlen-say: '%s': %s\n", path.c_str(), why.c_str());
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
                const containers::BookTags& tags, long long keepAfterNs,
                std::vector<std::string>* written) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> in(sf_open(whole.c_str(), SFM_READ, &info));
    if (!in || info.channels != 1 || info.samplerate <= 0)
        return Fail(whole, in ? "the render is not one channel of audio" : sf_strerror(nullptr));
    const auto fileRate = static_cast<uint64_t>(info.samplerate);
    const auto sampleOf = [&](size_t i) -> sf_count_t {
        if (i == 0) return 0;
        if (i >= parts.size()) return info.frames;
        const uint64_t at = parts[i].startFrame * fileRate / (rate ? rate : fileRate);
        return std::min<sf_count_t>(static_cast<sf_count_t>(at), info.frames);
    };
    std::vector<int16_t> buffer(size_t{1} << 16);
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string path =
            dir + "/" + containers::ChapterFileName(i + 1, parts.size(), parts[i].title, ext);
        if (written) written->push_back(path);
        if (FinishedBefore(path, keepAfterNs)) continue;
        Temporary temp{dir + "/.parlen-part-XXXXXX." + ext};
        if (!MakeHiddenFile(temp.path, ext.size() + 1)) {
            temp.path.clear();
            return Fail(dir, std::strerror(errno));
        }
        std::string why;
        std::unique_ptr<FileTarget> target = FileTarget::Open(temp.path, why);
        if (!target) return Fail(path, why);
        std::unique_ptr<AudioEncoder> encoder =
            AudioEncoder::Create(std::move(target), format, static_cast<unsigned>(fileRate), why);
        if (!encoder) return Fail(path, why);
        const sf_count_t end = sampleOf(i + 1);
        sf_count_t at = sampleOf(i);
        if (sf_seek(in.get(), at, SEEK_SET) < 0) return Fail(whole, sf_strerror(in.get()));
        while (at < end) {
            if (SaySignals::Caught()) return false;  // the caller tells of it
            const sf_count_t want =
                std::min<sf_count_t>(end - at, static_cast<sf_count_t>(buffer.size()));
            const sf_count_t got = sf_readf_short(in.get(), buffer.data(), want);
            if (got <= 0) return Fail(whole, "the render ends before its chapters do");
            if (!encoder->Write(buffer.data(), static_cast<size_t>(got), why)) {
                std::string ignored;
                encoder->Close(ignored);
                return Fail(path, why);
            }
            at += got;
        }
        if (!encoder->Close(why)) return Fail(path, why);
        containers::BookTags track = tags;
        track.trackTitle = parts[i].title;
        track.track = static_cast<unsigned>(i + 1);
        track.tracks = static_cast<unsigned>(parts.size());
        try {
            std::vector<containers::ChapterMark> marks = parts[i].marks;
            containers::WriteChapterMarks(temp.path, format, marks, rate, track);
        } catch (const Exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
            return false;
        }
        if (::rename(temp.path.c_str(), path.c_str()) != 0) return Fail(path, std::strerror(errno));
        temp.path.clear();
    }
    return true;
}

bool WriteBookParts(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    std::span<const ParlenWordTime> marks, uint32_t rate, const Options& o,
                    const containers::BookTags& tags, long long keepAfterNs) {
    const uint64_t total = RenderFrames(whole, rate);
    if (total == 0 || rate == 0) return Fail(whole, "the render cannot be read back");
    uint64_t limit = o.splitMinutes ? uint64_t{*o.splitMinutes} * 60 * rate : 0;
    const double bytes = o.splitMb ? *o.splitMb * 1e6 : 0;
    const FileFormat format = FileFormatOf("." + o.format);
    if (bytes > 0) {
        // The encoders' usual rates for speech (see AudioEncoder.h); VBR ones are checked.
        const double perSecond = o.format == "wav"    ? 2.0 * rate
                                 : o.format == "flac" ? 1.0 * rate
                                 : o.format == "mp3"  ? (rate >= 32000 ? 12000 : 8000)
                                 : o.format == "opus" ? 4000
                                                      : 12000;
        const auto sized = static_cast<uint64_t>(bytes / perSecond * 0.97 * rate);
        limit = limit ? std::min(limit, sized) : sized;
    }
    const std::string book = o.input == "-" ? "speech" : BookStem(o.input);
    for (int attempt = 0;; ++attempt) {
        const std::vector<SplitPart> parts =
            PlanParts(chapters, marks, total, rate, limit, o.perChapter, book);
        std::vector<std::string> files;
        if (!WriteParts(whole, parts, rate, o.outDir, format, o.format, tags,
                        attempt == 0 ? keepAfterNs : -1, &files))
            return false;
        if (bytes <= 0) return true;
        uint64_t largest = 0;
        for (const std::string& f : files) {
            struct stat st {};
            if (::stat(f.c_str(), &st) == 0) largest = std::max<uint64_t>(largest, st.st_size);
        }
        if (largest <= bytes) return true;
        // Shorter parts until they fit; a second of audio is the least.
        const auto shorter = static_cast<uint64_t>(static_cast<double>(limit) * bytes /
                                                   static_cast<double>(largest) * 0.97);
        if (attempt == 4 || shorter < rate)
            return Fail(o.outDir, "a file of at most " + std::to_string(*o.splitMb) +
                                      " MB cannot hold a second of this audio and its tags");
        for (const std::string& f : files) ::unlink(f.c_str());
        limit = shorter;
    }
}

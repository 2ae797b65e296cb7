#include "tools/SaySplit.h"

#include <sndfile.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "containers/FileNames.h"
#include "platform/audio/AudioEncoder.h"
#include "platform/audio/FileTarget.h"
#include "support/Errors.h"
#include "tools/WholeFile.h"

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

bool SplitByChapter(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    uint32_t rate, const std::string& dir, FileFormat format,
                    const std::string& ext, const containers::BookTags& tags,
                    long long keepAfterNs) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, SndfileCloser> in(sf_open(whole.c_str(), SFM_READ, &info));
    if (!in || info.channels != 1 || info.samplerate <= 0)
        return Fail(whole, in ? "the render is not one channel of audio" : sf_strerror(nullptr));
    const auto fileRate = static_cast<uint64_t>(info.samplerate);
    const auto sampleOf = [&](size_t i) -> sf_count_t {
        if (i == 0) return 0;
        if (i >= chapters.size()) return info.frames;
        const uint64_t at = chapters[i].startFrame * fileRate / (rate ? rate : fileRate);
        return std::min<sf_count_t>(static_cast<sf_count_t>(at), info.frames);
    };
    std::vector<int16_t> buffer(size_t{1} << 16);
    for (size_t i = 0; i < chapters.size(); ++i) {
        const std::string path =
            dir + "/" + containers::ChapterFileName(i + 1, chapters.size(), chapters[i].title, ext);
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
        track.trackTitle = chapters[i].title;
        track.track = static_cast<unsigned>(i + 1);
        track.tracks = static_cast<unsigned>(chapters.size());
        std::vector<containers::ChapterMark> none;
        try {
            containers::WriteChapterMarks(temp.path, format, none, rate, track);
        } catch (const Exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
            return false;
        }
        if (::rename(temp.path.c_str(), path.c_str()) != 0) return Fail(path, std::strerror(errno));
        temp.path.clear();
    }
    return true;
}

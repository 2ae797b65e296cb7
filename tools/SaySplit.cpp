#include "tools/SaySplit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tools/SayBatch.h"

namespace {
bool Fail(std::string& why, const std::string& path, const std::string& reason) {
    why = "'" + path + "': " + reason;
    return false;
}
}  // namespace

bool WriteBookParts(const std::string& whole, const std::vector<containers::ChapterMark>& chapters,
                    std::span<const ParlenWordTime> marks, uint32_t rate, const Options& o,
                    const containers::BookTags& tags, long long keepAfterNs,
                    const books::Making& making, std::string& why) {
    const uint64_t total = books::RenderFrames(whole, rate);
    if (total == 0 || rate == 0) return Fail(why, whole, "the render cannot be read back");
    uint64_t limit = o.splitMinutes ? uint64_t{*o.splitMinutes} * 60 * rate : 0;
    const double bytes = o.splitMb ? *o.splitMb * 1e6 : 0;
    const FileFormat format = FileFormatOf("." + o.format);
    if (bytes > 0) {
        // The encoders' usual rates for speech (see AudioEncoder.h); VBR ones are checked.
        const double perSecond = o.format == "wav"    ? 2.0 * rate
                                 : o.format == "flac" ? 1.0 * rate
                                 : o.format == "mp3"  ? (rate >= 32000 ? 12000 : 8000)
                                 : o.format == "opus" ? 4000
                                 : o.format == "m4b"  ? 8000
                                                      : 12000;
        const auto sized = static_cast<uint64_t>(bytes / perSecond * 0.97 * rate);
        limit = limit ? std::min(limit, sized) : sized;
    }
    const std::string book = o.input == "-" ? "speech" : BookStem(o.input);
    for (int attempt = 0;; ++attempt) {
        const std::vector<books::SplitPart> parts =
            books::PlanParts(chapters, marks, total, rate, limit, o.perChapter, book);
        std::vector<std::string> files;
        if (!books::WriteParts(whole, parts, rate, o.outDir, format, o.format, tags,
                               attempt == 0 ? keepAfterNs : -1, making, why, &files))
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
            return Fail(why, o.outDir,
                        "a file of at most " + std::to_string(*o.splitMb) +
                            " MB cannot hold a second of this audio and its tags");
        for (const std::string& f : files) ::unlink(f.c_str());
        limit = shorter;
    }
}

#include "containers/WavCues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace containers {
namespace {

uint32_t U32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t U64(const unsigned char* p) {
    return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32;
}
void Put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
}

// What the header tells: where its RIFF size is kept (4 or 8 bytes), the audio's frames.
struct WavLayout {
    uint64_t riffSize = 0;
    off_t riffSizeAt = 4;
    bool rf64 = false;
    uint32_t rate = 0;
    uint64_t frames = 0;
};

bool WriteAll(int fd, const std::string& data, off_t at) {
    for (size_t done = 0; done < data.size();) {
        const ssize_t n =
            pwrite(fd, data.data() + done, data.size() - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads the chunks before the audio; the reason when the file is not one of ours.
std::string ReadLayout(int fd, off_t size, WavLayout& w) {
    unsigned char head[4096];
    const ssize_t got = pread(fd, head, sizeof head, 0);
    if (got < 12 || (std::memcmp(head, "RIFF", 4) != 0 && std::memcmp(head, "RF64", 4) != 0) ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return "it is not a WAV file";
    w.rf64 = std::memcmp(head, "RF64", 4) == 0;
    w.riffSize = U32(head + 4);
    uint64_t dataSize = 0;
    uint32_t blockAlign = 0;
    bool data = false;
    uint64_t dataEnd = 0;
    for (size_t at = 12; at + 8 <= static_cast<size_t>(got) && !data;) {
        const unsigned char* chunk = head + at;
        const uint32_t length = U32(chunk + 4);
        if (at + 8 + std::min<size_t>(length, 28) > static_cast<size_t>(got) &&
            std::memcmp(chunk, "data", 4) != 0)
            break;
        if (std::memcmp(chunk, "ds64", 4) == 0 && length >= 16) {
            w.riffSize = U64(chunk + 8);
            w.riffSizeAt = static_cast<off_t>(at + 8);
            dataSize = U64(chunk + 16);
        } else if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16) {
            w.rate = U32(chunk + 12);
            blockAlign = chunk[20] | chunk[21] << 8;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!w.rf64 || length != 0xFFFFFFFF) dataSize = length;
            data = true;
            dataEnd = at + 8 + dataSize + (dataSize & 1);
            break;
        } else if (std::memcmp(chunk, "cue ", 4) == 0) {
            return "it has cue points already";
        }
        at += 8 + length + (length & 1);
    }
    if (!data || w.rate == 0 || blockAlign == 0 || (w.rf64 && w.riffSizeAt == 4))
        return "its header is not one this program writes";
    if (w.riffSize + 8 != static_cast<uint64_t>(size))
        return "its length does not match its header";
    // The chunks after the audio, where marks of an earlier run would be.
    for (uint64_t at = dataEnd; at + 8 <= static_cast<uint64_t>(size);) {
        unsigned char chunk[8];
        if (pread(fd, chunk, 8, static_cast<off_t>(at)) != 8) return "it cannot be read";
        if (std::memcmp(chunk, "cue ", 4) == 0) return "it has cue points already";
        at += 8 + U32(chunk + 4) + (U32(chunk + 4) & 1);
    }
    w.frames = dataSize / blockAlign;
    return {};
}

}  // namespace

std::string AddWavCues(const std::string& path, std::vector<ChapterMark>& chapters, uint32_t rate) {
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0) return std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "it is not a regular file";
    WavLayout w;
    if (std::string why = ReadLayout(fd, info.st_size, w); !why.empty()) return why;
    if (!chapters.empty()) {
        const uint64_t lengthMs = FrameMs(w.frames, w.rate);
        if (lengthMs > chapters.back().endMs) {
            chapters.back().endMs = lengthMs;
            chapters.back().endFrame = lengthMs * rate / 1000;
        }
    }
    std::string cue = "cue ", labels = "adtl";
    Put32(cue, static_cast<uint32_t>(4 + 24 * chapters.size()));
    Put32(cue, static_cast<uint32_t>(chapters.size()));
    for (size_t i = 0; i < chapters.size(); ++i) {
        // The file's own sample of the mark, at the file's rate.
        const auto sample = static_cast<uint32_t>(
            std::min<unsigned __int128>(static_cast<unsigned __int128>(chapters[i].startFrame) *
                                            w.rate / (rate ? rate : w.rate),
                                        0xFFFFFFFF));
        const auto id = static_cast<uint32_t>(i + 1);
        Put32(cue, id);
        Put32(cue, sample);
        cue += "data";
        Put32(cue, 0);
        Put32(cue, 0);
        Put32(cue, sample);
        std::string label = chapters[i].title;
        label += '\0';
        labels += "labl";
        Put32(labels, static_cast<uint32_t>(4 + label.size()));
        Put32(labels, id);
        labels += label;
        if (label.size() & 1) labels += '\0';
    }
    std::string chunks = cue + "LIST";
    Put32(chunks, static_cast<uint32_t>(labels.size()));
    chunks += labels;
    const uint64_t riffSize = w.riffSize + chunks.size();
    if (!w.rf64 && riffSize > 0xFFFFFFFF) return "it is too long for cue points in its header";
    if (!WriteAll(fd, chunks, info.st_size) || fsync(fd) != 0) {
        const int error = errno;
        if (ftruncate(fd, info.st_size) == 0) fsync(fd);
        return std::strerror(error);
    }
    std::string size;
    Put32(size, static_cast<uint32_t>(riffSize));
    if (w.rf64) Put32(size, static_cast<uint32_t>(riffSize >> 32));
    if (!WriteAll(fd, size, w.riffSizeAt) || fsync(fd) != 0) {
        const int error = errno;
        if (ftruncate(fd, info.st_size) == 0) fsync(fd);
        return std::strerror(error);
    }
    return {};
}

}  // namespace containers

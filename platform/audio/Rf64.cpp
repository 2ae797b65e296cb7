#include "platform/audio/Rf64.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace Rf64 {
namespace {

constexpr size_t kPlainHeader = 44;
constexpr size_t kMoveChunk = size_t{4} << 20;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

void Put32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* at, uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t Get32(const unsigned char* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// Runs pread or pwrite until the whole range is done; a call that moves no byte sets
// errno to endErrno.
template <typename Byte, typename Call>
bool FullIo(Call call, int fd, Byte* data, size_t size, off_t at, int endErrno) {
    while (size > 0) {
        const ssize_t n = call(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = endErrno;
            return false;
        }
        data += n;
        size -= size_t(n);
        at += n;
    }
    return true;
}

bool FullPwrite(int fd, const unsigned char* data, size_t size, off_t at) {
    return FullIo(::pwrite, fd, data, size, at, ENOSPC);
}

bool FullPread(int fd, unsigned char* data, size_t size, off_t at) {
    return FullIo(::pread, fd, data, size, at, EIO);
}

// Moves [0, size) up by `room` bytes, from the end down, so that nothing is
// overwritten before it was copied. Only the first write grows the file: a full
// disk stops it there, and the file is cut back to what it was.
bool MoveUp(int fd, uint64_t size, uint64_t room) {
    std::vector<unsigned char> buffer(kMoveChunk);
    uint64_t end = size;
    bool first = true;
    while (end > 0) {
        const uint64_t begin = end > kMoveChunk ? end - kMoveChunk : 0;
        const size_t n = size_t(end - begin);
        if (!FullPread(fd, buffer.data(), n, off_t(begin))) return false;
        if (!FullPwrite(fd, buffer.data(), n, off_t(begin + room))) {
            const int err = errno;
            if (first && ::ftruncate(fd, off_t(size)) != 0) {
                // The write's reason is the one to tell.
            }
            errno = err;
            return false;
        }
        first = false;
        end = begin;
    }
    return true;
}

}  // namespace

bool Promote(const std::string& path, std::string& error, bool insertRange) {
    Fd file{::open(path.c_str(), O_RDWR | O_CLOEXEC)};
    if (file.fd < 0) {
        error = std::string("Cannot open the file again: ") + std::strerror(errno);
        return false;
    }
    return Promote(file.fd, error, insertRange);
}

bool Promote(int fd, std::string& error, bool insertRange) {
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    const struct { int fd; } file{fd};  // the caller's, left open
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return fail("Cannot read the file's size");
    unsigned char old[kPlainHeader];
    if (uint64_t(st.st_size) < kPlainHeader || !FullPread(file.fd, old, kPlainHeader, 0))
        return fail("Cannot read the WAV header");
    if (std::memcmp(old, "RIFF", 4) != 0 || std::memcmp(old + 8, "WAVEfmt ", 8) != 0 ||
        Get32(old + 16) != 16 || std::memcmp(old + 36, "data", 4) != 0) {
        error = "The file does not start with the plain WAV header";
        return false;
    }
    // Whole frames only (16-bit mono: two bytes each).
    const uint64_t dataBytes = (uint64_t(st.st_size) - kPlainHeader) & ~uint64_t{1};
    const uint64_t size = kPlainHeader + dataBytes;
    if (uint64_t(st.st_size) != size && ::ftruncate(file.fd, off_t(size)) != 0)
        return fail("Cannot cut the file to whole frames");

    // The room at the head: one block of the file system, as inserting a range needs.
    const uint64_t room = std::max<uint64_t>(4096, uint64_t(st.st_blksize));
    bool made = insertRange && ::fallocate(file.fd, FALLOC_FL_INSERT_RANGE, 0, off_t(room)) == 0;
    if (!made && !MoveUp(file.fd, size, room)) {
        const int err = errno;
        // No room: the plain header's sizes say "to the end of the file" instead of
        // wrapped ones, which most players follow.
        unsigned char untilEnd[4];
        Put32(untilEnd, 0xFFFFFFFFu);
        if (FullPwrite(file.fd, untilEnd, 4, 4)) FullPwrite(file.fd, untilEnd, 4, 40);
        errno = err;
        return fail("Cannot make room for the RF64 header");
    }

    // RF64 header, ds64, the old fmt chunk, then padding up to where the old data
    // chunk's header now lies; its size field says "see ds64".
    std::vector<unsigned char> head(size_t(room) + kPlainHeader, 0);
    unsigned char* h = head.data();
    std::memcpy(h, "RF64", 4);
    Put32(h + 4, 0xFFFFFFFFu);
    std::memcpy(h + 8, "WAVEds64", 8);
    Put32(h + 16, 28);
    Put64(h + 20, room + size - 8);     // RIFF size
    Put64(h + 28, dataBytes);           // data size
    Put64(h + 36, dataBytes / 2);       // frames
    Put32(h + 44, 0);                   // no table
    std::memcpy(h + 48, old + 12, 24);  // "fmt " chunk as written
    std::memcpy(h + 72, "JUNK", 4);
    Put32(h + 76, uint32_t(room + 36 - 80));
    std::memcpy(h + room + 36, "data", 4);
    Put32(h + room + 40, 0xFFFFFFFFu);
    if (!FullPwrite(file.fd, head.data(), head.size(), 0))
        return fail("Cannot write the RF64 header");
    return true;
}

}  // namespace Rf64

#include "support/VersionSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// A block's length field is 16 bits wide; anything larger is not a version block.
constexpr uint64_t kMaxBlock = 0xFFFF;

// Bounds-checked little- or big-endian reads at file offsets.
class FileReader {
  public:
    explicit FileReader(const std::string& name)
        : fd_(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
            size_ = static_cast<uint64_t>(st.st_size);
        else
            ok_ = false;
    }
    ~FileReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool Open() const { return fd_ >= 0 && ok_; }
    uint64_t Size() const { return size_; }
    bool Read(uint64_t offset, void* out, size_t n) const {
        if (offset > size_ || n > size_ - offset) return false;
        auto* p = static_cast<char*>(out);
        while (n > 0) {
            ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            p += got;
            n -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    }
    // Unsigned value of width bytes (1..8); bigEndian selects the byte order.
    bool Uint(uint64_t offset, size_t width, bool bigEndian, uint64_t& value) const {
        unsigned char b[8];
        if (!Read(offset, b, width)) return false;
        value = 0;
        for (size_t i = 0; i < width; ++i) {
            const size_t k = bigEndian ? i : width - 1 - i;
            value = value << 8 | b[k];
        }
        return true;
    }
    bool Bytes(uint64_t offset, uint64_t n, std::string& out) const {
        if (n > kMaxBlock) n = kMaxBlock;
        out.resize(n);
        return Read(offset, out.data(), n);
    }

  private:
    int fd_;
    bool ok_ = true;
    uint64_t size_ = 0;
};

TBlockSearch FromElf(const FileReader& f, std::string& block) {
    unsigned char ident[16];
    if (!f.Read(0, ident, sizeof ident)) return TBlockSearch::kUnreadable;
    const bool is64 = ident[4] == 2;
    const bool be = ident[5] == 2;
    if ((ident[4] != 1 && !is64) || (ident[5] != 1 && !be)) return TBlockSearch::kUnreadable;
    const size_t word = is64 ? 8 : 4;
    uint64_t shoff, shentsize, shnum, shstrndx;
    if (!f.Uint(is64 ? 0x28 : 0x20, word, be, shoff) ||
        !f.Uint(is64 ? 0x3A : 0x2E, 2, be, shentsize) ||
        !f.Uint(is64 ? 0x3C : 0x30, 2, be, shnum) || !f.Uint(is64 ? 0x3E : 0x32, 2, be, shstrndx))
        return TBlockSearch::kUnreadable;
    if (shoff == 0) return TBlockSearch::kNoBlock;  // no section table: nothing of ours
    if (shentsize < (is64 ? 64u : 40u)) return TBlockSearch::kUnreadable;

    // Field offsets within a section header.
    const uint64_t offName = 0, offType = 4, offOffset = is64 ? 0x18 : 0x10,
                   offSize = is64 ? 0x20 : 0x14, offLink = is64 ? 0x28 : 0x18;
    auto header = [&](uint64_t i) { return shoff + i * shentsize; };
    // Large counts live in the first section header.
    if (shnum == 0 && !f.Uint(header(0) + offSize, word, be, shnum))
        return TBlockSearch::kUnreadable;
    if (shstrndx == 0xFFFF && !f.Uint(header(0) + offLink, 4, be, shstrndx))
        return TBlockSearch::kUnreadable;
    if (shnum > f.Size() / shentsize || shstrndx >= shnum) return TBlockSearch::kUnreadable;

    uint64_t strOffset, strSize;
    if (!f.Uint(header(shstrndx) + offOffset, word, be, strOffset) ||
        !f.Uint(header(shstrndx) + offSize, word, be, strSize))
        return TBlockSearch::kUnreadable;
    const std::string wanted = std::string(kVersionSectionName) + '\0';
    for (uint64_t i = 1; i < shnum; ++i) {
        uint64_t name, type, offset, size;
        if (!f.Uint(header(i) + offName, 4, be, name) ||
            !f.Uint(header(i) + offType, 4, be, type) ||
            !f.Uint(header(i) + offOffset, word, be, offset) ||
            !f.Uint(header(i) + offSize, word, be, size))
            return TBlockSearch::kUnreadable;
        if (name >= strSize || strSize - name < wanted.size()) continue;
        std::string candidate(wanted.size(), '\0');
        if (!f.Read(strOffset + name, candidate.data(), candidate.size()))
            return TBlockSearch::kUnreadable;
        if (candidate != wanted) continue;
        const uint64_t kNoBits = 8;
        if (type == kNoBits || !f.Bytes(offset, size, block)) return TBlockSearch::kUnreadable;
        return TBlockSearch::kFound;
    }
    return TBlockSearch::kNoBlock;
}

struct PeSection {
    uint64_t virtualAddress, virtualSize, rawSize, rawOffset;
};

TBlockSearch FromPe(const FileReader& f, std::string& block) {
    uint64_t lfanew, signature, sectionCount, optionalSize, magic;
    if (!f.Uint(0x3C, 4, false, lfanew) || !f.Uint(lfanew, 4, false, signature))
        return TBlockSearch::kNoBlock;  // a plain DOS program
    if (signature != 0x00004550) return TBlockSearch::kNoBlock;
    const uint64_t coff = lfanew + 4;
    if (!f.Uint(coff + 2, 2, false, sectionCount) || !f.Uint(coff + 16, 2, false, optionalSize))
        return TBlockSearch::kUnreadable;
    const uint64_t optional = coff + 20;
    if (!f.Uint(optional, 2, false, magic)) return TBlockSearch::kUnreadable;
    const bool plus = magic == 0x20B;
    if (!plus && magic != 0x10B) return TBlockSearch::kUnreadable;
    uint64_t dirCount, resourceRva, resourceSize;
    const uint64_t dirs = optional + (plus ? 112 : 96);
    if (!f.Uint(dirs - 4, 4, false, dirCount)) return TBlockSearch::kUnreadable;
    if (dirCount < 3 || dirs + 24 > optional + optionalSize) return TBlockSearch::kNoBlock;
    if (!f.Uint(dirs + 16, 4, false, resourceRva) || !f.Uint(dirs + 20, 4, false, resourceSize))
        return TBlockSearch::kUnreadable;
    if (resourceRva == 0 || resourceSize == 0) return TBlockSearch::kNoBlock;

    std::vector<PeSection> sections(sectionCount);
    const uint64_t table = optional + optionalSize;
    for (uint64_t i = 0; i < sectionCount; ++i) {
        PeSection& s = sections[i];
        const uint64_t h = table + i * 40;
        if (!f.Uint(h + 8, 4, false, s.virtualSize) ||
            !f.Uint(h + 12, 4, false, s.virtualAddress) || !f.Uint(h + 16, 4, false, s.rawSize) ||
            !f.Uint(h + 20, 4, false, s.rawOffset))
            return TBlockSearch::kUnreadable;
    }
    auto toFile = [&](uint64_t rva, uint64_t& offset) {
        for (uint64_t i = 0; i < sectionCount; ++i) {
            const PeSection& s = sections[i];
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize) {
                offset = s.rawOffset + (rva - s.virtualAddress);
                return true;
            }
        }
        return false;
    };
    uint64_t root;
    if (!toFile(resourceRva, root)) return TBlockSearch::kUnreadable;

    // Three directory levels: type, name, language. Returns the offset (relative to
    // the root) that the chosen entry points at, or false.
    auto entry = [&](uint64_t dir, bool byId, uint64_t id, uint64_t& target) {
        uint64_t named, ids;
        if (!f.Uint(root + dir + 12, 2, false, named) || !f.Uint(root + dir + 14, 2, false, ids))
            return false;
        for (uint64_t i = 0; i < named + ids; ++i) {
            uint64_t nameField, dataField;
            const uint64_t e = root + dir + 16 + i * 8;
            if (!f.Uint(e, 4, false, nameField) || !f.Uint(e + 4, 4, false, dataField))
                return false;
            if (!byId || (!(nameField & 0x80000000u) && nameField == id)) {
                target = dataField;
                return true;
            }
        }
        return false;
    };
    constexpr uint64_t kRtVersion = 16, kSubdir = 0x80000000u;
    uint64_t names, languages, dataEntry;
    if (!entry(0, true, kRtVersion, names)) return TBlockSearch::kNoBlock;
    if (!(names & kSubdir) || !entry(names & ~kSubdir, false, 0, languages) ||
        !(languages & kSubdir) || !entry(languages & ~kSubdir, false, 0, dataEntry) ||
        (dataEntry & kSubdir))
        return TBlockSearch::kUnreadable;
    uint64_t dataRva, dataSize, dataOffset;
    if (!f.Uint(root + dataEntry, 4, false, dataRva) ||
        !f.Uint(root + dataEntry + 4, 4, false, dataSize) || !toFile(dataRva, dataOffset) ||
        !f.Bytes(dataOffset, dataSize, block))
        return TBlockSearch::kUnreadable;
    return TBlockSearch::kFound;
}

}  // namespace

TBlockSearch ReadVersionBlock(const std::string& fileName, std::string& block) {
    block.clear();
    FileReader f(fileName);
    if (!f.Open()) return TBlockSearch::kUnreadable;
    unsigned char magic[4] = {};
    if (!f.Read(0, magic, f.Size() < 4 ? f.Size() : 4)) return TBlockSearch::kUnreadable;
    if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
        return FromElf(f, block);
    if (magic[0] == 'M' && magic[1] == 'Z') return FromPe(f, block);
    return TBlockSearch::kNoBlock;
}

std::string OwnExecutablePath() {
    char* real = ::realpath("/proc/self/exe", nullptr);
    if (!real) return std::string();
    std::string path(real);
    std::free(real);
    return path;
}

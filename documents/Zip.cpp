#include "documents/Zip.h"

#include <zip.h>

#include <algorithm>
#include <cstring>

namespace documents {

// The container's bytes as libzip's source, counting what libzip reads of them: while an
// entry inflates, that count is how much of its compressed data has been used, which
// bounds the inflation at every step rather than only against the header's sizes.
struct ZipMemory {
    std::string_view bytes;
    zip_uint64_t offset = 0;
    zip_uint64_t readCount = 0;
    zip_error_t error{};
};

namespace {

zip_int64_t MemorySource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto& memory = *static_cast<ZipMemory*>(state);
    switch (command) {
        case ZIP_SOURCE_OPEN:
            memory.offset = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            const zip_uint64_t left = memory.bytes.size() - memory.offset;
            const zip_uint64_t n = std::min(length, left);
            std::memcpy(data, memory.bytes.data() + memory.offset, n);
            memory.offset += n;
            memory.readCount += n;
            return static_cast<zip_int64_t>(n);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            st->size = memory.bytes.size();
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&memory.error, data, length);
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t to = zip_source_seek_compute_offset(
                memory.offset, memory.bytes.size(), data, length, &memory.error);
            if (to < 0) return -1;
            memory.offset = static_cast<zip_uint64_t>(to);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(memory.offset);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&memory.error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
    }
}

std::string ZipReason(int code) {
    switch (code) {
        case ZIP_ER_NOZIP:
            return "it is not a ZIP container, or it is cut short";
        case ZIP_ER_INCONS:
            return "its ZIP container is inconsistent (cut short or corrupt)";
        case ZIP_ER_MULTIDISK:
            return "it is one part of a ZIP container split over several files";
        default:
            break;
    }
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string reason =
        std::string("its ZIP container cannot be read: ") + zip_error_strerror(&error);
    zip_error_fini(&error);
    return reason;
}

uint64_t Little(std::string_view bytes, size_t at, size_t size) {
    uint64_t v = 0;
    for (size_t i = size; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

// How many entries the end of the central directory declares, as libzip would read them
// all into memory on opening; 0 when there is no such record (libzip then says why).
uint64_t DeclaredEntries(std::string_view bytes) {
    constexpr size_t kRecord = 22;
    if (bytes.size() < kRecord) return 0;
    const size_t earliest = bytes.size() > kRecord + 65535 ? bytes.size() - kRecord - 65535 : 0;
    for (size_t at = bytes.size() - kRecord + 1; at-- > earliest;) {
        if (bytes.compare(at, 4, "PK\x05\x06") != 0) continue;
        uint64_t entries = Little(bytes, at + 10, 2);
        // The ZIP64 record, located just before, holds the count of a large directory.
        if (entries == 0xFFFF && at >= 20 && bytes.compare(at - 20, 4, "PK\x06\x07") == 0) {
            const uint64_t record = Little(bytes, at - 20 + 8, 8);
            if (record < bytes.size() && bytes.size() - record >= 40 &&
                bytes.compare(record, 4, "PK\x06\x06") == 0)
                entries = Little(bytes, record + 32, 8);
        }
        return entries;
    }
    return 0;
}

struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

ZipArchive::ZipArchive(const Source& source) : source_(source), memory_(new ZipMemory) {
    memory_->bytes = source.bytes;
    if (DeclaredEntries(source.bytes) > kMostEntries)
        source.Refuse("its ZIP container declares more than " + std::to_string(kMostEntries) +
                      " entries");
    zip_error_init(&memory_->error);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* zipSource = zip_source_function_create(MemorySource, memory_.get(), &error);
    if (!zipSource) source.Refuse(ZipReason(zip_error_code_zip(&error)));
    archive_ = zip_open_from_source(zipSource, ZIP_RDONLY, &error);
    if (!archive_) {
        zip_source_free(zipSource);
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        source.Refuse(ZipReason(code));
    }
    zip_error_fini(&error);
}

ZipArchive::~ZipArchive() {
    if (archive_) zip_discard(archive_);
    zip_error_fini(&memory_->error);
}

std::optional<std::uint64_t> ZipArchive::Locate(std::string_view entry) const {
    const std::string name(entry);
    zip_int64_t index = zip_name_locate(archive_, name.c_str(), ZIP_FL_ENC_RAW);
    // Untidy packages refer to their entries in another letter case.
    if (index < 0) index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
    // Some tools on Windows store their folders with backslashes.
    if (index < 0 && name.find('/') != std::string::npos) {
        std::string windows = name;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        index = zip_name_locate(archive_, windows.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
    }
    if (index < 0) return std::nullopt;
    return static_cast<zip_uint64_t>(index);
}

bool ZipArchive::Has(std::string_view entry) const {
    return Locate(entry).has_value();
}

std::string ZipArchive::Read(std::string_view entry, std::string_view what, size_t limit) const {
    auto bytes = ReadIfPresent(entry, limit);
    if (!bytes)
        source_.Refuse(std::string(what) + " " + std::string(entry) + " is missing from it");
    return std::move(*bytes);
}

std::optional<std::string> ZipArchive::ReadIfPresent(std::string_view entry, size_t limit) const {
    const auto index = Locate(entry);
    if (!index) return std::nullopt;
    const std::string name(entry);
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, *index, 0, &stat) != 0)
        source_.Refuse("its entry " + name + " cannot be read: " + zip_strerror(archive_));
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
        source_.Refuse("its entry " + name + " is encrypted");
    const zip_uint64_t compressed = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
    std::unique_ptr<zip_file_t, ZipFileCloser> file(zip_fopen_index(archive_, *index, 0));
    if (!file) source_.Refuse("its entry " + name + " cannot be read: " + zip_strerror(archive_));

    const zip_uint64_t readBefore = memory_->readCount;
    std::string bytes;
    // The header's size is only a first guess for the buffer, never a bound.
    if (stat.valid & ZIP_STAT_SIZE)
        bytes.reserve(std::min<zip_uint64_t>(stat.size, size_t{16} << 20));
    char chunk[65536];
    while (true) {
        const zip_int64_t n = zip_fread(file.get(), chunk, sizeof chunk);
        if (n < 0)
            source_.Refuse("its entry " + name + " is corrupt: " + zip_file_strerror(file.get()));
        if (n == 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
        // What libzip read ahead counts as used: the bound errs on the side of the file.
        const zip_uint64_t used = std::max<zip_uint64_t>(memory_->readCount - readBefore, 4096);
        if (bytes.size() > kLargestEntry)
            source_.Refuse("its entry " + name + " inflates past 1 GiB (a ZIP bomb)");
        if (bytes.size() > limit)
            source_.Refuse("its entry " + name + " is larger than " + std::to_string(limit >> 20) +
                           " MiB, more than such a part of a document holds");
        if (bytes.size() > kLargestInflation * used ||
            (compressed > 0 &&
             bytes.size() > kLargestInflation * std::max<zip_uint64_t>(compressed, 4096)))
            source_.Refuse("its entry " + name + " inflates past " +
                           std::to_string(kLargestInflation) +
                           " times its compressed size (a ZIP bomb)");
    }
    return bytes;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string ResolveEntryPath(std::string_view from, std::string_view reference,
                             std::string* fragment) {
    const size_t hash = reference.find('#');
    if (fragment)
        fragment->assign(hash == std::string_view::npos ? "" : reference.substr(hash + 1));
    reference = reference.substr(0, hash);
    const size_t query = reference.find('?');
    reference = reference.substr(0, query);
    std::string decoded;
    for (size_t i = 0; i < reference.size(); ++i) {
        if (reference[i] == '%' && i + 2 < reference.size() && HexValue(reference[i + 1]) >= 0 &&
            HexValue(reference[i + 2]) >= 0) {
            decoded +=
                static_cast<char>(HexValue(reference[i + 1]) * 16 + HexValue(reference[i + 2]));
            i += 2;
        } else {
            decoded += reference[i];
        }
    }
    if (decoded.empty()) return std::string(from);  // "#id" names a place in the same entry
    std::string path;
    if (decoded[0] != '/') {
        const size_t slash = from.rfind('/');
        if (slash != std::string_view::npos) path.assign(from.substr(0, slash + 1));
    }
    path += decoded;
    // Dots and empty parts of the path resolve away.
    std::vector<std::string_view> parts;
    const std::string_view all(path);
    for (size_t i = 0; i <= all.size();) {
        size_t slash = all.find('/', i);
        if (slash == std::string_view::npos) slash = all.size();
        const std::string_view part = all.substr(i, slash - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = slash + 1;
    }
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += '/';
        out += part;
    }
    return out;
}

}  // namespace documents

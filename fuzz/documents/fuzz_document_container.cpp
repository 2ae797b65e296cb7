// A ZIP container imported as an EPUB, a DOCX or an ODT: the first byte picks which (its
// value modulo 3). With its high bit set, the rest is not a container but its entries,
// "name\0content\0name\0content...", put into one here: mutated content then reaches the
// importers instead of failing the container's checksums.
#include <zip.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "FuzzDocument.h"
#include "documents/Import.h"
#include "support/Errors.h"

namespace {

std::string Container(std::string_view entries) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (!archive) __builtin_trap();
    zip_source_keep(buffer);
    std::list<std::string> names;
    while (!entries.empty()) {
        const size_t end = entries.find('\0');
        const std::string& name = names.emplace_back(entries.substr(0, end));
        entries = end == std::string_view::npos ? std::string_view() : entries.substr(end + 1);
        const std::string_view content = entries.substr(0, entries.find('\0'));
        entries.remove_prefix(std::min(entries.size(), content.size() + 1));
        zip_source_t* data = zip_source_buffer(archive, content.data(), content.size(), 0);
        if (zip_file_add(archive, name.c_str(), data, ZIP_FL_ENC_RAW) < 0) zip_source_free(data);
    }
    std::string bytes;
    if (zip_close(archive) != 0) {
        zip_discard(archive);
    } else {
        zip_stat_t stat;
        if (zip_source_open(buffer) == 0) {
            if (zip_source_stat(buffer, &stat) == 0) {
                bytes.resize(stat.size);
                if (zip_source_read(buffer, bytes.data(), stat.size) < 0) bytes.clear();
            }
            zip_source_close(buffer);
        }
    }
    zip_source_free(buffer);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    constexpr documents::Format kFormats[] = {documents::Format::Epub, documents::Format::Docx,
                                              documents::Format::Odt};
    const documents::Format format = kFormats[(data[0] & 0x7F) % 3];
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string built;
    if (data[0] & 0x80) bytes = built = Container(bytes);
    try {
        CheckDocument(documents::ImportBytes("fuzz", bytes, format));
    } catch (const EDocumentError&) {
    }
    return 0;
}

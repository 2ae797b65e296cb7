// A ZIP container imported as an EPUB, a DOCX or an ODT: the first byte picks which.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzDocument.h"
#include "documents/Import.h"
#include "support/Errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    constexpr documents::Format kFormats[] = {documents::Format::Epub, documents::Format::Docx,
                                              documents::Format::Odt};
    const documents::Format format = kFormats[data[0] % 3];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        CheckDocument(documents::ImportBytes("fuzz", bytes, format));
    } catch (const EDocumentError&) {
    }
    return 0;
}

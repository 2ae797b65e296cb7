#pragma once
// Importing a file of any supported format into a Document. Failures throw
// EDocumentError with a message that names the file and the reason; a cancelled import
// throws EDocumentCancelled.
#include <string>
#include <string_view>

#include "documents/Document.h"

namespace documents {

// The format a file's name gives by its extension (letter case ignored); PlainText for
// ".txt" and for every name no importer claims.
Format FormatOfName(std::string_view name);
const char* FormatName(Format format);  // "EPUB", "PDF", ...

// A file's bytes in the given format; name is what messages call the file. PlainText is
// not imported here: plain text is read as it always was.
Document ImportBytes(std::string_view name, std::string_view bytes, Format format,
                     const ImportProgress& progress = {});

// Reads the file (a regular file of at most kLargestDocument bytes) and imports it in the
// format its name gives.
inline constexpr size_t kLargestDocument = size_t{1} << 30;
Document ImportFile(const std::string& path, const ImportProgress& progress = {});

}  // namespace documents

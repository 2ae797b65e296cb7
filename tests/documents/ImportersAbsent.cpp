// The importers of the other formats, for a build of the documents' room that has only
// the PDF importer: weak, so that the real ones win wherever they are linked.
#include "documents/Importers.h"

namespace documents {
#define PARLEN_ABSENT_IMPORTER(Name, Format)                             \
    __attribute__((weak)) Document Name(const Source& source) {          \
        source.Refuse(Format " files cannot be imported by this build"); \
    }
PARLEN_ABSENT_IMPORTER(ImportEpub, "EPUB")
PARLEN_ABSENT_IMPORTER(ImportDocx, "DOCX")
PARLEN_ABSENT_IMPORTER(ImportOdt, "ODT")
PARLEN_ABSENT_IMPORTER(ImportHtml, "HTML")
PARLEN_ABSENT_IMPORTER(ImportMarkdown, "Markdown")
#undef PARLEN_ABSENT_IMPORTER
}  // namespace documents

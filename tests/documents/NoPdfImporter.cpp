// Stands in for the PDF importer while the tree has none (see CMakeLists.txt).
#include "documents/Importers.h"

namespace documents {

Document ImportPdf(const Source& source) {
    source.Refuse("PDF files cannot be imported by this build");
}

}  // namespace documents

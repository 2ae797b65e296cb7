#pragma once
// What the importers share: the file being imported and how they refuse it.
#include <string>
#include <string_view>

#include "documents/Document.h"
#include "support/Errors.h"

namespace documents {

struct Source {
    std::string_view name;   // what messages call the file
    std::string_view bytes;  // the whole file
    const ImportProgress* progress = nullptr;

    // Throws EDocumentError "NAME: REASON".
    [[noreturn]] void Refuse(const std::string& reason) const;
    // Reports the share done; throws EDocumentCancelled when the caller cancels.
    void Progress(double done) const;
};

Document ImportEpub(const Source& source);
Document ImportPdf(const Source& source);
Document ImportDocx(const Source& source);
Document ImportOdt(const Source& source);
Document ImportHtml(const Source& source);
Document ImportMarkdown(const Source& source);

}  // namespace documents

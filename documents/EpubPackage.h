#pragma once
// What an EPUB says of itself before its text is read: the package document's metadata,
// manifest and spine, the table of contents (EPUB 3 nav document or EPUB 2 NCX), and the
// landmarks and guide that mark front and back matter. Encrypted content is refused here.
#include <string>
#include <vector>

#include "documents/Document.h"
#include "documents/Zip.h"

namespace documents {

struct EpubPlace {
    std::string path;      // entry in the container
    std::string fragment;  // an id within it, or ""
};

struct EpubTocEntry {
    std::string title;
    int level = 1;
    EpubPlace place;
};

struct EpubLandmark {
    std::string types;  // epub:type of a landmark, or the guide's type
    EpubPlace place;
};

struct EpubPackage {
    Metadata metadata;                      // without the cover's bytes
    std::string coverPath;                  // the cover image's entry, or ""
    std::vector<std::string> lexiconPaths;  // pronunciation lexicons (application/pls+xml)
    std::vector<std::string> spine;         // content files in reading order, each once
    std::vector<EpubTocEntry> toc;
    std::vector<EpubLandmark> landmarks;
};

EpubPackage ReadEpubPackage(const ZipArchive& zip, const Source& source);

}  // namespace documents

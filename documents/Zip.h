#pragma once
// A ZIP container (EPUB, DOCX, ODT) read from memory through libzip. Entries are read
// whole but never past the bounds against ZIP bombs, counted on the bytes actually
// inflated, not on what the headers claim. Every failure refuses the file through its
// Source, naming the entry.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "documents/Importers.h"

struct zip;

namespace documents {

struct ZipMemory;

inline constexpr size_t kLargestEntry = size_t{1} << 30;  // inflated
inline constexpr size_t kLargestInflation = 200;          // inflated per compressed byte
inline constexpr size_t kMostEntries = 100000;
// What one entry read whole may hold, by what it is: beyond these, memory would grow past
// what any real document needs.
inline constexpr size_t kLargestContent = size_t{128} << 20;  // a chapter, a document's text
inline constexpr size_t kLargestPart = size_t{16} << 20;      // a package, styles, metadata
inline constexpr size_t kLargestPicture = size_t{32} << 20;   // a cover

class ZipArchive {
  public:
    // Opens the container or refuses the file ("it is not a ZIP container", "it is cut short").
    explicit ZipArchive(const Source& source);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool Has(std::string_view entry) const;
    // The entry's bytes; refuses the file when the entry is missing (what says what it
    // is for: "its package document"), encrypted, corrupt, a bomb or larger than limit.
    std::string Read(std::string_view entry, std::string_view what, size_t limit) const;
    // The same, but nothing when the entry is missing.
    std::optional<std::string> ReadIfPresent(std::string_view entry, size_t limit) const;

  private:
    std::optional<std::uint64_t> Locate(std::string_view entry) const;

    const Source& source_;
    std::unique_ptr<ZipMemory> memory_;
    zip* archive_ = nullptr;
};

// A path inside the container from a reference in the entry "from": "../Text/a.xhtml"
// from "OEBPS/nav/toc.xhtml" is "OEBPS/Text/a.xhtml"; percent escapes are decoded and
// the fragment ("#id") is cut off into fragment when it is given.
std::string ResolveEntryPath(std::string_view from, std::string_view reference,
                             std::string* fragment = nullptr);

}  // namespace documents

#include "documents/Import.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "documents/Importers.h"

namespace documents {
namespace {

struct FormatEntry {
    const char* extension;
    Format format;
};
constexpr FormatEntry kExtensions[] = {
    {".epub", Format::Epub},  {".pdf", Format::Pdf},     {".docx", Format::Docx},
    {".odt", Format::Odt},    {".html", Format::Html},   {".htm", Format::Html},
    {".xhtml", Format::Html}, {".md", Format::Markdown}, {".markdown", Format::Markdown},
};

bool EndsWithIgnoringCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) return false;
    name.remove_prefix(name.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i)
        if ((name[i] >= 'A' && name[i] <= 'Z' ? name[i] + 32 : name[i]) != ending[i]) return false;
    return true;
}

// The file's bytes, mapped: a large document is read by the pages the importer touches.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) Fail(path, std::strerror(errno));
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            Fail(path, S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
        }
        if (static_cast<unsigned long long>(info.st_size) > kLargestDocument) {
            ::close(fd);
            Fail(path, "it is larger than 1 GiB");
        }
        size_ = static_cast<size_t>(info.st_size);
        if (size_ > 0) {
            data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (data_ == MAP_FAILED) {
                const int error = errno;
                ::close(fd);
                Fail(path, std::strerror(error));
            }
        }
        ::close(fd);
    }
    ~MappedFile() {
        if (size_ > 0) ::munmap(data_, size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::string_view Bytes() const { return {static_cast<const char*>(data_), size_}; }

  private:
    [[noreturn]] static void Fail(const std::string& path, const std::string& reason) {
        throw EDocumentError(path + ": cannot read it: " + reason);
    }
    void* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace

void Source::Refuse(const std::string& reason) const {
    throw EDocumentError(std::string(name) + ": " + reason);
}

void Source::Progress(double done) const {
    if (progress && *progress && !(*progress)(done)) throw EDocumentCancelled(std::string(name));
}

Format FormatOfName(std::string_view name) {
    for (const auto& entry : kExtensions)
        if (EndsWithIgnoringCase(name, entry.extension)) return entry.format;
    return Format::PlainText;
}

const char* FormatName(Format format) {
    switch (format) {
        case Format::Epub:
            return "EPUB";
        case Format::Pdf:
            return "PDF";
        case Format::Docx:
            return "DOCX";
        case Format::Odt:
            return "ODT";
        case Format::Html:
            return "HTML";
        case Format::Markdown:
            return "Markdown";
        case Format::PlainText:
            break;
    }
    return "plain text";
}

Document ImportBytes(std::string_view name, std::string_view bytes, Format format,
                     const ImportProgress& progress) {
    const Source source{name, bytes, &progress};
    source.Progress(0);
    switch (format) {
        case Format::Epub:
            return ImportEpub(source);
        case Format::Pdf:
            return ImportPdf(source);
        case Format::Docx:
            return ImportDocx(source);
        case Format::Odt:
            return ImportOdt(source);
        case Format::Html:
            return ImportHtml(source);
        case Format::Markdown:
            return ImportMarkdown(source);
        case Format::PlainText:
            break;
    }
    source.Refuse("plain text is not a document to import");
}

Document ImportFile(const std::string& path, const ImportProgress& progress) {
    const MappedFile file(path);
    return ImportBytes(path, file.Bytes(), FormatOfName(path), progress);
}

}  // namespace documents

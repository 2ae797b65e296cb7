#include "tools/SayInput.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "support/WholeFile.h"

namespace {

// Streams are read in chunks that grow from the first to the largest size: a one-word
// text touches no more memory than it needs, and a long one is joined from few pieces.
constexpr size_t kFirstChunkSize = size_t{64} << 10;
constexpr size_t kChunkSize = size_t{1} << 20;

std::string MiB(size_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

// The folder part of a name ("." for none) and the rest.
std::pair<std::string, std::string> SplitName(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

FileKey FileKeyOf(const std::string& path) {
    FileKey key;
    struct stat status {};
    if (path == "-" ? ::fstat(STDOUT_FILENO, &status) == 0 : ::stat(path.c_str(), &status) == 0) {
        key.exists = true;
        key.dev = status.st_dev;
        key.ino = status.st_ino;
        return key;
    }
    // Not there yet: the name it will be created under, through dangling links (as
    // opening it for writing follows them), in its folder with links and "." resolved.
    const std::string name = FinalName(path);
    auto [folder, base] = SplitName(name);
    if (char* real = ::realpath(folder.c_str(), nullptr)) {
        folder = real;
        std::free(real);
    }
    key.name = folder + "/" + base;
    return key;
}

bool SameFile(const FileKey& a, const FileKey& b) {
    if (a.exists != b.exists) return false;
    return a.exists ? a.dev == b.dev && a.ino == b.ino : a.name == b.name;
}

SayInput::SayInput(const std::string& name, size_t streamLimit)
    : name_(name), streamLimit_(streamLimit) {
    if (name_ == "-") {
        fd_ = STDIN_FILENO;
    } else {
        fd_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw EFOpenError("cannot read " + Described() + ": " + std::strerror(errno));
        owned_ = true;
    }
    if (::fstat(fd_, &status_) != 0)
        throw EFOpenError("cannot read " + Described() + ": " + std::strerror(errno));
}

SayInput::~SayInput() {
    if (owned_) ::close(fd_);
}

std::string SayInput::Described() const {
    return name_ == "-" ? std::string("standard input") : "'" + name_ + "'";
}

void SayInput::RefuseAsOutput(const std::string& output) const {
    // Writing over a pipe or a device loses no text; only a regular file would be lost.
    if (output.empty() || !S_ISREG(status_.st_mode)) return;
    const FileKey out = FileKeyOf(output);  // not there yet: it cannot be the input
    if (out.exists && out.dev == status_.st_dev && out.ino == status_.st_ino)
        throw EUsageError(
            "the output file '" + output + "' is the input " +
            (name_ == "-" ? std::string("(standard input reads from it)") : "file " + Described()) +
            "; writing it would destroy the text");
}

std::string SayInput::ReadAll() {
    const bool bounded = !S_ISREG(status_.st_mode);
    // Read in chunks and joined once: a refused stream never holds more than its limit.
    std::vector<std::string> chunks;
    size_t total = 0;
    // A regular file comes in one piece unless it grows while being read.
    size_t chunkSize = kFirstChunkSize;
    if (!bounded && status_.st_size > 0) chunkSize = static_cast<size_t>(status_.st_size) + 1;
    for (bool atEnd = false; !atEnd; chunkSize = std::min(kChunkSize, 2 * chunkSize)) {
        std::string chunk(chunkSize, '\0');
        size_t filled = 0;
        while (filled < chunk.size()) {
            const ssize_t n = ::read(fd_, chunk.data() + filled, chunk.size() - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0)
                throw EFOpenError("cannot read " + Described() + ": " + std::strerror(errno));
            if (n == 0) {
                atEnd = true;
                break;
            }
            filled += static_cast<size_t>(n);
            if (bounded && total + filled > streamLimit_)
                throw EOutOfResources(
                    Described() + " is longer than " + MiB(streamLimit_) +
                    ", the most read from a pipe or device; save the text into a file and "
                    "name that file instead");
        }
        chunk.resize(filled);
        total += filled;
        chunks.push_back(std::move(chunk));
    }
    while (chunks.size() > 1 && chunks.back().empty()) chunks.pop_back();
    if (chunks.size() == 1) return std::move(chunks.front());
    std::string all;
    all.reserve(total);
    for (std::string& chunk : chunks) {
        all += chunk;
        std::string().swap(chunk);
    }
    return all;
}

size_t BlankNulBytes(std::string& text) {
    size_t count = 0;
    for (char& c : text) {
        if (c == '\0') {
            c = ' ';
            ++count;
        }
    }
    return count;
}

void EndLinesWithCrLf(std::string& text) {
    if (text.empty()) return;
    size_t added = text.back() == '\n' ? 0 : 2;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', lf + 1))
        if (lf == 0 || text[lf - 1] != '\r') ++added;
    if (added == 0) return;
    // Built once at its final size: the text is held at most twice, and only here.
    std::string joined;
    joined.reserve(text.size() + added);
    size_t start = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        const size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
        joined.append(text, start, end - start).append("\r\n");
        start = lf + 1;
    }
    if (start < text.size()) joined.append(text, start, std::string::npos).append("\r\n");
    text.swap(joined);
}

std::string ReadSayText(const std::string& input, const std::vector<std::string>& outputs) {
    // Two outputs naming one file would leave only the one written last.
    for (size_t i = 0; i < outputs.size(); ++i)
        for (size_t k = i + 1; k < outputs.size(); ++k)
            if (!outputs[i].empty() && !outputs[k].empty() &&
                SameFile(FileKeyOf(outputs[i]), FileKeyOf(outputs[k])))
                throw EUsageError("the output files '" + outputs[i] + "' and '" + outputs[k] +
                                  "' are one file; writing both would destroy one of them");
    SayInput in(input);
    for (const std::string& output : outputs) in.RefuseAsOutput(output);
    std::string text;
    try {
        text = in.ReadAll();
    } catch (const std::bad_alloc&) {
        throw EOutOfResources("the input does not fit into memory");
    }
    // The engines read a text only up to its first NUL; a blank keeps the rest spoken.
    if (const size_t nuls = BlankNulBytes(text))
        std::fprintf(stderr, "parlen-say: %zu NUL byte%s in the input read as blank%s\n", nuls,
                     nuls == 1 ? "" : "s", nuls == 1 ? "" : "s");
    try {
        EndLinesWithCrLf(text);
    } catch (const std::bad_alloc&) {
        throw EOutOfResources("the input does not fit into memory");
    }
    return text;
}

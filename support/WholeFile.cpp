#include "support/WholeFile.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/Errors.h"

namespace {

// Closes the descriptor and removes the temporary name unless the file was completed.
class Temporary {
  public:
    Temporary(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~Temporary() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;
    int Fd() const { return fd_; }
    // Closes it, keeping errno of a failed close.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    void Keep() { name_.clear(); }

  private:
    int fd_;
    std::string name_;
};

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

[[noreturn]] void Fail(bool creating, const std::string& what, const std::string& path,
                       const char* step) {
    const std::string message =
        "cannot " + std::string(step) + " the " + what + " '" + path + "': " + std::strerror(errno);
    if (creating) throw EFCreateError(message);
    throw EWriteError(message);
}

}  // namespace

mode_t CreationMode() {
    // The mode a new file gets through open(): what the umask leaves of rw for all.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

bool MakeHiddenFile(std::string& pattern, size_t suffixLength) {
    const int fd = ::mkstemps(pattern.data(), static_cast<int>(suffixLength));
    if (fd < 0) return false;
    const bool moded = ::fchmod(fd, CreationMode()) == 0;
    ::close(fd);
    if (!moded) ::unlink(pattern.c_str());
    return moded;
}

// The name a write through path lands on: links followed, even a dangling one.
std::string FinalName(const std::string& path) {
    std::string name = path;
    struct stat status {};
    for (int hops = 0; hops < 40 && ::lstat(name.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
         ++hops) {
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(static_cast<size_t>(n));
        const size_t slash = name.rfind('/');
        name = target.front() == '/' || slash == std::string::npos
                   ? target
                   : name.substr(0, slash + 1) + target;
    }
    return name;
}

void WriteWholeFile(const std::string& path, std::string_view content, const std::string& what) {
    struct stat status {};
    const bool exists = ::stat(path.c_str(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        // A reader waits at the other end: it gets the content as it is written.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) Fail(true, what, path, "open");
        Temporary file(fd, {});
        if (!WriteAll(file.Fd(), content)) Fail(false, what, path, "write");
        if (!file.Close()) Fail(false, what, path, "write");
        return;
    }
    const std::string target = FinalName(path);
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string temporary = (slash == std::string::npos ? "" : folder) + "." +
                            target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) Fail(true, what, path, "create");
    Temporary file(fd, temporary);
    // Keeps the earlier file's permissions, else those a new file gets.
    if (::fchmod(file.Fd(), exists ? status.st_mode & 07777 : CreationMode()) != 0)
        Fail(true, what, path, "create");
    if (!WriteAll(file.Fd(), content)) Fail(false, what, path, "write");
    if (::fsync(file.Fd()) != 0) Fail(false, what, path, "write");
    if (!file.Close()) Fail(false, what, path, "write");
    if (::rename(temporary.c_str(), target.c_str()) != 0) Fail(false, what, path, "replace");
    file.Keep();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        const bool synced = ::fsync(dir) == 0 || errno == EINVAL;
        ::close(dir);
        if (!synced) Fail(false, what, path, "write");
    }
}

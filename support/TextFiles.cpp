// Reading and writing text files for every kind of line list.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/Errors.h"
#include "support/Strings.h"

namespace {

// Owns an open file descriptor.
class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

// Locks the whole file for this open file description. Such locks conflict with any
// other description, in this process or another, and with classic record locks of
// other processes; they go away with the descriptor. Only a conflicting lock counts as
// failure: a file system without locking still lets the file be used.
bool LockWholeFile(int fd, short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc < 0 && errno == EINTR);
    return rc == 0 || (errno != EAGAIN && errno != EACCES);
}

// Reads size bytes from the start; a file that shrank meanwhile gives what is there.
bool ReadAll(int fd, std::string& buffer) {
    size_t done = 0;
    while (done < buffer.size()) {
        ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    buffer.resize(done);
    return true;
}

}  // namespace

void TStrings::LoadTextFile(const std::string& fileName) {
    const std::string failure = "Cannot open file " + fileName;
    // Non-blocking so that a FIFO given as a file name cannot hang the window.
    FileHandle file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file.valid()) throw EFOpenError(failure);
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) throw EFOpenError(failure);
    if (!LockWholeFile(file.get(), F_RDLCK)) throw EFOpenError(failure);

    TLinesUpdate update(*this);
    std::string contents(static_cast<size_t>(info.st_size), '\0');
    if (!ReadAll(file.get(), contents)) throw EFOpenError(failure);
    SplitText(contents);
}

void TStrings::SaveTextFile(const std::string& fileName) const {
    const std::string failure = "Cannot create file " + fileName;
    // Non-blocking, and only a regular file is written: a FIFO or a device given as a
    // file name must neither hang the window nor swallow the text. Truncate only once
    // the lock is held, so a file that another has open stays whole.
    // The message says why, in the system's words where it has them.
    auto refuse = [&](const char* reason) {
        throw EFCreateError(failure + ": " + (reason ? reason : std::strerror(errno)));
    };
    FileHandle file(
        ::open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (!file.valid()) refuse(nullptr);
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0) refuse(nullptr);
    if (!S_ISREG(info.st_mode)) refuse("Not a regular file");
    if (!LockWholeFile(file.get(), F_WRLCK)) refuse("The file is in use by another program");
    if (::ftruncate(file.get(), 0) != 0) refuse(nullptr);

    const std::string text = JoinLines();
    if (text.empty()) return;
    ssize_t written;
    do {
        written = ::write(file.get(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0 || static_cast<size_t>(written) != text.size())
        throw EWriteError("Stream write error");
}

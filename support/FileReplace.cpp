#include "support/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace {

std::function<int(ReplaceStage)>& FaultHook() {
    static std::function<int(ReplaceStage)> hook;
    return hook;
}

int Fault(ReplaceStage stage) {
    return FaultHook() ? FaultHook()(stage) : 0;
}

class FileHandle {
  public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    bool Close() {
        if (fd_ < 0) return true;
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

  private:
    int fd_;
};

// Removes the temporary file unless the rename has taken it over.
class TempFileGuard {
  public:
    explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
    ~TempFileGuard() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

// Writes data at the start of the file.
bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links to the file that is really written; a dangling link yields
// the name it points to, so that the file is created there.
std::string ResolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> buffer(PATH_MAX + 1);
        ssize_t n = ::readlink(path.c_str(), buffer.data(), PATH_MAX);
        if (n <= 0) return path;
        std::string target(buffer.data(), static_cast<size_t>(n));
        path = target.front() == '/' ? target : DirectoryOf(path) + "/" + target;
    }
    return path;
}

bool MayWrite(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    // access() says yes to the superuser for any file; a file without a single write
    // bit is read-only to everybody here.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return ::access(path.c_str(), W_OK) == 0;
}

// Rewriting the file itself cannot be atomic against a crash or a power cut: between
// writing the new contents and cutting the file to their length, a shorter new text is
// followed by the old tail. Every failure that we see is undone: the old contents,
// kept in memory, are written back over whatever got written and the file is cut to
// their length (the space they need is the file's own, so that does not run short).
bool WriteInPlace(const std::string& path, const std::string& data, const std::string& old) {
    FileHandle fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.Get() < 0) return false;
    if (WriteAll(fd.Get(), data) && Fault(ReplaceStage::kWritten) == 0 &&
        ::ftruncate(fd.Get(), static_cast<off_t>(data.size())) == 0 &&
        Fault(ReplaceStage::kTruncated) == 0 && ::fsync(fd.Get()) == 0 &&
        Fault(ReplaceStage::kSynced) == 0 && fd.Close() && Fault(ReplaceStage::kClosed) == 0)
        return true;
    if (fd.Get() < 0) fd.Reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.Get() >= 0 && WriteAll(fd.Get(), old) &&
        ::ftruncate(fd.Get(), static_cast<off_t>(old.size())) == 0)
        ::fsync(fd.Get());
    return false;
}

enum class TempOutcome { kDone, kFailed, kNoTempPossible };

// Makes the temporary file beside path. A name near the system's limit leaves no room
// for the usual ".<name>.XXXXXX"; a short name of our own is used then.
int MakeTempFile(const std::string& dir, const std::string& base, std::string& temp) {
    temp = dir + "/." + base + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0 && errno == ENAMETOOLONG) {
        temp = dir + "/.parlen-XXXXXX";
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
    }
    return fd;
}

TempOutcome WriteViaTemp(const std::string& path, const std::string& data, const struct stat* old) {
    const std::string dir = DirectoryOf(path);
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp;
    FileHandle fd(MakeTempFile(dir, base, temp));
    if (fd.Get() < 0) {
        return errno == EACCES || errno == EROFS || errno == EPERM ? TempOutcome::kNoTempPossible
                                                                   : TempOutcome::kFailed;
    }
    TempFileGuard guard(temp);
    if (int err = Fault(ReplaceStage::kTempCreated); err != 0) {
        return err == EACCES || err == EROFS ? TempOutcome::kNoTempPossible : TempOutcome::kFailed;
    }

    mode_t mode;
    if (old) {
        mode = old->st_mode & 07777;
        // Keep the owner where we may; an ordinary user cannot give files away.
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
        }
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.Get(), mode) != 0) return TempOutcome::kFailed;
    if (!WriteAll(fd.Get(), data) || Fault(ReplaceStage::kWritten) != 0)
        return TempOutcome::kFailed;
    if (::fsync(fd.Get()) != 0 || Fault(ReplaceStage::kSynced) != 0) return TempOutcome::kFailed;
    if (!fd.Close() || Fault(ReplaceStage::kClosed) != 0) return TempOutcome::kFailed;
    if (Fault(ReplaceStage::kRenamed) != 0 || ::rename(temp.c_str(), path.c_str()) != 0)
        return TempOutcome::kFailed;
    guard.Release();

    // Make the rename itself durable; the new contents are in place either way.
    FileHandle dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0) ::fsync(dirFd.Get());
    return TempOutcome::kDone;
}

}  // namespace

void SetReplaceFaultHook(std::function<int(ReplaceStage)> hook) {
    FaultHook() = std::move(hook);
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
    // Not blocking on the open keeps a FIFO of that name from hanging the caller.
    FileHandle fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    contents.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        contents.append(buffer, static_cast<size_t>(n));
    }
}

bool ReplaceFileContents(const std::string& path,
                         const std::function<std::string(const std::string* old)>& update) {
    const std::string target = ResolveLinks(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return false;

    std::string oldContents;
    if (exists && (!MayWrite(target, st) || !ReadWholeFile(target, oldContents))) return false;
    const std::string data = update(exists ? &oldContents : nullptr);

    // Further hard links would keep the old contents after a rename.
    if (exists && st.st_nlink > 1) return WriteInPlace(target, data, oldContents);
    switch (WriteViaTemp(target, data, exists ? &st : nullptr)) {
        case TempOutcome::kDone:
            return true;
        case TempOutcome::kFailed:
            return false;
        case TempOutcome::kNoTempPossible:
            return exists && WriteInPlace(target, data, oldContents);
    }
    return false;
}

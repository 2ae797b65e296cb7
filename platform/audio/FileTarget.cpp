#include "platform/audio/FileTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name beside `path` that nothing else uses yet.
std::string HiddenName(const std::string& path) {
    static std::atomic<unsigned> serial{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::string folder = FolderOf(path);
    return (folder == "/" ? "" : folder) + "/." + BaseOf(path) + "." + std::to_string(::getpid()) +
           "-" + std::to_string(serial++) + "-" + std::to_string(random() % 100000) + ".part";
}

// Follows symbolic links to the file they name, which need not exist yet.
bool Resolve(std::string& path, std::string& why) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return true;
            why = std::strerror(errno);
            return false;
        }
        if (!S_ISLNK(st.st_mode)) return true;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        const std::string to(buf, size_t(n));
        path = to.starts_with('/') ? to : FolderOf(path) + "/" + to;
    }
    why = std::strerror(ELOOP);
    return false;
}

int OpenTemporary(const std::string& target, bool& named, std::string& name) {
    named = false;
    int fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    // No unnamed files here: a hidden named one, removed unless committed.
    for (int tries = 0; tries < 100; ++tries) {
        name = HiddenName(target);
        fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) named = true;
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::unique_ptr<FileTarget> FileTarget::Open(const std::string& path, std::string& why) {
    std::unique_ptr<FileTarget> t(new FileTarget);
    struct stat st {};
    if (path == "-") {
        // Standard output as libsndfile reads "-": written where it stands.
        t->fd_ = STDOUT_FILENO;
        t->ownsFd_ = false;
    } else {
        t->target_ = path;
        if (!Resolve(t->target_, why)) return nullptr;
        const bool exists = ::stat(t->target_.c_str(), &st) == 0;
        if (exists && !S_ISREG(st.st_mode)) {
            // A FIFO or a device: never replaced, never removed.
            t->fd_ = ::open(t->target_.c_str(), O_WRONLY | O_CLOEXEC);
        } else {
            if (exists && ::access(t->target_.c_str(), W_OK) != 0) {
                why = std::strerror(errno);
                return nullptr;
            }
            t->replaces_ = exists;
            t->mode_ = st.st_mode & 07777;
            t->fd_ = OpenTemporary(t->target_, t->named_, t->tempName_);
            t->temporary_ = t->fd_ >= 0;
        }
    }
    if (t->fd_ < 0) {
        why = std::strerror(errno);
        return nullptr;
    }
    const int flags = ::fcntl(t->fd_, F_GETFL);
    // Appended output puts every write at its end, wherever the header should go.
    t->seekable_ = ::lseek(t->fd_, 0, SEEK_CUR) >= 0 && flags >= 0 && !(flags & O_APPEND);
    return t;
}

FileTarget::~FileTarget() {
    Discard();
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
}

bool FileTarget::Truncate(off_t size) {
    if (!seekable_ || size >= end_) return true;
    if (::ftruncate(fd_, size) != 0) return false;
    end_ = size;
    pos_ = std::min(pos_, size);
    return true;
}

std::string FileTarget::Failure() const {
    return error_ ? std::strerror(error_) : std::string();
}

bool FileTarget::Commit(std::string& why) {
    auto fail = [&](int err) {
        why = std::strerror(err);
        Discard();
        return false;
    };
    // Pipes and terminals have nothing to sync.
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return fail(errno);
    if (!temporary_) return true;
    if (replaces_ && ::fchmod(fd_, mode_) != 0) return fail(errno);
    if (!named_) {
        // An unnamed file gets a hidden name first: a link never replaces a name.
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        for (int tries = 0; tries < 100; ++tries) {
            tempName_ = HiddenName(target_);
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, tempName_.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                named_ = true;
                break;
            }
            if (errno != EEXIST) return fail(errno);
        }
        if (!named_) return fail(EEXIST);
    }
    if (::rename(tempName_.c_str(), target_.c_str()) != 0) return fail(errno);
    temporary_ = named_ = false;
    const int folder = ::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        why = std::strerror(errno);
        return false;
    }
    const bool synced = ::fsync(folder) == 0;
    const int err = errno;
    ::close(folder);
    if (!synced) why = std::strerror(err);
    return synced;
}

bool FileTarget::Settle(bool complete, std::string& why) {
    if (complete) return Commit(why);
    std::string ignored;
    if (replaces_ || end_ == 0)
        Discard();
    else
        Commit(ignored);  // the failure that cut it short is the one to tell
    return false;
}

void FileTarget::Discard() {
    if (temporary_ && named_) ::unlink(tempName_.c_str());
    temporary_ = named_ = false;
}

bool FileTarget::WriteRaw(const void* data, size_t size) {
    return IoWrite(data, sf_count_t(size), this) == sf_count_t(size);
}

SF_VIRTUAL_IO* FileTarget::Io() {
    static SF_VIRTUAL_IO io{&IoLength, &IoSeek, &IoRead, &IoWrite, &IoTell};
    return &io;
}

sf_count_t FileTarget::IoLength(void* self) {
    return static_cast<FileTarget*>(self)->end_;
}

sf_count_t FileTarget::IoSeek(sf_count_t offset, int whence, void* self) {
    auto* t = static_cast<FileTarget*>(self);
    const sf_count_t from = whence == SEEK_CUR ? t->pos_ : whence == SEEK_END ? t->end_ : 0;
    if (from + offset < 0) return -1;
    // A stream moves only its own idea of the position: writes away from its end are
    // dropped (IoWrite), and the position comes back to the end for the data.
    t->pos_ = off_t(from + offset);
    return t->pos_;
}

sf_count_t FileTarget::IoRead(void* data, sf_count_t count, void* self) {
    auto* t = static_cast<FileTarget*>(self);
    if (!t->seekable_) return 0;
    const ssize_t n = ::pread(t->fd_, data, size_t(count), t->pos_);
    if (n <= 0) return 0;
    t->pos_ += n;
    return n;
}

sf_count_t FileTarget::IoWrite(const void* data, sf_count_t count, void* self) {
    auto* t = static_cast<FileTarget*>(self);
    // After a failure nothing more goes in, so the file ends where it failed; a header
    // is still rewritten in place.
    if (t->error_ && (!t->seekable_ || t->pos_ + count > t->end_)) return 0;
    if (!t->seekable_ && t->pos_ != t->end_) {
        t->rewriteLost_ = true;
        t->pos_ += off_t(count);
        return count;
    }
    const auto* bytes = static_cast<const char*>(data);
    sf_count_t done = 0;
    while (done < count) {
        const size_t want = size_t(count - done);
        const ssize_t n = t->seekable_ ? ::pwrite(t->fd_, bytes + done, want, t->pos_)
                                       : ::write(t->fd_, bytes + done, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!t->error_) t->error_ = n == 0 ? ENOSPC : errno;
            break;
        }
        done += n;
        t->pos_ += off_t(n);
    }
    t->end_ = std::max(t->end_, t->pos_);
    return done;
}

sf_count_t FileTarget::IoTell(void* self) {
    return static_cast<FileTarget*>(self)->pos_;
}

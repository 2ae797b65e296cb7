#pragma once
// Where an audio file is written, whole or not at all.
//
// A regular file (or a new name) is written under a temporary beside it: an unnamed
// one in its folder where the file system offers that, so that a process that dies
// leaves nothing behind, else a hidden named one. Commit syncs it and puts it in the
// target's place (keeping an earlier file's permission bits), and syncs the folder;
// until then an earlier file of that name stays as it was. A symbolic link is
// followed: the file it points to is replaced, never the link.
//
// Anything else (a FIFO, a device, standard output as "-") is written into directly and
// never removed. Such a target that cannot seek, or standard output opened for
// appending, is a stream: headers written after the data cannot reach it.
//
// Every write goes through Io(), which libsndfile calls back: the first failure is
// kept (Failure), and nothing is added after it, so the file ends where it failed (a
// header is still rewritten in place).
#include <sndfile.h>
#include <sys/types.h>

#include <memory>
#include <string>

class FileTarget {
  public:
    // Opens the target named `path` ("-" is standard output); null with the system's
    // reason when it cannot be written.
    static std::unique_ptr<FileTarget> Open(const std::string& path, std::string& why);
    // Removes a temporary that was not committed.
    ~FileTarget();
    FileTarget(const FileTarget&) = delete;
    FileTarget& operator=(const FileTarget&) = delete;

    int Fd() const { return fd_; }
    // Headers can be rewritten in place.
    bool Seekable() const { return seekable_; }
    // An earlier regular file is there, which a failed render leaves as it was.
    bool ReplacesFile() const { return replaces_; }
    // Written under a temporary that Commit puts in place.
    bool Temporary() const { return temporary_; }
    // Bytes written so far, up to the end of the furthest write.
    off_t Size() const { return end_; }
    // Cuts a seekable target back to `size` bytes (a part of a frame after a failure).
    bool Truncate(off_t size);
    // The reason of the first failed write; empty while none failed.
    std::string Failure() const;
    // A header rewrite a stream could not take was dropped.
    bool RewriteLost() const { return rewriteLost_; }

    // Syncs the file and, for a temporary, puts it in the target's place and syncs
    // the folder. False with the system's reason when any step fails; the temporary
    // is then gone and an earlier file untouched.
    bool Commit(std::string& why);
    // Drops the temporary; an earlier file stays as it was.
    void Discard();
    // Ends the file: a complete one (done or cancelled) is committed; one cut short by
    // a failure leaves an earlier file as it was, and is kept when there was none and
    // it holds something. False with the reason when a complete file cannot be
    // committed; a failed one's reason is its caller's to tell.
    bool Settle(bool complete, std::string& why);

    // libsndfile's callbacks over this target (user data: the FileTarget).
    static SF_VIRTUAL_IO* Io();
    // Writes raw bytes at the current position, as libsndfile's writes do.
    bool WriteRaw(const void* data, size_t size);

  private:
    FileTarget() = default;
    static sf_count_t IoLength(void* self);
    static sf_count_t IoSeek(sf_count_t offset, int whence, void* self);
    static sf_count_t IoRead(void* data, sf_count_t count, void* self);
    static sf_count_t IoWrite(const void* data, sf_count_t count, void* self);
    static sf_count_t IoTell(void* self);

    int fd_ = -1;
    bool ownsFd_ = true;
    bool seekable_ = false;
    bool temporary_ = false;
    bool named_ = false;  // the temporary has a name (tempName_) to remove
    bool replaces_ = false;
    bool rewriteLost_ = false;
    mode_t mode_ = 0;       // of the earlier file, else 0666 less the umask
    std::string target_;    // the file replaced (links resolved)
    std::string tempName_;  // a named temporary
    off_t pos_ = 0;         // where the next write goes
    off_t end_ = 0;         // the furthest byte written
    int error_ = 0;         // the first failed write's errno
};

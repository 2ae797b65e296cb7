#pragma once
// A disk that fills up: a tmpfs of a few hundred KB mounted on a fresh folder for
// the test's life, unmounted and removed afterwards. Mounting needs root; tests skip
// when it is refused.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class TinyDisk {
  public:
    explicit TinyDisk(std::string dir, const std::string& size = "200k") : dir_(std::move(dir)) {
        const std::string options = "size=" + size + ",mode=0777";
        mounted_ = ::mkdir(dir_.c_str(), 0777) == 0 &&
                   ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TinyDisk() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
        ::rmdir(dir_.c_str());
    }
    TinyDisk(const TinyDisk&) = delete;
    TinyDisk& operator=(const TinyDisk&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& Dir() const { return dir_; }

  private:
    std::string dir_;
    bool mounted_ = false;
};

#pragma once
// A disk that fills up: a tmpfs of a few hundred KB mounted on a fresh folder for the
// test's life. Mounting needs root; tests skip when it is refused.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

struct TinyDisk {
    explicit TinyDisk(std::string folder) : dir(std::move(folder)) {
        mounted = ::mkdir(dir.c_str(), 0777) == 0 &&
                  ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=200k,mode=0777") == 0;
    }
    ~TinyDisk() {
        if (mounted) ::umount2(dir.c_str(), MNT_DETACH);
        ::rmdir(dir.c_str());
    }
    const std::string dir;
    bool mounted = false;
};

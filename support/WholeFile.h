#pragma once
// Writing a small file whole or not at all (parlen-say's timings), and the hidden files
// that a render made into other files is written into first.
#include <sys/types.h>

#include <string>
#include <string_view>

// Writes content as the file path. A regular file (or a new one) is written under a
// temporary name beside it, synced and renamed over it, so that an earlier file of that
// name stays as it was until the new one is complete, and through a symbolic link the
// link stays and its target is replaced. A FIFO, a device or a socket is written into
// directly and never removed. Throws EFCreateError or EWriteError with a message naming
// the file and the system's reason; `what` names the file's kind ("timings file").
void WriteWholeFile(const std::string& path, std::string_view content, const std::string& what);

// The name a write through path lands on: symbolic links followed, even a dangling one.
std::string FinalName(const std::string& path);

// The mode a new file gets: read and write for all, less the umask.
mode_t CreationMode();

// Makes the file pattern names, its "XXXXXX" before the last suffixLength bytes
// replaced (mkstemps), with the mode of a new file rather than mkstemps' owner-only
// one, since it is renamed into place when whole; false (errno set) when it cannot.
bool MakeHiddenFile(std::string& pattern, size_t suffixLength);

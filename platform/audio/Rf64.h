#pragma once
// Turns a plain 16-bit PCM WAV file that has outgrown the 32-bit sizes of its RIFF
// header (4 GiB) into an RF64 file, in place: room for the 64-bit size chunk is made
// at the head of the file (an inserted block range where the file system offers it,
// else by moving the data up), and the old header becomes padding. Files that fit
// are never touched, so they stay byte for byte as written.
#include <cstdint>
#include <string>

namespace Rf64 {

// The most data bytes a plain WAV file of this program can describe.
constexpr uint64_t kMaxPlainDataBytes = 0xFFFFFFFFull - 36;

// Rewrites the plain WAV file `path` (44-byte header: RIFF, fmt, data) as RF64.
// insertRange false always moves the data (the path taken where inserting is not
// offered). False, with the system's reason in error, when it cannot; the file then
// holds its data under a plain header whose sizes run to the end of the file, unless
// moving the data itself failed midway.
bool Promote(const std::string& path, std::string& error, bool insertRange = true);
// The same for the file open (for reading and writing) as `fd`, which stays open.
bool Promote(int fd, std::string& error, bool insertRange = true);

}  // namespace Rf64

#pragma once
// parlen-say's text input: read whole, never overwritten by the output, NUL bytes
// made blanks.
#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/Errors.h"

// Input that is not a regular file (a pipe, a terminal, a device) may never end, so it
// is read up to this many bytes; a longer one is refused.
inline constexpr size_t kStreamInputLimit = size_t{256} << 20;

// The command line asks for something that cannot be done as given.
class EUsageError : public Exception {
  public:
    using Exception::Exception;
};

// The text input named on the command line ("-" is standard input), open for its
// lifetime. Failures throw EFOpenError (cannot be opened or read), EOutOfResources
// (a stream longer than its limit) and EUsageError (the output would overwrite it).
class SayInput {
  public:
    explicit SayInput(const std::string& name, size_t streamLimit = kStreamInputLimit);
    ~SayInput();
    SayInput(const SayInput&) = delete;
    SayInput& operator=(const SayInput&) = delete;

    // Refuses an output file that is this input: by device and inode, so another name
    // or a hard link of the input file is caught, and so is standard input read from it.
    void RefuseAsOutput(const std::string& output) const;
    // Everything up to the end.
    std::string ReadAll();

  private:
    std::string Described() const;

    std::string name_;
    size_t streamLimit_;
    int fd_ = -1;
    bool owned_ = false;
    struct stat status_ {};
};

// What names a file, for telling whether two names are one file: device and inode of an
// existing one (through links; "-" is standard output), else the name it would be
// created under, dangling links followed and its folder resolved.
struct FileKey {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;
};
FileKey FileKeyOf(const std::string& path);
bool SameFile(const FileKey& a, const FileKey& b);

// Replaces every NUL byte by a blank, byte for byte so that offsets stay true, and
// returns how many there were.
size_t BlankNulBytes(std::string& text);

// Ends every line, the last one included, with CR LF (a CR LF already there stays one),
// the form in which the speech component hands a list of lines over. Nothing else
// changes, so an offset into the result maps back onto the input line by line.
void EndLinesWithCrLf(std::string& text);

// The whole text for speaking into the files outputs name (none, or empty names: the
// sound device), its lines ended by CR LF; EUsageError when an output is the input or
// two outputs are one file, with one warning on standard error when NUL
// bytes were made blanks.
std::string ReadSayText(const std::string& input, const std::vector<std::string>& outputs);

#pragma once
// Whole-file updates that never leave a half-written file behind: the new contents
// go into a temporary file in the same folder, which is synced and renamed over the
// old one. A symbolic link is followed and stays a link; the file keeps its mode and,
// where allowed, its owner. Where no file can be made beside it (a read-only folder)
// or the file has further hard links, a writable file is rewritten in place instead;
// any failure seen there puts the old contents back.
#include <functional>
#include <string>

// Steps of the write path where a test can make the step fail. The hook is asked
// right after the step has succeeded, except for kRenamed, which is asked just
// before the rename (a failed rename changes nothing).
enum class ReplaceStage {
    kTempCreated,  // the temporary file exists; EACCES or EROFS: the folder refuses it
    kWritten,      // the new contents are written (in place: not yet cut to length)
    kTruncated,    // in place: the file is cut to the new length
    kSynced,       // the contents reached the disk
    kClosed,       // the file is closed
    kRenamed,      // the temporary file is about to replace the old one
};

// Test hook: called at each stage; a non-zero result is taken as the errno that the
// step failed with. An empty hook (the default) injects nothing.
void SetReplaceFaultHook(std::function<int(ReplaceStage)> hook);

// Reads a whole file. False when it does not exist or cannot be read.
bool ReadWholeFile(const std::string& path, std::string& contents);

// Computes the new contents from the old ones (null when the file does not exist yet)
// and stores them. False when the file cannot be created or written: a missing
// folder, a file without write permission (also for the superuser, who could
// otherwise write anything), or a failed write; the old file is then unchanged.
bool ReplaceFileContents(const std::string& path,
                         const std::function<std::string(const std::string* old)>& update);

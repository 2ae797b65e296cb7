#pragma once
// The list of espeak-ng voices, kept between runs. Listing reads every voice file
// (about 230 of them on Debian, a fifth of a one-word render's time), while finding
// out that none changed reads only the times of their folders: adding, removing or
// renaming a voice file, which is how packages and editors change them, changes its
// folder's time.
#include <optional>
#include <string>
#include <vector>

#include "platform/voices/EspeakVoice.h"

// The voice folders under espeak-ng's data folder, each with its time and inode.
struct EspeakVoiceFolders {
    std::string dataDir;
    std::vector<std::string> lines;  // "seconds nanoseconds inode relative/path"
    long long newest = 0;            // the latest change, in seconds
};

// Read before listing, so that a change made while listing is seen by the next run.
EspeakVoiceFolders StampVoiceFolders(const std::string& dataDir);

// The voices kept in cacheFile when it was written for this key (espeak-ng's version
// and data folder) and no voice folder changed since; otherwise none. A damaged file
// counts as a change.
std::optional<std::vector<EspeakVoiceInfo>> LoadVoiceCache(const std::string& cacheFile,
                                                           const std::string& key);

// Keeps the list; false when it cannot (no folder for it, a full disk, or a field the
// file cannot hold) or should not: a folder changed in the last seconds may change
// again within the same tick of the file system's clock, unseen. The listing works
// without it, only slower.
bool SaveVoiceCache(const std::string& cacheFile, const std::string& key,
                    const EspeakVoiceFolders& folders, const std::vector<EspeakVoiceInfo>& voices);

// $XDG_CACHE_HOME/parlenmaker/espeak-voices, or under ~/.cache; empty with neither.
std::string DefaultVoiceCacheFile();

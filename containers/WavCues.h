#pragma once
// Cue points in a finished WAV (or RF64) file of ours: one per chapter at its first
// sample, labelled with its title (a "cue " chunk and a LIST "adtl" chunk of "labl"
// chunks), appended after the audio. Appending keeps the file whole whatever fails:
// the header's size is changed only once the chunks are on the disk, and chunks only
// partly written are cut off again.
#include <string>
#include <vector>

#include "containers/Chapters.h"

namespace containers {

// Marks were placed at `rate` samples per second; the last chapter is made to end with
// the audio. The reason it cannot be done, else an empty string.
std::string AddWavCues(const std::string& path, std::vector<ChapterMark>& chapters, uint32_t rate);

}  // namespace containers

#pragma once
// A file encoded outside libsndfile (MP3 in pieces, M4B through FFmpeg): what the
// encoder hands it.
#include <cstddef>
#include <cstdint>
#include <string>

class EncodedStream {
  public:
    virtual ~EncodedStream() = default;
    // Before the first Write.
    virtual void Tag(const std::string& title, const std::string& artist) = 0;
    // False with the reason when the encoder or the target fails.
    virtual bool Write(const int16_t* frames, size_t count, std::string& why) = 0;
    // Ends the file. False with the reason.
    virtual bool Finish(std::string& why) = 0;
    // After a failure: makes what was written whole play, and says whether it does; a
    // file that does not is removed.
    virtual bool KeepWhole() { return false; }
};

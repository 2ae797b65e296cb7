#pragma once
// How the program reaches the M4B writer of libparlen_m4b.so, which it maps only when an
// M4B file is written: one C symbol, parlen_m4b_entry, gives a table of plain functions.
// The library holds FFmpeg's libraries (some thirty codec libraries with them), so that
// no other start of the window or of parlen-say loads them. Nothing of FFmpeg crosses
// this table. Both sides are built together from this header.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define PARLEN_M4B_API __attribute__((visibility("default")))

namespace m4b_bridge {

// Where an encoded file goes: the caller's own writes, so that its failures (a full
// disk) are kept and told as every format's are.
struct Sink {
    void* opaque = nullptr;
    bool (*write)(void* opaque, const uint8_t* data, size_t size) = nullptr;
    // As lseek; -1 when it cannot. Null when the target cannot seek (a pipe): the file is
    // then fragmented, which players read front to back.
    int64_t (*seek)(void* opaque, int64_t offset, int whence) = nullptr;
    int64_t (*size)(void* opaque) = nullptr;
};

struct Chapter {
    std::string title;  // UTF-8
    int64_t startMs = 0, endMs = 0;
};

struct Stream;  // the writer's, opaque

// Samples an AAC frame holds.
inline constexpr size_t kFrameSamples = 1024;

struct Entry {
    // AAC at 64 kbit/s of one channel at rate, in an MP4 file of major brand "M4B ".
    // Null with why when it cannot start.
    Stream* (*open)(const Sink& sink, unsigned rate, std::string& why);
    void (*close)(Stream* stream);
    // Before the first packets.
    void (*tag)(Stream* stream, const std::string& title, const std::string& artist);
    // Encodes a piece of the stream with an encoder of its own; may run on several
    // threads at once. samples: `lead` frames of kFrameSamples before the piece's own
    // start, then the piece and what follows it. Gives the packets of at most `keep`
    // frames from the piece's start (all when keep is 0, the flushed end with them):
    // their bytes one after another, each one's size and samples.
    bool (*encodePiece)(unsigned rate, const int16_t* samples, size_t count, size_t lead,
                        size_t keep, std::vector<uint8_t>& bytes, std::vector<uint32_t>& sizes,
                        std::vector<uint32_t>& durations, std::string& why);
    // Writes the next packets of the stream, as encodePiece gave them, in order.
    bool (*writePackets)(Stream* stream, const uint8_t* bytes, const uint32_t* sizes,
                         const uint32_t* durations, size_t count, std::string& why);
    // Writes the file's index.
    bool (*finish)(Stream* stream, std::string& why);
    // The MP4 file `bytes` remuxed (its audio copied untouched) with a QuickTime chapter
    // track and a Nero chapter list; the last chapter is made to end with the audio.
    // False with why.
    bool (*withChapters)(const std::string& bytes, std::vector<Chapter>& chapters, std::string& out,
                         std::string& why);
};

}  // namespace m4b_bridge

extern "C" PARLEN_M4B_API const m4b_bridge::Entry* parlen_m4b_entry();
inline constexpr const char* kM4bEntrySymbol = "parlen_m4b_entry";
inline constexpr const char* kM4bLibraryName = "libparlen_m4b.so";

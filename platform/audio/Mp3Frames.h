#pragma once
// The bytes of MP3 files that LAME does not write for a stream encoded in pieces: frame
// lengths, to cut a piece's frames apart; the first frame's "Info" tag, completed for
// the whole stream (its frame count and size, seek table, encoder delay and padding,
// and checksums), which decoders read to play it gaplessly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mp3 {

// The length of the MPEG audio Layer III frame whose header starts at `header` (four
// bytes); 0 when they are no such header.
size_t FrameLength(const uint8_t* header);

// CRC-16 (polynomial 0x8005, reflected, as LAME's), continued from crc.
uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc = 0);

// What the Info tag tells of the stream after it.
struct StreamFacts {
    uint32_t frames = 0;      // audio frames, the tag's own not counted
    uint64_t audioBytes = 0;  // their bytes
    uint16_t audioCrc = 0;    // Crc16 of those bytes
    unsigned delay = 0;       // samples the encoder put before the first one
    unsigned padding = 0;     // samples after the last one, to the end of the last frame
};

// Completes `frame`, an Info tag frame as LAME makes it (lame_get_lametag_frame), for
// the stream `facts` tell of. False when the frame holds no such tag.
bool CompleteInfoTag(std::vector<uint8_t>& frame, const StreamFacts& facts);

}  // namespace mp3

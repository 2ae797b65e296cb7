#include "platform/audio/Mp3Frames.h"

#include <algorithm>
#include <cstring>

namespace mp3 {
namespace {

void PutBig(uint8_t* at, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<uint8_t>(value);
}

// Where the parts of the tag lie from the "Info" mark: its flags, frame count, byte count
// and seek table (100 entries), a quality figure, then LAME's own part.
constexpr size_t kFrames = 8, kBytes = 12, kToc = 16, kLame = 120;
// In LAME's part: the delay and padding (12 bits each), the music's length and checksum,
// and the checksum of the frame up to there.
constexpr size_t kDelayPadding = 21, kMusicLength = 28, kMusicCrc = 32, kTagCrc = 34;
constexpr size_t kTagEnd = kLame + 36;

}  // namespace

size_t FrameLength(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    const int version = (h[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (h[1] >> 1) & 3;    // 1: Layer III
    const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static constexpr int kMpeg1Rates[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                          112, 128, 160, 192, 224, 256, 320};
    static constexpr int kMpeg2Rates[] = {0,  8,  16, 24,  32,  40,  48, 56,
                                          64, 80, 96, 112, 128, 144, 160};
    static constexpr int kSampleRates[] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int bitrate = (mpeg1 ? kMpeg1Rates : kMpeg2Rates)[bitrateIndex] * 1000;
    const int rate = kSampleRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    return static_cast<size_t>((mpeg1 ? 144 : 72) * bitrate / rate + padding);
}

uint16_t Crc16(const uint8_t* data, size_t size, uint16_t crc) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

bool CompleteInfoTag(std::vector<uint8_t>& frame, const StreamFacts& facts) {
    static constexpr uint8_t kInfo[] = {'I', 'n', 'f', 'o'};
    const auto found = std::search(frame.begin(), frame.end(), std::begin(kInfo), std::end(kInfo));
    const auto at = static_cast<size_t>(found - frame.begin());
    if (found == frame.end() || at + kTagEnd > frame.size()) return false;
    uint8_t* tag = frame.data() + at;
    const uint64_t total = facts.audioBytes + frame.size();
    PutBig(tag + kFrames, facts.frames, 4);
    PutBig(tag + kBytes, total, 4);
    // A constant bit rate: the seek table is a straight line.
    for (int i = 0; i < 100; ++i) tag[kToc + i] = static_cast<uint8_t>(i * 256 / 100);
    uint8_t* lame = tag + kLame;
    PutBig(lame + kDelayPadding, (uint64_t{facts.delay & 0xFFF} << 12) | (facts.padding & 0xFFF),
           3);
    PutBig(lame + kMusicLength, total, 4);
    PutBig(lame + kMusicCrc, facts.audioCrc, 2);
    PutBig(lame + kTagCrc, Crc16(frame.data(), at + kLame + kTagCrc), 2);
    return true;
}

}  // namespace mp3

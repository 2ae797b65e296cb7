#include "platform/audio/FlacHeader.h"

#include <FLAC/stream_decoder.h>
#include <md5.h>
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// "fLaC", then the STREAMINFO block's 4-byte header; its fields from there on.
constexpr off_t kStreamInfo = 8;
constexpr off_t kTotalAt = kStreamInfo + 13;  // low 4 bits, then 4 more bytes
constexpr off_t kMd5At = kStreamInfo + 18;

struct Reading {
    int fd = -1;
    off_t pos = 0;
    uint64_t samples = 0;
    unsigned bits = 0;
    bool broken = false;
    MD5_CTX md5;
    std::vector<char> bytes;
    Reading() { MD5Init(&md5); }
};

FLAC__StreamDecoderReadStatus ReadCb(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                     void* data) {
    auto* r = static_cast<Reading*>(data);
    const ssize_t n = ::pread(r->fd, buffer, *bytes, r->pos);
    if (n < 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    r->pos += n;
    *bytes = size_t(n);
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus WriteCb(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                       const FLAC__int32* const buffer[], void* data) {
    auto* r = static_cast<Reading*>(data);
    const unsigned channels = frame->header.channels,
                   size = (frame->header.bits_per_sample + 7) / 8;
    const unsigned blocksize = frame->header.blocksize;
    r->bytes.resize(size_t(blocksize) * channels * size);
    char* out = r->bytes.data();
    // The checksum covers the samples interleaved, little-endian, in whole bytes.
    for (unsigned i = 0; i < blocksize; ++i)
        for (unsigned c = 0; c < channels; ++c)
            for (unsigned b = 0; b < size; ++b) *out++ = char(uint32_t(buffer[c][i]) >> (8 * b));
    MD5Update(&r->md5, reinterpret_cast<const uint8_t*>(r->bytes.data()), r->bytes.size());
    r->samples += blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void MetadataCb(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}

void ErrorCb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    static_cast<Reading*>(data)->broken = true;
}

struct DecoderFree {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};

}  // namespace

bool CompleteFlacHeader(int fd) {
    std::array<unsigned char, 8> head{};
    if (::pread(fd, head.data(), head.size(), 0) != ssize_t(head.size()) ||
        std::memcmp(head.data(), "fLaC", 4) != 0 || (head[4] & 0x7F) != 0)
        return false;
    std::unique_ptr<FLAC__StreamDecoder, DecoderFree> decoder(FLAC__stream_decoder_new());
    if (!decoder) return false;
    FLAC__stream_decoder_set_md5_checking(decoder.get(), false);
    Reading r;
    r.fd = fd;
    if (FLAC__stream_decoder_init_stream(decoder.get(), ReadCb, nullptr, nullptr, nullptr, nullptr,
                                         WriteCb, MetadataCb, ErrorCb,
                                         &r) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return false;
    FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
    FLAC__stream_decoder_finish(decoder.get());
    // A frame that does not decode leaves the count unsure: the header says "unknown".
    if (r.broken || r.samples == 0) return false;
    std::array<unsigned char, 5> total{};
    if (::pread(fd, total.data(), 1, kTotalAt) != 1) return false;
    total[0] = static_cast<unsigned char>((total[0] & 0xF0) | ((r.samples >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i)
        total[size_t(1 + i)] = static_cast<unsigned char>(r.samples >> (24 - 8 * i));
    uint8_t md5[MD5_DIGEST_LENGTH];
    MD5Final(md5, &r.md5);
    return ::pwrite(fd, total.data(), total.size(), kTotalAt) == ssize_t(total.size()) &&
           ::pwrite(fd, md5, sizeof md5, kMd5At) == ssize_t(sizeof md5);
}

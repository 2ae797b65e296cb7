#pragma once
// What the bridge's encoder and remux share: FFmpeg's headers, its error texts, and I/O
// contexts over callbacks of ours.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <string>

namespace m4b_bridge {

inline std::string Reason(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Failures come back as results and reach the user with our messages; FFmpeg's own notes
// on standard error (an extension other than .m4a, the encoder's figures) are noise there.
inline void QuietLog() {
    av_log_set_level(AV_LOG_QUIET);
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteFunction = int (*)(void*, const uint8_t*, int);
#else
using WriteFunction = int (*)(void*, uint8_t*, int);
#endif

// An I/O context over opaque with its own buffer; null when out of memory.
inline AVIOContext* NewIo(void* opaque, bool write, int (*read)(void*, uint8_t*, int),
                          WriteFunction writeFunction, int64_t (*seek)(void*, int64_t, int)) {
    constexpr int kIoBuffer = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    if (!buffer) return nullptr;
    AVIOContext* io =
        avio_alloc_context(buffer, kIoBuffer, write ? 1 : 0, opaque, read, writeFunction, seek);
    if (!io) av_free(buffer);
    return io;
}

inline void FreeIo(AVIOContext*& io) {
    if (!io) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
}

}  // namespace m4b_bridge

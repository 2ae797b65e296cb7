#include "containers/M4bChapters.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <memory>

#include "support/Errors.h"

namespace containers {
namespace {
constexpr int kIoBuffer = 1 << 16;

// A file in memory that FFmpeg reads or writes through callbacks.
struct Memory {
    std::string data;
    int64_t pos = 0;
};

int ReadPacket(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<Memory*>(opaque);
    const int64_t left = static_cast<int64_t>(m->data.size()) - m->pos;
    if (left <= 0) return AVERROR_EOF;
    const int n = static_cast<int>(std::min<int64_t>(left, size));
    std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WritePacket(void* opaque, const uint8_t* buf, int size) {
#else
int WritePacket(void* opaque, uint8_t* buf, int size) {
#endif
    auto* m = static_cast<Memory*>(opaque);
    const auto end = static_cast<size_t>(m->pos) + static_cast<size_t>(size);
    if (m->data.size() < end) m->data.resize(end);
    std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(size));
    m->pos = static_cast<int64_t>(end);
    return size;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* m = static_cast<Memory*>(opaque);
    const auto size = static_cast<int64_t>(m->data.size());
    if (whence & AVSEEK_SIZE) return size;
    const int64_t to = (whence & 3) == SEEK_SET   ? offset
                       : (whence & 3) == SEEK_CUR ? m->pos + offset
                                                  : size + offset;
    if (to < 0) return AVERROR(EINVAL);
    m->pos = to;
    return to;
}

AVIOContext* Io(Memory& m, bool write) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBuffer));
    if (!buffer) return nullptr;
    AVIOContext* io =
        avio_alloc_context(buffer, kIoBuffer, write ? 1 : 0, &m, write ? nullptr : ReadPacket,
                           write ? WritePacket : nullptr, Seek);
    if (!io) av_free(buffer);
    return io;
}

void FreeIo(AVIOContext*& io) {
    if (!io) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
}

void Check(int error, const char* step) {
    if (error >= 0) return;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    throw EWriteError(std::string(step) + ": " + text);
}

// Everything the remux holds, freed on every way out.
struct Remux {
    Memory in, out;
    AVIOContext* inIo = nullptr;
    AVIOContext* outIo = nullptr;
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVPacket* packet = av_packet_alloc();
    ~Remux() {
        av_packet_free(&packet);
        avformat_close_input(&input);
        FreeIo(inIo);
        if (output) avformat_free_context(output);
        FreeIo(outIo);
    }
};
}  // namespace

std::string WithM4bChapters(const std::string& bytes, std::vector<ChapterMark>& chapters) {
    Remux r;
    // Failures come back as results and reach the user with our messages; FFmpeg's own
    // notes on standard error (an extension other than .m4a, the encoder's figures) are
    // noise there.
    av_log_set_level(AV_LOG_QUIET);
    r.in.data = bytes;
    r.inIo = Io(r.in, false);
    r.outIo = Io(r.out, true);
    r.input = avformat_alloc_context();
    if (!r.inIo || !r.outIo || !r.input || !r.packet) throw EWriteError("not enough memory");
    r.input->pb = r.inIo;
    Check(avformat_open_input(&r.input, nullptr, av_find_input_format("mov"), nullptr),
          "it cannot be read back");
    Check(avformat_find_stream_info(r.input, nullptr), "it cannot be read back");
    Check(avformat_alloc_output_context2(&r.output, nullptr, "ipod", nullptr),
          "this FFmpeg cannot write M4B files");
    r.output->pb = r.outIo;
    av_opt_set(r.output->priv_data, "brand", "M4B ", 0);
    av_dict_copy(&r.output->metadata, r.input->metadata, 0);
    int64_t lengthMs = 0;
    for (unsigned i = 0; i < r.input->nb_streams; ++i) {
        const AVStream* from = r.input->streams[i];
        AVStream* to = avformat_new_stream(r.output, nullptr);
        if (!to) throw EWriteError("not enough memory");
        Check(avcodec_parameters_copy(to->codecpar, from->codecpar), "its audio cannot be copied");
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        if (from->duration > 0)
            lengthMs = std::max(lengthMs,
                                av_rescale_q(from->duration, from->time_base, AVRational{1, 1000}));
    }
    if (!chapters.empty() && lengthMs > static_cast<int64_t>(chapters.back().endMs))
        chapters.back().endMs = static_cast<uint64_t>(lengthMs);
    for (size_t i = 0; i < chapters.size(); ++i) {
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter) throw EWriteError("not enough memory");
        chapter->id = static_cast<int64_t>(i + 1);
        chapter->time_base = AVRational{1, 1000};
        chapter->start = static_cast<int64_t>(chapters[i].startMs);
        chapter->end = static_cast<int64_t>(std::max(chapters[i].endMs, chapters[i].startMs));
        av_dict_set(&chapter->metadata, "title", chapters[i].title.c_str(), 0);
        int count = static_cast<int>(r.output->nb_chapters);
        av_dynarray_add(&r.output->chapters, &count, chapter);
        if (count != static_cast<int>(r.output->nb_chapters) + 1) {
            av_dict_free(&chapter->metadata);
            av_free(chapter);
            throw EWriteError("not enough memory");
        }
        r.output->nb_chapters = static_cast<unsigned>(count);
    }
    Check(avformat_write_header(r.output, nullptr), "the chapters cannot be written");
    for (;;) {
        const int got = av_read_frame(r.input, r.packet);
        if (got == AVERROR_EOF) break;
        Check(got, "its audio cannot be read back");
        const AVStream* from = r.input->streams[r.packet->stream_index];
        av_packet_rescale_ts(r.packet, from->time_base,
                             r.output->streams[r.packet->stream_index]->time_base);
        r.packet->pos = -1;
        Check(av_interleaved_write_frame(r.output, r.packet), "its audio cannot be copied");
    }
    Check(av_write_trailer(r.output), "the chapters cannot be written");
    avio_flush(r.outIo);
    return std::move(r.out.data);
}

}  // namespace containers

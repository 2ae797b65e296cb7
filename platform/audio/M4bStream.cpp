#include "platform/audio/M4bStream.h"

#include "containers/M4bChapters.h"

namespace {
// The bridge's writes and seeks go through the target's own, so that its failures are
// kept as every format's are.
bool WriteTarget(void* opaque, const uint8_t* data, size_t size) {
    auto* target = static_cast<FileTarget*>(opaque);
    const auto count = static_cast<sf_count_t>(size);
    return FileTarget::Io()->write(data, count, target) == count;
}

int64_t SeekTarget(void* opaque, int64_t offset, int whence) {
    return FileTarget::Io()->seek(offset, whence, static_cast<FileTarget*>(opaque));
}

int64_t TargetSize(void* opaque) {
    return FileTarget::Io()->get_filelen(static_cast<FileTarget*>(opaque));
}
}  // namespace

std::unique_ptr<M4bStream> M4bStream::Open(FileTarget& target, unsigned rate, std::string& why) {
    std::unique_ptr<M4bStream> s(new M4bStream);
    s->writer_ = containers::M4bWriter(why);
    if (!s->writer_) {
        why = "M4B files cannot be written: " + why;
        return nullptr;
    }
    s->target_ = &target;
    s->sink_ = {&target, WriteTarget, target.Seekable() ? SeekTarget : nullptr, TargetSize};
    s->stream_ = s->writer_->open(s->sink_, rate, why);
    if (!s->stream_) return nullptr;
    s->rate_ = rate;
    M4bStream* m = s.get();
    s->pieces_ = std::make_unique<PieceEncoder>(
        m4b_bridge::kFrameSamples, kPieceFrames, kLeadFrames, kTrailFrames, 0,
        [m](PieceEncoder::Piece& piece) { m->Encode(piece); },
        [m](PieceEncoder::Piece& piece, std::string& why) { return m->Take(piece, why); });
    return s;
}

M4bStream::~M4bStream() {
    pieces_.reset();  // its threads first
    if (stream_) writer_->close(stream_);
}

void M4bStream::Encode(PieceEncoder::Piece& piece) const {
    writer_->encodePiece(rate_, piece.samples.data(), piece.samples.size(), piece.lead,
                         piece.last ? 0 : kPieceFrames, piece.bytes, piece.sizes, piece.durations,
                         piece.why);
}

void M4bStream::Tag(const std::string& title, const std::string& artist) {
    writer_->tag(stream_, title, artist);
}

bool M4bStream::Told(bool ok, std::string& why) const {
    if (ok) return true;
    const std::string failure = target_->Failure();
    if (!failure.empty()) why = failure;
    return false;
}

bool M4bStream::Take(PieceEncoder::Piece& piece, std::string& why) {
    return Told(writer_->writePackets(stream_, piece.bytes.data(), piece.sizes.data(),
                                      piece.durations.data(), piece.sizes.size(), why),
                why);
}

bool M4bStream::Write(const int16_t* frames, size_t count, std::string& why) {
    return pieces_->Write(frames, count, why);
}

bool M4bStream::Finish(std::string& why) {
    return pieces_->Finish(why) && Told(writer_->finish(stream_, why), why);
}

#include "platform/audio/FileDest.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/ErrorInfo.h"
#include "platform/audio/Rf64.h"
#include "support/Unicode.h"

namespace {

// The header is rewritten this often (in seconds of audio), so that a file written
// in place (standard output into a file) plays even when the process dies mid-render.
constexpr unsigned kHeaderEverySeconds = 5;
// A compressed file's queue holds this much audio (in seconds) ahead of its encoding.
constexpr unsigned kQueueSeconds = 2;

std::string EightBitName(const char16_t* name) {
    return FileNameFromUtf16(name);
}

void Put32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The header of a WAV file written to a stream: its sizes say "unknown length", as
// nothing can be rewritten once the data went out.
bool WriteStreamHeader(FileTarget& target, unsigned rate) {
    unsigned char h[44] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                           'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
    Put32(h + 4, 0xFFFFFFFFu);
    Put32(h + 24, rate);
    Put32(h + 28, rate * 2);
    h[32] = 2;   // bytes a frame
    h[34] = 16;  // bits a sample
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, 0xFFFFFFFFu);
    return target.WriteRaw(h, sizeof h);
}

}  // namespace

void FileDest::Closer::operator()(SNDFILE* f) const {
    if (f) sf_close(f);
}

FileDest::~FileDest() {
    if (std::shared_ptr<Taken> taken = Take()) Finish(*taken);
}

HRESULT FileDest::Register(IUnknown* notify) {
    std::lock_guard lock(mutex_);
    notify_ = ComPtr<IUnknown>(notify);
    return S_OK;
}

HRESULT FileDest::Set(const char16_t* fileName, DWORD /*flags*/) {
    if (!fileName) return E_POINTER;
    if (std::shared_ptr<Taken> taken = Take()) Finish(*taken);
    std::lock_guard lock(mutex_);
    path_ = EightBitName(fileName);
    format_ = FileFormatOf(path_);
    if (path_.empty()) {
        lastError_ = "No file name given";
        return AUDERR_CANNOTOPENFILE;
    }
    std::string why;
    target_ = FileTarget::Open(path_, why);
    if (!target_) {
        Fail("Cannot create file", why);
        path_.clear();
        return AUDERR_CANNOTOPENFILE;
    }
    encodeFailed_ = false;
    fileFrames_ = 0;
    fileRate_ = 0;
    pendingTitle_.clear();
    pendingArtist_.clear();
    return S_OK;
}

HRESULT FileDest::Add(const char16_t*, DWORD) {
    return E_NOTIMPL;
}

HRESULT FileDest::Flush() {
    HRESULT hr = S_OK;
    if (std::shared_ptr<Taken> taken = Take()) hr = Finish(*taken);
    Scope lock(marks_, mutex_);
    // The file is complete: nothing more will be written for marks still waiting.
    marks_.RunAll();
    return hr;
}

HRESULT FileDest::RealTimeSet(WORD rate) {
    if (rate == 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    realTime_ = rate;
    return S_OK;
}

HRESULT FileDest::RealTimeGet(WORD* rate) {
    if (!rate) return E_POINTER;
    std::lock_guard lock(mutex_);
    *rate = realTime_;
    return S_OK;
}

HRESULT FileDest::Open(unsigned sampleRate) {
    if (sampleRate == 0) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    rate_ = sampleRate;
    if (fileFrames_ > 0 && fileRate_ != sampleRate) {
        // One file holds one rate.
        lastError_ = "File " + path_ + " already holds audio at another rate";
        return E_INVALIDARG;
    }
    return S_OK;
}

bool FileDest::StartLocked(unsigned rate) {
    fileRate_ = rate;
    fileFrames_ = 0;
    heard_ = written_;
    if (format_ != FileFormat::Wav) {
        std::string why;
        std::unique_ptr<AudioEncoder> file =
            AudioEncoder::Create(std::move(target_), format_, rate, why);
        if (!file) return Fail("Cannot create file", why);
        encodeFailed_ = false;
        const uint64_t serial = serial_;
        encoder_ = std::make_unique<EncodeQueue>(
            std::move(file), std::max<size_t>(size_t{rate} * kQueueSeconds, 16384),
            [this, serial](uint64_t frames, const std::string* failure) {
                Encoded(serial, frames, failure);
            });
        if (!pendingTitle_.empty() || !pendingArtist_.empty())
            encoder_->Tag(pendingTitle_, pendingArtist_);
        return true;
    }
    if (!target_->Seekable()) {
        streamWav_ = true;
        if (WriteStreamHeader(*target_, rate)) return true;
        streamWav_ = false;
        const std::string why = target_->Failure();
        target_->Settle(false, lastError_);
        target_.reset();
        return Fail("Cannot create file", why);
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open_virtual(FileTarget::Io(), SFM_WRITE, &info, target_.get());
    if (!f) {
        // Not even the header went in (a full disk): an earlier file stays, and no
        // file is left that was not there before.
        const std::string failed = target_->Failure();
        target_.reset();
        return Fail("Cannot create file", failed.empty() ? sf_strerror(nullptr) : failed);
    }
    file_.reset(f);
    return true;
}

void FileDest::SettleFailedWavLocked() {
    Taken open;
    open.target = std::move(target_);
    open.wav = std::move(file_);
    open.frames = fileFrames_;
    streamWav_ = false;
    fileFrames_ = 0;
    std::string ignored;  // the write's failure is the one to tell
    if (open.wav) sf_close(open.wav.release());
    if (open.target) open.target->Settle(false, ignored);
}

bool FileDest::Fail(const char* what, const std::string& reason) {
    lastError_ = std::string(what) + " " + path_ + ": " + reason;
    SetErrorDescription(reason);
    return false;
}

bool FileDest::HeaderFitsLocked() const {
    return fileFrames_ * 2 <= Rf64::kMaxPlainDataBytes;
}

void FileDest::Encoded(uint64_t serial, uint64_t frames, const std::string* failure) {
    std::function<void()> onRoom;
    {
        Scope lock(marks_, mutex_);
        // A file taken away by Completion tells its failure there.
        if (serial != serial_) return;
        if (failure) {
            // Told first, then the marks that wait for frames never written run.
            encodeFailed_ = true;
            encodeFailure_ = *failure;
            lastError_ = "Cannot write file " + path_ + ": " + *failure;
            if (onFailure_) onFailure_(AUDERR_WRITEFAILED, lastError_);
            marks_.RunAll();
        } else {
            heard_ += frames;
            RunDueMarksLocked();
        }
        onRoom = onRoom_;
    }
    if (onRoom) onRoom();
}

size_t FileDest::Room() {
    std::lock_guard lock(mutex_);
    if (paused_) return 0;
    return encoder_ ? encoder_->Room() : kRoomFrames;
}

HRESULT FileDest::Write(const int16_t* frames, size_t count) {
    if (count && !frames) return E_POINTER;
    Scope lock(marks_, mutex_);
    if (!IsOpenLocked()) {
        lastError_ = path_.empty() ? "No output file named" : "File " + path_ + " is closed";
        return AUDERR_WRITEFAILED;
    }
    if (count == 0) return S_OK;
    if (!file_ && !streamWav_ && !encoder_ && !StartLocked(rate_ ? rate_ : kDefaultRate)) {
        marks_.RunAll();  // nothing will be written for them
        return AUDERR_WRITEFAILED;
    }
    if (encoder_) {
        // Marks run as the encoding thread writes their frames.
        if (!encoder_->Push(frames, count)) {
            SetErrorDescription(encodeFailure_);
            return AUDERR_WRITEFAILED;
        }
        fileFrames_ += count;
        written_ += count;
        return S_OK;
    }
    uint64_t took = 0;
    if (streamWav_) {
        static_assert(std::endian::native == std::endian::little, "WAV samples are little-endian");
        const size_t before = size_t(target_->Size());
        target_->WriteRaw(frames, count * 2);
        took = (size_t(target_->Size()) - before) / 2;
    } else {
        const sf_count_t done = sf_write_short(file_.get(), frames, static_cast<sf_count_t>(count));
        took = done > 0 ? static_cast<uint64_t>(done) : 0;
    }
    const uint64_t before = fileFrames_;
    fileFrames_ += took;
    written_ += took;
    heard_ = written_;
    if (took < count || !target_->Failure().empty()) {
        const std::string failed = target_->Failure();
        // Not even the first frames went in (nor, maybe, the header): no file was made.
        Fail(fileFrames_ == 0 ? "Cannot create file" : "Cannot write file",
             failed.empty() ? sf_strerror(file_.get()) : failed);
        // Complete the file with what it holds, or leave an earlier one as it was;
        // nothing more goes into it, so nobody waits for later marks either.
        SettleFailedWavLocked();
        marks_.RunAll();
        return AUDERR_WRITEFAILED;
    }
    const uint64_t every = uint64_t{fileRate_} * kHeaderEverySeconds;
    // Past 4 GiB the plain header's sizes would wrap: it keeps its last true sizes
    // until the file is completed as RF64.
    if (file_ && before / every != fileFrames_ / every && HeaderFitsLocked())
        sf_command(file_.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
    RunDueMarksLocked();
    return S_OK;
}

uint64_t FileDest::WrittenFrames() {
    std::lock_guard lock(mutex_);
    return written_;
}

uint64_t FileDest::HeardFrames() {
    std::lock_guard lock(mutex_);
    return heard_;
}

void FileDest::AddMark(uint64_t frame, std::function<void()> onHeard) {
    if (!onHeard) return;
    Scope lock(marks_, mutex_);
    marks_.Add(frame, std::move(onHeard));
    if (!IsOpenLocked() && !paused_)
        marks_.RunAll();  // no file: nothing will be written, so nobody waits
    else
        RunDueMarksLocked();
}

void FileDest::AddMarks(Marks marks) {
    Scope lock(marks_, mutex_);
    for (auto& [frame, onHeard] : marks) marks_.Add(frame, std::move(onHeard));
    if (!IsOpenLocked() && !paused_)
        marks_.RunAll();
    else
        RunDueMarksLocked();
}

void FileDest::EndOfData() {
    std::lock_guard lock(mutex_);
    // The end of a text: a valid header now, before Flush completes the file.
    if (file_ && HeaderFitsLocked()) sf_command(file_.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
}

HRESULT FileDest::Pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
    return S_OK;
}

HRESULT FileDest::Resume() {
    std::function<void()> onRoom;
    {
        Scope lock(marks_, mutex_);
        paused_ = false;
        RunDueMarksLocked();
        onRoom = onRoom_;
    }
    if (onRoom) onRoom();
    return S_OK;
}

HRESULT FileDest::Reset() {
    Scope lock(marks_, mutex_);
    marks_.Drop();
    return S_OK;
}

void FileDest::SetRoomCallback(std::function<void()> onRoom) {
    std::lock_guard lock(mutex_);
    onRoom_ = std::move(onRoom);
}

std::string FileDest::LastError() {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void FileDest::SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) {
    std::lock_guard lock(mutex_);
    onFailure_ = std::move(onFailure);
}

void FileDest::BeginText(std::string_view text, std::string_view voiceName) {
    std::lock_guard lock(mutex_);
    // The first text of a file names it.
    if (encoder_ && fileFrames_ == 0) {
        encoder_->Tag(TitleOf(text), std::string(voiceName));
    } else if (target_ && !file_ && !streamWav_ && pendingTitle_.empty()) {
        pendingTitle_ = TitleOf(text);
        pendingArtist_ = voiceName;
    }
}

bool FileDest::SlowEncoder() {
    std::lock_guard lock(mutex_);
    // FLAC costs a fraction of the synthesis; Vorbis, Opus and MP3 several times it.
    return (encoder_ || target_) && format_ != FileFormat::Wav && format_ != FileFormat::Flac;
}

std::string FileDest::FileName() {
    std::lock_guard lock(mutex_);
    return IsOpenLocked() ? path_ : std::string();
}

// Marks run under the lock, which keeps them in order across threads; they only
// queue work and never call back into the destination.
void FileDest::RunDueMarksLocked() {
    if (!paused_) marks_.RunDue(heard_);
}

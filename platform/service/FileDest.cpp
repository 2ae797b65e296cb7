#include "platform/service/FileDest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/ErrorInfo.h"
#include "platform/service/Rf64.h"

namespace {

// The header is rewritten this often (in seconds of audio), so that even a process
// that dies mid-render leaves a file that players open.
constexpr unsigned kHeaderEverySeconds = 5;
// A compressed file's queue holds this much audio (in seconds) ahead of its encoding.
constexpr unsigned kQueueSeconds = 2;

std::string EightBitName(const char16_t* name) {
    return QFile::encodeName(QString::fromUtf16(name)).toStdString();
}

}  // namespace

void FileDest::Closer::operator()(SNDFILE* f) const {
    if (f) sf_close(f);
}

FileDest::~FileDest() {
    FinishEncoder();
    std::lock_guard lock(mutex_);
    CloseLocked();
}

HRESULT FileDest::Register(IUnknown* notify) {
    std::lock_guard lock(mutex_);
    notify_ = ComPtr<IUnknown>(notify);
    return S_OK;
}

HRESULT FileDest::Set(const char16_t* fileName, DWORD /*flags*/) {
    if (!fileName) return E_POINTER;
    FinishEncoder();
    std::lock_guard lock(mutex_);
    CloseLocked();
    path_ = EightBitName(fileName);
    format_ = FileFormatOf(path_);
    if (path_.empty()) {
        lastError_ = "No file name given";
        return AUDERR_CANNOTOPENFILE;
    }
    if (!OpenFileLocked(rate_ ? rate_ : kDefaultRate)) {
        path_.clear();
        return AUDERR_CANNOTOPENFILE;
    }
    return S_OK;
}

HRESULT FileDest::Add(const char16_t*, DWORD) {
    return E_NOTIMPL;
}

HRESULT FileDest::Flush() {
    const bool encoded = FinishEncoder();
    Scope lock(marks_, mutex_);
    HRESULT hr = encoded ? S_OK : AUDERR_WRITEFAILED;
    if (file_) {
        sf_write_sync(file_.get());
        if (!CloseLocked()) hr = AUDERR_WRITEFAILED;
    }
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
    std::unique_lock lock(mutex_);
    rate_ = sampleRate;
    if ((!file_ && !encoder_) || fileRate_ == sampleRate) return S_OK;
    if (fileFrames_ > 0) {
        // One WAV file holds one rate.
        lastError_ = "File " + path_ + " already holds audio at another rate";
        return E_INVALIDARG;
    }
    // Nothing written yet: start the file again at the engine's rate.
    if (encoder_) {
        std::unique_ptr<EncodeQueue> empty = std::move(encoder_);
        lock.unlock();
        empty.reset();  // encodes nothing, so it calls nothing back
        lock.lock();
        if (file_ || encoder_) return S_OK;  // named again meanwhile
    }
    CloseLocked();
    return OpenFileLocked(sampleRate) ? S_OK : AUDERR_CANNOTOPENFILE;
}

bool FileDest::OpenFileLocked(unsigned rate) {
    if (format_ != FileFormat::Wav) {
        std::string why;
        std::unique_ptr<AudioEncoder> file = AudioEncoder::Create(path_, format_, rate, why);
        if (!file) return Fail("Cannot create file", why);
        encodeFailed_ = false;
        heard_ = written_;
        encoder_ = std::make_unique<EncodeQueue>(
            std::move(file), std::max<size_t>(size_t{rate} * kQueueSeconds, 16384),
            [this](uint64_t frames, const std::string* failure) { Encoded(frames, failure); });
        fileRate_ = rate;
        fileFrames_ = 0;
        return true;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    struct stat before {};
    const bool existed = ::stat(path_.c_str(), &before) == 0;
    errno = 0;
    SNDFILE* f = sf_open(path_.c_str(), SFM_WRITE, &info);
    if (!f) {
        const int err = errno;
        Fail("Cannot create file", err ? std::strerror(err) : sf_strerror(nullptr));
        // Opened but not even the header went in (a full disk): what is left is no
        // WAV file, so none is left. A file that could not be opened is untouched.
        struct stat after {};
        if (::stat(path_.c_str(), &after) == 0 && S_ISREG(after.st_mode) &&
            (!existed || after.st_size != before.st_size))
            ::unlink(path_.c_str());
        return false;
    }
    file_.reset(f);
    fileRate_ = rate;
    fileFrames_ = 0;
    return true;
}

bool FileDest::CloseLocked() {
    if (!file_) return true;
    const uint64_t dataBytes = fileFrames_ * 2;
    fileFrames_ = 0;
    const int closed = sf_close(file_.release());
    if (closed != 0) return Fail("Cannot complete file", sf_error_number(closed));
    // Past what the plain header can hold, the file becomes RF64; below, it stays as
    // it is.
    std::string why;
    if (dataBytes > Rf64::kMaxPlainDataBytes && !Rf64::Promote(path_, why))
        return Fail("Cannot complete file", why);
    return true;
}

bool FileDest::Fail(const char* what, const std::string& reason) {
    lastError_ = std::string(what) + " " + path_ + ": " + reason;
    SetErrorDescription(reason);
    return false;
}

bool FileDest::HeaderFitsLocked() const {
    return fileFrames_ * 2 <= Rf64::kMaxPlainDataBytes;
}

bool FileDest::FinishEncoder() {
    std::unique_ptr<EncodeQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = std::move(encoder_);
    }
    if (!queue) return true;
    // The encoding thread calls back under the lock while it drains the queue.
    std::string why;
    const bool ok = queue->Finish(why);
    queue.reset();
    Scope lock(marks_, mutex_);
    heard_ = written_;
    fileFrames_ = 0;
    if (!ok && !encodeFailed_) return Fail("Cannot complete file", why);
    if (!ok) SetErrorDescription(why);
    return ok;
}

void FileDest::Encoded(uint64_t frames, const std::string* failure) {
    std::function<void()> onRoom;
    {
        Scope lock(marks_, mutex_);
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
    if (!file_ && !encoder_) {
        lastError_ = path_.empty() ? "No output file named" : "File " + path_ + " is closed";
        return AUDERR_WRITEFAILED;
    }
    if (count == 0) return S_OK;
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
    errno = 0;
    const sf_count_t done = sf_write_short(file_.get(), frames, static_cast<sf_count_t>(count));
    const uint64_t took = done > 0 ? static_cast<uint64_t>(done) : 0;
    const uint64_t before = fileFrames_;
    fileFrames_ += took;
    written_ += took;
    heard_ = written_;
    if (took < count) {
        const int err = errno;
        Fail("Cannot write file", err ? std::strerror(err) : sf_strerror(file_.get()));
        // Complete the file with what it holds; nothing more goes into it, so nobody
        // waits for later marks either. The write's failure is the one to tell.
        const std::string writeError = lastError_;
        CloseLocked();
        lastError_ = writeError;
        marks_.RunAll();
        return AUDERR_WRITEFAILED;
    }
    const uint64_t every = uint64_t{fileRate_} * kHeaderEverySeconds;
    // Past 4 GiB the plain header's sizes would wrap: it keeps its last true sizes
    // until the file is completed as RF64.
    if (before / every != fileFrames_ / every && HeaderFitsLocked())
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
    if (!file_ && !encoder_ && !paused_)
        marks_.RunAll();  // no file: nothing will be written, so nobody waits
    else
        RunDueMarksLocked();
}

void FileDest::AddMarks(Marks marks) {
    Scope lock(marks_, mutex_);
    for (auto& [frame, onHeard] : marks) marks_.Add(frame, std::move(onHeard));
    if (!file_ && !encoder_ && !paused_)
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
    if (encoder_ && fileFrames_ == 0) encoder_->Tag(TitleOf(text), std::string(voiceName));
}

bool FileDest::SlowEncoder() {
    std::lock_guard lock(mutex_);
    // FLAC costs a fraction of the synthesis; Vorbis, Opus and MP3 several times it.
    return encoder_ && format_ != FileFormat::Flac;
}

std::string FileDest::FileName() {
    std::lock_guard lock(mutex_);
    return file_ || encoder_ ? path_ : std::string();
}

// Marks run under the lock, which keeps them in order across threads; they only
// queue work and never call back into the destination.
void FileDest::RunDueMarksLocked() {
    if (!paused_) marks_.RunDue(heard_);
}

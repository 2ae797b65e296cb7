#pragma once
// The file destination: the format the file name's extension asks for (AudioEncoder.h),
// 16-bit PCM mono WAV when it names none, written at the engine's full speed.
//
// WAV is written inside Write. Compressed formats are encoded on a thread of their own
// (EncodeQueue.h) fed by a bounded queue, so Room() is what that queue can take; their
// marks run on that thread once their frame went into the file, and a write failure
// found there is told through the failure callback, then by the next Write and Flush.
//
// Set names the file and opens where it is written (FileTarget.h: a temporary beside a
// regular file, which replaces it only when complete), so a bad name fails there and
// leaves nothing behind; the file's header follows with the first audio. A Set while a
// file is open completes that file first. Completion hands the completion over to
// another thread (the synthesis thread, at a text's end or a cancel); Flush completes
// what is still open, and so do Set and the destructor, so that a cancelled or abandoned
// render still leaves a valid file holding what was rendered. A failed write leaves an
// earlier file of that name as it was (else what was rendered). Files past 4 GiB are
// completed as RF64; a stream (a pipe, appended output) gets a WAV header that says
// "length unknown". Failures give LastError "Cannot create/write/complete file NAME:
// reason", and Set and Flush leave the reason alone as the call's error description.
// Marks run inside Write or AddMark as soon as their frame is written.
#include <sndfile.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ComObject.h"
#include "platform/audio/AudioDest.h"
#include "platform/audio/AudioEncoder.h"
#include "platform/audio/EncodeQueue.h"
#include "platform/audio/FileTarget.h"
#include "platform/audio/MarkQueue.h"

class FileDest final : public TComObject<IAudioFile, IParlenAudioDest> {
  public:
    // Rate of a file named before the engine's Open; Open changes it while the file
    // is still empty.
    static constexpr unsigned kDefaultRate = 22050;
    // What Room() offers: no pacing, the engine renders as fast as it can.
    static constexpr size_t kRoomFrames = size_t{1} << 20;
    // IAudioFile::RealTimeGet of a fresh destination (0x100 = real time).
    static constexpr WORD kRealTimeDefault = 0x100;

    FileDest() = default;
    ~FileDest() override;

    // IAudioFile
    // Keeps a reference to the notification object; this destination sends nothing.
    HRESULT Register(IUnknown* notify) override;
    HRESULT Set(const char16_t* fileName, DWORD flags) override;
    // Appending to an existing file is not offered.
    HRESULT Add(const char16_t* fileName, DWORD flags) override;
    HRESULT Flush() override;
    // Kept for callers that read it back; rendering always runs at full speed.
    HRESULT RealTimeSet(WORD rate) override;
    HRESULT RealTimeGet(WORD* rate) override;

    // IParlenAudioDest
    HRESULT Open(unsigned sampleRate) override;
    size_t Room() override;
    HRESULT Write(const int16_t* frames, size_t count) override;
    uint64_t WrittenFrames() override;
    // What is written counts as heard.
    uint64_t HeardFrames() override;
    void AddMark(uint64_t frame, std::function<void()> onHeard) override;
    void AddMarks(Marks marks) override;
    void EndOfData() override;
    // Pause holds rendering (Room() is 0) and marks; Resume lets it go on.
    HRESULT Pause() override;
    HRESULT Resume() override;
    // Cancels: pending marks are dropped, what was written stays in the file.
    HRESULT Reset() override;
    void SetRoomCallback(std::function<void()> onRoom) override;
    std::string LastError() override;
    void SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) override;
    bool RendersAhead() override { return true; }
    bool SlowEncoder() override;
    // Names a compressed file after the text (its title) and the voice (its artist).
    void BeginText(std::string_view text, std::string_view voiceName) override;
    std::function<HRESULT()> Completion() override;

    // The 8-bit (locale) form of the file being written, empty when none is open.
    std::string FileName();

  private:
    using Scope = MarkQueue::Scope<std::lock_guard<std::mutex>>;
    struct Closer {
        void operator()(SNDFILE* f) const;
    };
    // One file being written, as Completion takes it away.
    struct Taken {
        std::unique_ptr<FileTarget> target;    // a WAV file's
        std::unique_ptr<SNDFILE, Closer> wav;  // on a seekable target
        std::unique_ptr<EncodeQueue> encoder;  // or a compressed file (with its target)
        uint64_t frames = 0;
        std::string path;
        bool toldBefore = false;   // its write failure went out already
        bool startFailed = false;  // its header could not be written
    };
    // Takes the open file away (null when none); its completion is Finish's.
    std::shared_ptr<Taken> Take();
    // Completes a file taken away, on any thread, with the failure's code.
    HRESULT Finish(Taken& open);
    bool IsOpenLocked() const { return target_ || file_ || encoder_; }
    // Starts the named file's audio at `rate`: its header, or its encoder.
    bool StartLocked(unsigned rate);
    // Completes a file taken away, on any thread; false with the reason.
    static bool Complete(Taken& open, std::string& why);
    // Completes the open WAV file after a failed write, keeping what it holds.
    void SettleFailedWavLocked();
    // Sets the last error to "WHAT NAME: reason" and the reason as the call's error
    // description; returns false.
    bool Fail(const char* what, const std::string& reason);
    bool HeaderFitsLocked() const;
    void RunDueMarksLocked();
    // On the encoding thread: frames of file `serial` went into it, or writing failed.
    void Encoded(uint64_t serial, uint64_t frames, const std::string* failure);

    std::mutex mutex_;
    std::unique_ptr<FileTarget> target_;     // named by Set, its audio not started
    std::unique_ptr<SNDFILE, Closer> file_;  // a WAV file (target_ is its target)
    bool streamWav_ = false;                 // a WAV written raw to a stream (target_)
    std::unique_ptr<EncodeQueue> encoder_;   // or a compressed one
    uint64_t serial_ = 0;                    // counts files, for the encoder's calls
    FileFormat format_ = FileFormat::Wav;
    bool encodeFailed_ = false;  // the compressed file's writing failed
    std::string encodeFailure_;  // and why
    std::string path_;           // named by Set, 8-bit
    std::string pendingTitle_;   // tags for a compressed file not started yet
    std::string pendingArtist_;
    uint64_t fileFrames_ = 0;  // frames in the open file
    unsigned rate_ = 0;        // from Open; 0 until then
    unsigned fileRate_ = 0;    // rate of the open file
    uint64_t written_ = 0;     // frames on the time line
    uint64_t heard_ = 0;       // of them, those in the file
    bool paused_ = false;
    MarkQueue marks_;
    std::function<void()> onRoom_;
    std::function<void(HRESULT, const std::string&)> onFailure_;
    ComPtr<IUnknown> notify_;
    WORD realTime_ = kRealTimeDefault;
    std::string lastError_;
};

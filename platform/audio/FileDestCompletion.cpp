// Completing a file: taken from the destination under its lock (cheap, on any thread),
// then drained, closed, synced and put in place by whoever runs the completion (the
// synthesis thread), so that the UI thread never waits on the disk.
#include <sndfile.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/ErrorInfo.h"
#include "platform/audio/FileDest.h"
#include "platform/audio/Rf64.h"

std::function<HRESULT()> FileDest::Completion() {
    std::shared_ptr<Taken> taken = Take();
    if (!taken) return {};
    ComPtr<FileDest> self(this);
    return [self, taken] { return self->Finish(*taken); };
}

std::shared_ptr<FileDest::Taken> FileDest::Take() {
    Scope lock(marks_, mutex_);
    if (!IsOpenLocked()) return nullptr;
    auto open = std::make_shared<Taken>();
    // A file that got no audio still gets its header (or a moment of silence), so that
    // it plays.
    if (!file_ && !streamWav_ && !encoder_ && !StartLocked(rate_ ? rate_ : kDefaultRate)) {
        target_.reset();
        open->startFailed = true;
        return open;
    }
    open->target = std::move(target_);
    open->wav = std::move(file_);
    open->encoder = std::move(encoder_);
    open->frames = fileFrames_;
    open->path = path_;
    open->toldBefore = encodeFailed_;
    streamWav_ = false;
    ++serial_;  // the encoder's later calls are for a file no longer here
    heard_ = written_;
    fileFrames_ = 0;
    // Nothing more is written for the marks still waiting.
    marks_.RunAll();
    return open;
}

HRESULT FileDest::Finish(Taken& open) {
    if (open.startFailed) return AUDERR_WRITEFAILED;  // LastError says why
    std::string why;
    if (Complete(open, why)) return S_OK;
    SetErrorDescription(why);
    // A failure the encoding thread told keeps its words.
    if (!open.toldBefore) {
        std::lock_guard lock(mutex_);
        lastError_ = "Cannot complete file " + open.path + ": " + why;
    }
    return AUDERR_WRITEFAILED;
}

bool FileDest::Complete(Taken& open, std::string& why) {
    if (open.encoder) {
        const bool ok = open.encoder->Finish(why);
        open.encoder.reset();
        return ok;
    }
    FileTarget& target = *open.target;
    bool ok = true;
    if (open.wav) {
        const int closed = sf_close(open.wav.release());
        if (const std::string failed = target.Failure(); !failed.empty()) {
            why = failed;
            ok = false;
        } else if (closed != 0) {
            why = sf_error_number(closed);
            ok = false;
        }
        // Past what the plain header can hold, the file becomes RF64; below, it stays
        // as it is.
        if (ok && open.frames * 2 > Rf64::kMaxPlainDataBytes) ok = Rf64::Promote(target.Fd(), why);
    } else if (!target.Failure().empty()) {
        why = target.Failure();
        ok = false;
    }
    std::string settled;
    if (!target.Settle(ok, settled) && ok) {
        why = settled;
        ok = false;
    }
    open.target.reset();
    return ok;
}

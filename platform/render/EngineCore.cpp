#include "platform/render/EngineCore.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "platform/ErrorInfo.h"
#include "platform/voices/TextScan.h"
#include "platform/voices/Visemes.h"

namespace {
using Event = EngineEvents::Event;
// At most this much audio per step (about 3 s); only a file has room for that much at
// once. Each write hands its due marks to the UI thread, and every hand-over costs a
// switch between threads: smaller writes made a file render spend several per cent
// of its time switching.
constexpr size_t kMaxWriteFrames = 65536;
constexpr char kOutOfMemory[] = "Not enough memory to synthesise the text";

// Hint bits from the way the piece's sentence ends.
DWORD HintsOf(std::string_view piece) {
    for (auto it = piece.rbegin(); it != piece.rend(); ++it) {
        if (IsWordBlank(static_cast<unsigned char>(*it))) continue;
        if (*it == '?') return TTSNSHINT_QUESTION;
        if (*it == '!') return TTSNSHINT_EXCLAMATION;
        return TTSNSHINT_STATEMENT;
    }
    return TTSNSHINT_STATEMENT;
}
}  // namespace

EngineCore::EngineCore(std::unique_ptr<VoiceBackend> voice, ComPtr<IParlenAudioDest> dest,
                       std::string voiceName)
    : voice_(std::move(voice)),
      dest_(std::move(dest)),
      events_(std::make_shared<EngineEvents>(voice_->SampleRate())),
      limits_(voice_->Limits()),
      rate_(voice_->SampleRate()),
      voiceName_(std::move(voiceName)) {
    settings_.pitch = limits_.pitchNormal;
    settings_.speed = limits_.speedNormal;
}

EngineCore::~EngineCore() = default;

void EngineCore::Start() {
    if (started_) return;
    started_ = true;
    dest_->SetRoomCallback([] { SynthesisWorker::Instance().Wake(); });
    // A text whose audio was all written may still be heard when the sound server
    // goes: it ends with that failure too.
    dest_->SetFailureCallback(
        [events = std::weak_ptr<EngineEvents>(events_)](HRESULT code, const std::string& why) {
            if (auto target = events.lock()) target->Lost(code, why);
        });
    SynthesisWorker::Instance().Add(shared_from_this());
}

void EngineCore::Shutdown() {
    alive_ = false;
    events_->Close();
    SynthesisWorker::Instance().Remove(this);
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        current_.reset();
        pending_.reset();
        planned_.clear();
    }
    dest_->SetRoomCallback(nullptr);
    dest_->SetFailureCallback(nullptr);
    dest_->Reset();
    // Synthesiser objects live and die on the worker's thread.
    std::shared_ptr<VoiceBackend> voice(std::move(voice_));
    SynthesisWorker::Instance().Post([voice] {});
}

HRESULT EngineCore::Queue(std::string text, ComPtr<ITTSBufNotifySink> sink, TextLexicon lexicon) {
    const HRESULT hr = dest_->Open(rate_);
    if (FAILED(hr)) {
        SetErrorDescription(dest_->LastError());  // the caller may tell the user why
        return hr;
    }
    SanitiseText(text);
    auto entry = std::make_shared<Text>();
    entry->bytes = std::move(text);
    entry->sink = std::move(sink);
    entry->lexicon = std::move(lexicon);
    entry->mouth = RestingMouth();
    {
        std::lock_guard lock(mutex_);
        entry->settings = settings_;
        entry->volume = volume_;
        queue_.push_back(std::move(entry));
    }
    SynthesisWorker::Instance().Wake();
    return S_OK;
}

HRESULT EngineCore::Pause() {
    return dest_->Pause();
}

HRESULT EngineCore::Resume() {
    // The clock stands still while paused: the frame after it is the first one heard
    // again, and that is when the text's audio start is reported again.
    const uint64_t heard = dest_->HeardFrames();
    const HRESULT hr = dest_->Resume();
    if (SUCCEEDED(hr)) {
        if (std::function<void()> report = events_->Resumed(gen_, heard + 1))
            dest_->AddMark(heard + 1, std::move(report));
    }
    SynthesisWorker::Instance().Wake();
    return hr;
}

HRESULT EngineCore::Reset() {
    {
        std::lock_guard lock(mutex_);
        const bool active = current_ || !queue_.empty();
        const uint64_t gen = ++gen_;
        queue_.clear();
        current_.reset();
        pending_.reset();
        planned_.clear();
        // A cancelled file keeps what was rendered: its stop is told once the file is
        // complete, which the synthesis thread sees to (marks that run meanwhile are of
        // the old generation, and dropped).
        const bool complete = active && dest_->RendersAhead();
        events_->NewGeneration(gen, complete);
        if (complete) {
            if (std::function<HRESULT()> completion = dest_->Completion())
                SynthesisWorker::Instance().Post(
                    [events = events_, dest = dest_, completion = std::move(completion)] {
                        const HRESULT hr = completion();
                        events->StopNow(hr, FAILED(hr) ? dest->LastError() : std::string());
                    });
            else
                events_->StopNow(S_OK, {});
        }
    }
    const HRESULT hr = dest_->Reset();
    SynthesisWorker::Instance().Wake();
    return hr;
}

bool EngineCore::Step() {
    try {
        return StepText();
    } catch (const std::bad_alloc&) {
        // No memory for this text's synthesis: it ends with the failure, and the
        // worker carries on with the next one, which may well fit.
        std::lock_guard lock(mutex_);
        pending_.reset();
        if (alive_ && current_) EndWithoutAudio(E_OUTOFMEMORY, kOutOfMemory);
        return true;
    }
}

bool EngineCore::StepText() {
    std::unique_lock lock(mutex_);
    if (!alive_) return false;
    if (pending_) {
        if (pending_->written < pending_->samples.size()) return WritePending();
        const bool last = pending_->last;
        spare_ = std::move(pending_->samples);  // the next piece renders into it
        pending_.reset();
        if (last) FinishText();
        return true;
    }
    if (!current_) {
        if (queue_.empty()) return false;
        current_ = std::move(queue_.front());
        queue_.pop_front();
        Event started{Event::Kind::TextStarted, current_->sink};
        events_->Emit(started, gen_);
    }
    const std::shared_ptr<Text> text = current_;
    if (!text->begun && (text->lexicon.rewriter || !text->lexicon.failure.empty()) &&
        !Rewrite(lock, text))
        return true;
    const uint64_t gen = gen_;
    const bool first = !text->begun;
    const PieceSize size = voice_->PieceSizeAt(text->bytes, text->cursor);
    if (first) {
        text->begun = true;
        dest_->BeginText(text->map ? text->original : text->bytes, voiceName_);
        Plan(dest_->WrittenFrames(), Event{Event::Kind::AudioStart, text->sink});
    }
    TextPiece piece{text->cursor, text->cursor};
    const VoiceSettings settings = text->settings;
    RenderedPiece out;
    out.samples = std::move(spare_);
    out.samples.clear();
    lock.unlock();

    if (first && dest_->RendersAhead())
        text->parallel = ParallelRender::Plan(text->bytes, *voice_, settings,
                                              ParallelRender::Jobs(), dest_->SlowEncoder());
    using Parallel = ParallelRender::Result;
    const Parallel from = text->parallel
                              ? text->parallel->Next(*voice_, text->bytes, settings, piece, out)
                              : Parallel::Here;
    bool rendered = true;
    if (from == Parallel::Here) {
        piece.end = PieceEnd(text->bytes, piece.begin, size.soft, size.hard, size.run);
        // A piece cut inside a long word holds no word start but still has to be said.
        if (HoldsText(text->bytes, piece)) {
            const std::vector<uint32_t> words = WordStarts(text->bytes, piece);
            const std::function<bool()> aborted = [this, gen] { return gen_ != gen || !alive_; };
            rendered = voice_->Render(text->bytes, piece, words, settings, aborted, out);
        }
    }

    lock.lock();
    if (from == Parallel::Wait) {
        // Its worker is still at it; the call waited for it a moment, so come back soon.
        spare_ = std::move(out.samples);
        return true;
    }
    if (gen_ != gen || !alive_ || current_ != text) return true;
    if (from == Parallel::Failed) {
        EndWithoutAudio(text->parallel->Failure(), text->parallel->Why());
        return true;
    }
    if (!rendered) {
        // The rest is not skipped in silence: the text ends here, saying where.
        EndWithoutAudio(E_FAIL, SynthesisFailure(piece.begin));
        return true;
    }
    text->cursor = piece.end;
    const uint64_t base = dest_->WrittenFrames();
    const uint64_t lastFrame = base + (out.samples.empty() ? 0 : out.samples.size() - 1);
    const DWORD hints =
        HintsOf(std::string_view(text->bytes).substr(piece.begin, piece.end - piece.begin));
    for (const SynthEvent& e : out.events) {
        const uint64_t frame = std::min(base + e.frame, lastFrame);
        if (e.kind == SynthEvent::Kind::Mouth) {
            text->mouth = e.mouth;
            Event visual{Event::Kind::Visual, nullptr, 0, e.mouth, e.phoneme, hints, frame};
            Plan(frame, visual);
        } else if (e.offset < text->bytes.size()) {
            // Word positions only move forward, and never past the text; the words of a
            // replacement all point at the word it replaced, which is told once.
            const uint32_t offset = text->Original(e.offset);
            if (text->anyWord && offset <= text->lastWord) continue;
            text->anyWord = true;
            text->inSentence = true;
            text->lastWord = offset;
            Plan(frame, Event{Event::Kind::Word, text->sink, offset, text->mouth, 0, hints, frame});
        }
    }
    const bool last = piece.end >= text->bytes.size();
    // Nothing to say after this piece: the text's last sentence lasts to the audio's end.
    const bool final = !HoldsText(text->bytes, TextPiece{piece.end, text->bytes.size()});
    if (text->inSentence &&
        (final || (HoldsText(text->bytes, piece) &&
                   KindOfPieceEnd(text->bytes, piece.end) != PieceEndKind::Piece))) {
        // Told where its speech ends, before the pause after it; delivered with the
        // piece's last sample at the latest, so that it comes before the audio stop.
        text->inSentence = false;
        const uint64_t end =
            base + out.samples.size() - (final ? 0 : std::min(out.pause, out.samples.size()));
        Event sentence{Event::Kind::SentenceEnd, text->sink};
        sentence.earlier.push_back(ParlenWordTime{text->Original(piece.end), end, true});
        Plan(std::min(end, lastFrame), std::move(sentence));
    }
    pending_ = Pending{std::move(out.samples), 0, last};
    return true;
}

bool EngineCore::WritePending() {
    Pending& p = *pending_;
    const size_t room = dest_->Room();
    if (room == 0) return false;
    const size_t count = std::min({room, p.samples.size() - p.written, kMaxWriteFrames});
    const double gain = (current_->volume & 0xFFFFu) / 65535.0;
    const int16_t* frames = p.samples.data() + p.written;
    std::vector<int16_t> scaled;  // at full volume the samples go out as rendered
    if (gain < 1.0) {
        scaled.assign(frames, frames + count);
        for (int16_t& s : scaled) s = static_cast<int16_t>(std::lround(s * gain));
        frames = scaled.data();
    }
    if (const HRESULT hr = dest_->Write(frames, count); FAILED(hr)) {
        // The destination cannot take audio (disk full, server gone): the text ends
        // here, and whoever gave it learns why.
        pending_.reset();
        EndWithoutAudio(hr, dest_->LastError());
        return true;
    }
    p.written += count;
    current_->anyAudio = true;
    AddDueMarks();
    return true;
}

void EngineCore::FinishText() {
    if (!current_->anyAudio) {
        // A text without sound still gets its audio start and stop on the time line.
        const std::vector<int16_t> silence(rate_ / 50, 0);
        if (const HRESULT hr = dest_->Write(silence.data(), silence.size()); FAILED(hr)) {
            EndWithoutAudio(hr, dest_->LastError());
            return;
        }
    }
    const uint64_t written = dest_->WrittenFrames();
    AddDueMarks();
    dest_->EndOfData();
    const Event stop{Event::Kind::AudioStop, current_->sink, 0, {}, 0, 0, written - 1};
    if (!StopAfterCompletion(stop, std::nullopt)) {
        Plan(written - 1, stop);
        AddDueMarks();
    }
    current_.reset();
}

bool EngineCore::StopAfterCompletion(const Event& stop, std::optional<Event> failed) {
    // Another text follows into the same file.
    if (!queue_.empty()) return false;
    std::function<HRESULT()> completion = dest_->Completion();
    if (!completion) return false;
    // The file is drained, closed, synced and in place before the stop is told; on
    // this thread, after this step, never on the UI thread.
    SynthesisWorker::Instance().Post([events = events_, dest = dest_, gen = gen_.load(), stop,
                                      failed = std::move(failed),
                                      completion = std::move(completion)] {
        const HRESULT hr = completion();
        if (failed) {
            events->Emit(*failed, gen);
        } else if (FAILED(hr)) {
            Event failure{Event::Kind::Failed, stop.sink};
            failure.failure = hr;
            failure.description = dest->LastError();
            events->Emit(failure, gen);
        }
        events->Emit(stop, gen);
    });
    return true;
}

void EngineCore::EndWithoutAudio(HRESULT failure, std::string description) {
    // Nothing more will be heard of this text: report what is left of it now.
    for (Planned& p : planned_)
        if (p.event.kind == Event::Kind::AudioStart) events_->Emit(p.event, gen_);
    planned_.clear();
    std::optional<Event> failed;
    if (FAILED(failure)) {
        failed = Event{Event::Kind::Failed, current_->sink};
        failed->failure = failure;
        failed->description = description.empty() ? "The text could not be spoken" : description;
    }
    const Event stop{Event::Kind::AudioStop, current_->sink};
    if (!StopAfterCompletion(stop, failed)) {
        if (failed) events_->Emit(*failed, gen_);
        events_->Emit(stop, gen_);
    }
    current_.reset();
}

void EngineCore::Plan(uint64_t frame, Event event) {
    event.frame = frame;
    planned_.push_back(Planned{frame, std::move(event)});
}

void EngineCore::AddDueMarks() {
    const uint64_t written = dest_->WrittenFrames();
    const uint64_t gen = gen_;
    std::weak_ptr<EngineEvents> events = events_;
    IParlenAudioDest::Marks due;
    while (!planned_.empty() && planned_.front().frame < written) {
        Planned p = std::move(planned_.front());
        planned_.pop_front();
        due.emplace_back(p.frame, [events, gen, event = std::move(p.event)] {
            if (auto target = events.lock()) target->Emit(event, gen);
        });
    }
    if (due.empty()) return;
    // One lock of the destination's for the chunk; the marks a file runs at once
    // reach the UI thread together.
    events_->BeginBatch();
    try {
        dest_->AddMarks(std::move(due));
    } catch (...) {
        events_->EndBatch();
        throw;
    }
    events_->EndBatch();
}

#pragma once
// What an engine needs of an audio destination. Both destination classes (sound
// device and WAV file) answer this interface besides their public one; an engine
// asks the destination it is given at Select for it.
//
// Audio is 16-bit signed mono at the engine's rate. Frame counts run on from Open
// for the destination's whole life: texts follow each other on one time line, and
// Reset does not rewind them.
//
// Thread use: the synthesis worker calls Room, Write, WrittenFrames, AddMark and
// EndOfData; the UI thread calls Open, Pause, Resume and Reset, and HeardFrames and
// AddMark around a Resume. Implementations are
// thread-safe. Mark callbacks run on a thread of the destination's (or inside Write
// for the file) and must only queue work: never call back into the destination.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "speech/speech.h"

constexpr IID IID_IParlenAudioDest = MakeGuid(0x7A0C51E2, 0x2B44, 0x4F0B, 0x9C1E, 0x3D5F60718293);

struct IParlenAudioDest : IUnknown {
    // Sets the format and, for the sound device, starts connecting to the sound
    // server when not connected yet, without waiting for it. Idempotent for the same
    // rate. TTSERR_NOSOUNDSERVER when the server cannot be reached at once (no socket
    // at its address); a server found unreachable later fails the destination as a
    // lost one does. Either way the destination stays usable and retries on the
    // next Open.
    virtual HRESULT Open(unsigned sampleRate) = 0;
    // Frames that may be written now. The device keeps synthesis a bounded amount
    // ahead of what is heard; the file takes everything at full speed.
    virtual size_t Room() = 0;
    // Appends frames; never blocks for long. AUDERR_WRITEFAILED when they cannot be
    // taken (no file named, disk full, server gone).
    virtual HRESULT Write(const int16_t* frames, size_t count) = 0;
    // Frames accepted so far on the time line.
    virtual uint64_t WrittenFrames() = 0;
    // Frames heard so far on the time line (device: played; file: written). It
    // stands still while paused, so a mark one frame past it runs when audio is
    // heard again.
    virtual uint64_t HeardFrames() = 0;
    // Runs onHeard once frame `frame` has been heard (device: played; file:
    // written). Marks at or before the current position run at once; marks run in
    // order of their frames.
    virtual void AddMark(uint64_t frame, std::function<void()> onHeard) = 0;
    // The same for several marks (frame, onHeard) in order, at the cost of one.
    using Marks = std::vector<std::pair<uint64_t, std::function<void()>>>;
    virtual void AddMarks(Marks marks) {
        for (auto& [frame, onHeard] : marks) AddMark(frame, std::move(onHeard));
    }
    // Everything written so far is to be heard now, even when it is less than the
    // device's start threshold (end of a text).
    virtual void EndOfData() = 0;
    // Sound device: cork / uncork. Marks do not run while paused.
    virtual HRESULT Pause() = 0;
    virtual HRESULT Resume() = 0;
    // Drops audio not yet heard and pending marks (without running them).
    virtual HRESULT Reset() = 0;
    // Called (on any thread) whenever Room() may have grown, so a waiting worker
    // can continue.
    virtual void SetRoomCallback(std::function<void()> onRoom) = 0;
    // Text of the last failure, for error messages ("Connection refused", ...).
    virtual std::string LastError() = 0;
    // Called (on the destination's thread) when the destination fails by itself
    // rather than in a call (the sound server went away), with the code and text
    // Write reports from then on, before the marks that will never be heard run.
    // A destination whose failures all come from its calls never calls it.
    virtual void SetFailureCallback(std::function<void(HRESULT, const std::string&)> onFailure) {
        (void)onFailure;
    }
    // True when audio is taken as fast as it comes and never heard as it is written
    // (a file): a long text may then be rendered ahead, in parts, by several processes.
    virtual bool RendersAhead() { return false; }
    // True when the audio is encoded on a thread of its own that needs more processor
    // time than the synthesis does (a lossy format): render workers give way to it.
    virtual bool SlowEncoder() { return false; }
    // A text begins (before its first audio) with the voice's name: a file may name
    // itself after them.
    virtual void BeginText(std::string_view text, std::string_view voiceName) {
        (void)text;
        (void)voiceName;
    }

    // The last text queued is done, or the texts were cancelled: a destination that
    // writes a file hands over the file's completion (the encoder drained, the file
    // closed, synced and put in place), which the caller runs off the UI thread before
    // it reports the text's stop. Later audio goes into a file named anew. Empty when
    // there is nothing to complete; the call gives the failure's code, and LastError why.
    virtual std::function<HRESULT()> Completion() { return {}; }

  protected:
    ~IParlenAudioDest() = default;
};
PARLEN_INTERFACE_ID(IParlenAudioDest, IID_IParlenAudioDest);

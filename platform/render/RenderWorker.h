#pragma once
// A render worker: the process that ParallelRender forks for one segment of a long text.
// It renders the segment piece by piece, exactly as the engine would, into an unnamed
// spool file, and tells the engine through a pipe after each piece and at a failure.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/render/SpoolBudget.h"
#include "platform/voices/VoiceBackend.h"

static_assert(std::is_trivially_copyable_v<SynthEvent>, "events go through the spool as bytes");

// A rendered piece in the spool: this head, its events, then its samples.
struct SpoolHead {
    uint64_t begin;
    uint64_t end;
    uint64_t events;
    uint64_t samples;
    uint64_t pause;
};

// What a worker tells the engine besides its spool: a note after each piece, so that
// the engine wakes for it, and at a failure its mark, the code, then why in words.
constexpr char kWorkerPieceNote = 'p';
constexpr char kWorkerFailureMark = 'F';

// The worker process: renders segment (the index-th of the text) into spool, waiting on
// budget while the spools are full, and reports on report; never returns. With yield it
// gives way to the parent's own threads (an encoder).
[[noreturn]] void RunRenderWorker(VoiceBackend& voice, std::string_view text, TextPiece segment,
                                  size_t index, SpoolBudget& budget, const VoiceSettings& settings,
                                  int spool, const std::string& dir, int report, pid_t parent,
                                  bool yield);

#pragma once
// Renders a long text for a file in several worker processes at once. espeak-ng and
// flite keep process-global state, so each worker is a process forked from the
// synthesis worker's thread (the only thread that touches a synthesiser, so the
// child finds the engines in a consistent state).
//
// The text is cut into segments at piece ends, at paragraph ends where possible,
// else at sentence ends; the pieces inside a segment are exactly the pieces one
// process would render, so word offsets and piece joins stay the same. A worker
// renders its segment piece by piece into an unlinked spool file, and the engine
// reads the pieces back in text order as they arrive and writes them through its
// one destination, as if it had rendered them itself: progress, marks, Cancel and
// write failures take the same path. Up to `jobs` workers run at a time; a worker
// that dies or cannot write its spool ends the text with a failure. The spools hold at
// most a budget of bytes written and not yet read, at any count of workers: a worker
// waits while they are full, and the engine punches what it has read out of the files.
// When the file is encoded on a thread of its own that is the slower side, the workers
// run at a lower priority, so that the encoder always has a processor.
#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/render/SpoolBudget.h"
#include "platform/voices/VoiceBackend.h"

class ParallelRender {
  public:
    // Workers for a file render: the count set by SetJobs, else PARLEN_RENDER_JOBS,
    // else one per core this process may run on.
    static unsigned Jobs();
    // 0 goes back to the default.
    static void SetJobs(unsigned jobs);

    // What the spools may hold at a time by default, written and not yet read. They stay
    // below 256 MB: beyond the budget, the part being read may still write one piece.
    static constexpr uint64_t kSpoolBudget = uint64_t{224} << 20;
    // Renders planned from now on hold at most this much in their spools; 0 goes back to
    // the default.
    static void SetSpoolBudget(uint64_t bytes);
    // The most this render's spools held at a time, in bytes.
    uint64_t SpoolPeak() const { return budget_ ? budget_->Peak() : 0; }

    // The workers' niceness above the engine's while an encoder runs beside them.
    static constexpr int kYieldNice = 5;

    // Plans text's segments for jobs workers, and prepares the voice for them; nothing
    // when the text is too short to gain from more than one process. With yield, the
    // workers give way to this process's own threads (an encoder).
    static std::unique_ptr<ParallelRender> Plan(std::string_view text, VoiceBackend& voice,
                                                const VoiceSettings& settings, unsigned jobs,
                                                bool yield = false);
    ~ParallelRender();  // stops and reaps the workers still running
    ParallelRender(const ParallelRender&) = delete;
    ParallelRender& operator=(const ParallelRender&) = delete;

    enum class Result {
        Piece,   // piece and out hold the next piece, as rendered
        Wait,    // its worker has not rendered it yet (the call waited briefly for it)
        Here,    // no worker could be started for it: render it in this process
        Failed,  // the worker failed or died: Failure() and Why() say how
    };
    // The piece that begins at piece.begin (the text's cursor). Starts workers as
    // others finish. Synthesis worker's thread only; text and settings are the text's
    // own, as the workers see them.
    Result Next(VoiceBackend& voice, std::string_view text, const VoiceSettings& settings,
                TextPiece& piece, RenderedPiece& out);
    HRESULT Failure() const { return failure_; }
    const std::string& Why() const { return why_; }

  private:
    struct Segment {
        explicit Segment(TextPiece bounds) : range(bounds) {}
        TextPiece range;
        pid_t pid = -1;  // while running
        int spool = -1;
        int report = -1;  // read end of the worker's failure report
        uint64_t read = 0;
        uint64_t punched = 0;  // the spool holds no data before this
        bool launched = false;
        bool exited = false;
        bool here = false;
        int status = 0;
        std::string failure;  // what the worker reported, from its failure mark on
    };
    ParallelRender(unsigned jobs, bool yield) : jobs_(jobs), yield_(yield) {}
    void Launch(VoiceBackend& voice, std::string_view text, const VoiceSettings& settings,
                size_t index);
    void Reap(bool wait);
    // Reads a worker's notes; keeps its failure report.
    static void Drain(Segment& s);
    // Waits up to ms for a note from any running worker.
    void AwaitWorkers(int ms);
    Result Stopped(Segment& s);
    Result ReadPiece(Segment& s, TextPiece& piece, RenderedPiece& out);
    Result Fail(HRESULT code, std::string why);
    static void Close(Segment& s);

    unsigned jobs_;
    bool yield_;
    std::vector<Segment> segments_;
    std::unique_ptr<SpoolBudget> budget_;
    size_t current_ = 0;  // the segment being read
    HRESULT failure_ = S_OK;
    std::string why_;
};

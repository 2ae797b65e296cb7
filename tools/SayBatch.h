#pragma once
// parlen-say --out-dir: one book or many (files, or folders of them). Several are
// rendered by child processes (see SayBatchRun.h), up to --jobs of them at a time, each
// with its share of the --jobs render processes.
// Every output is written under a hidden name and renamed when whole, so a rerun after
// an interrupt or a crash skips what is finished (an output newer than its input) and
// redoes the rest. On a terminal one line per book stays current with the part done
// and the time left; otherwise each book gets plain log lines. A summary names every
// book that failed and why.
#include <functional>
#include <string>
#include <vector>

#include "tools/SayOptions.h"

// One book as the batch hands it to the renderer: its input, and its output (out, or
// with perChapter outDir) set; progress takes the share of it rendered, 0 to 1. The
// renderer sets interrupted when a signal stopped it, which ends the batch there.
// keepAfterNs: a chapter file already there and changed at or after this time (the
// input's) is finished and kept; -1 for none.
struct BookRun {
    Options options;
    std::string label;  // "[3/20] name", how lines about it begin
    std::function<void(double)> progress;
    bool interrupted = false;
    long long keepAfterNs = -1;
};
using SayOneBook = std::function<int(BookRun&)>;

// The books the inputs name: a folder gives its documents and text files (regular
// files, or links to them; not hidden ones, not its subfolders), in name order. EUsageError for a
// folder without any, and for "-" among other inputs.
std::vector<std::string> BatchBooks(const std::vector<std::string>& inputs);

// The name of a book's outputs: its file name without the extension ("speech" for
// standard input).
std::string BookStem(const std::string& input);

// Renders every book of o.inputs into o.outDir through say; 0 when all are rendered or
// were finished already, else kFailure after the summary.
int SayBatch(const Options& o, const SayOneBook& say);

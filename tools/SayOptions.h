#pragma once
// parlen-say's command line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/SayDocument.h"

inline constexpr int kUsageError = 2;
inline constexpr int kFailure = 1;
// The most render processes --jobs takes.
inline constexpr uint32_t kMaxJobs = 64;

struct Options {
    bool list = false;
    bool events = false;
    std::string voice;
    std::optional<uint32_t> pitch, speed, volume, jobs;
    std::string out;      // the audio file; empty: speak aloud
    std::string timings;  // the word timings' file, with out
    // --out-dir: the folder of the audio file (named after the input) or, with
    // perChapter, of a file per chapter; format is their extension.
    std::string outDir;
    std::string format = "wav";
    bool perChapter = false;
    // --split-minutes, --split-mb: the most a file of outDir may hold.
    std::optional<uint32_t> splitMinutes, splitMb;
    std::string input = "-";
    std::vector<std::string> inputs;  // every input named; with outDir, books (or folders)
    DocumentRequest document;
    std::vector<std::string> lexicons;  // --lexicon, in the order given
    bool userLexicons = true;
};

// True when o asks for the book in several files (--per-chapter, --split-*).
inline bool InParts(const Options& o) {
    return o.perChapter || o.splitMinutes || o.splitMb;
}

// Reads the command line into o; nothing when the program goes on, else its exit code
// after the help, the version or a message.
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

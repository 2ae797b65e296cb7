// parlen-say: speaks a text aloud or renders it into an audio file through the speech
// component, with its word timings if asked, or lists the installed voices with their
// probed ranges.
//
//   parlen-say [--list] [--voice NAME] [--pitch N] [--speed N] [--volume PERCENT]
//              [--out|--wav FILE [--timings FILE]] [--events] [--jobs N] [--help]
//              [--lexicon FILE]... [--no-user-lexicon] [--version] [--chapters]
//              [--only LIST] [--print-text] [--out-dir DIR [--format F] [--per-chapter]]
//              [FILE|-]
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "books/ReadAlongBook.h"
#include "books/Timings.h"
#include "lexicon/Store.h"
#include "platform/Apartment.h"
#include "platform/ApartmentLoop.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"
#include "support/Unicode.h"
#include "support/WholeFile.h"
#include "tools/SayBatch.h"
#include "tools/SayChapters.h"
#include "tools/SayInput.h"
#include "tools/SayOptions.h"
#include "tools/SaySignals.h"
#include "tools/SaySplit.h"

namespace {

// An engine reports at least every word while it speaks; this long without any report
// (before the start or after it) means it refused the text silently or got stuck.
constexpr std::chrono::milliseconds kSilenceTimeout{15000};
using Clock = std::chrono::steady_clock;

int List() {
    TMSpeech speech;
    if (!speech.Initialized()) {
        std::fprintf(stderr, "parlen-say: the speech service cannot be read\n");
        return kFailure;
    }
    // File output: probing needs no sound server.
    speech.SetOutput(soFile);
    int failures = 0;
    const TStrings& engines = speech.Engines();
    for (int i = 0; i < engines.LineCount(); ++i) {
        const std::string name = engines.LineAt(i);
        speech.SelectEngine(name);
        if (!speech.Selected()) {
            std::printf("%d\t%s\t(cannot be selected)\n", i, name.c_str());
            ++failures;
            continue;
        }
        const TMSpeechEngineInfo& info = speech.EngineInfo();
        std::printf("%d\t%s\t%s/%s\t%s\t%s\tpitch %u..%u\tspeed %u..%u\n", i, name.c_str(),
                    info.Manufacturer.c_str(), info.Product.c_str(), info.Dialect.c_str(),
                    info.Gender.c_str(), unsigned{info.PitchMin}, unsigned{info.PitchMax},
                    info.SpeedMin, info.SpeedMax);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "parlen-say: cannot write the list to standard output: %s\n",
                     std::strerror(errno));
        return kFailure;
    }
    if (engines.LineCount() == 0) std::fprintf(stderr, "parlen-say: no voices installed\n");
    if (failures > 0)
        std::fprintf(stderr, "parlen-say: %d voice(s) cannot be selected\n", failures);
    return engines.LineCount() > 0 && failures == 0 ? 0 : kFailure;
}

bool WriteTimings(const std::string& path, const std::string& content) {
    try {
        WriteWholeFile(path, content, "timings file");
        return true;
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        return false;
    }
}

// Writes what --chapters or --print-text asked for.
int Print(const std::string& printed) {
    if (std::fwrite(printed.data(), 1, printed.size(), stdout) != printed.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "parlen-say: cannot write to standard output: %s\n",
                     std::strerror(errno));
        return kFailure;
    }
    return 0;
}

// What a file render leaves for splitting it: the book's chapters placed on its audio.
struct Rendered {
    SayBook book;
    std::vector<containers::ChapterMark> chapters;
    std::vector<ParlenWordTime> marks;  // word starts and sentence ends
    uint32_t rate = 0;
    std::string text;  // as spoken
};

int Say(const Options& o, Rendered* rendered = nullptr, BookRun* run = nullptr) {
    std::optional<std::string> printed;
    SayBook book;
    std::string text = ReadSayInput(o.input, {o.out, o.timings}, o.document, printed, book);
    if (printed) return Print(*printed);

    TMSpeech speech;
    if (!speech.Initialized()) {
        std::fprintf(stderr, "parlen-say: the speech service cannot be read\n");
        return kFailure;
    }
    if (speech.Engines().LineCount() == 0) {
        std::fprintf(stderr, "parlen-say: no voices installed\n");
        return kFailure;
    }
    const std::string voice = o.voice.empty() ? speech.Engines().LineAt(0) : o.voice;
    if (speech.Engines().FindLine(voice) < 0) {
        std::fprintf(stderr, "parlen-say: unknown voice '%s' (parlen-say --list shows them)\n",
                     voice.c_str());
        return kFailure;
    }
    speech.SetOutput(o.out.empty() ? soGeneral : soFile);
    if (!o.out.empty()) speech.SetFilename(FileNameToUtf16(o.out));
    speech.SelectEngine(voice);
    if (!speech.Selected()) {
        std::fprintf(stderr, "parlen-say: the voice '%s' cannot be used\n", voice.c_str());
        return kFailure;
    }
    if (o.pitch) speech.SetPitch(static_cast<uint16_t>(*o.pitch));
    if (o.speed) speech.SetSpeed(*o.speed);
    if (o.volume) speech.SetVolume(*o.volume);

    int exitCode = 0;
    bool started = false;
    long long lastWord = -1;
    bool quit = false;
    const Clock::time_point begun = Clock::now();
    auto elapsedMs = [&] {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count());
    };
    // Restarted by every report; the loop below ends the run when it runs out.
    std::optional<Clock::time_point> watchdog;
    auto restartWatchdog = [&] { watchdog = Clock::now() + kSilenceTimeout; };
    // Why the text was stopped before its end (an interrupt, a reader that quit); empty
    // while it runs. The marks that come after that describe no audio in the file.
    std::string stoppedBy;
    auto silent = [&] {
        if (stoppedBy.empty())
            std::fprintf(stderr, started ? "parlen-say: the engine stopped reporting progress\n"
                                         : "parlen-say: the engine did not start speaking\n");
        exitCode = kFailure;
        quit = true;
    };
    // Stopped as Cancel stops it, from the loop rather than inside a notification.
    auto stop = [&](std::string why) {
        if (!stoppedBy.empty()) return;
        stoppedBy = std::move(why);
        restartWatchdog();
        Apartment::Post([&] {
            try {
                speech.Stop();
            } catch (const Exception& e) {
                std::fprintf(stderr, "parlen-say: %s\n", e.what());
                exitCode = kFailure;
                quit = true;
            }
        });
    };
    SaySignals interrupts([&](int signal) {
        if (run) run->interrupted = true;
        stop(std::string("interrupted by ") + SaySignals::Name(signal));
    });
    // Standard output that can no longer be written (its reader quit) ends the text.
    bool outputBroken = false;
    auto flushEvents = [&] {
        if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
        const int error = errno;
        std::clearerr(stdout);
        outputBroken = true;
        stop(std::string("cannot write the events to standard output: ") + std::strerror(error));
    };
    auto event = [&](const char* kind, uint32_t offset) {
        restartWatchdog();
        if (!o.events || outputBroken) return;
        std::printf("%lld %s %u\n", elapsedMs(), kind, offset);
        flushEvents();
    };
    speech.OnStart = [&](void*) {
        started = true;
        lastWord = -1;
        event("start", speech.WordPosition());
    };
    // Word starts and sentence ends, kept for the timings file and the chapter marks.
    std::vector<ParlenWordTime> marks;
    std::vector<containers::ChapterMark> chapters;
    // Kept for the timings, the chapter marks, and a render made into other files.
    const bool keepMarks = !o.timings.empty() || !book.chapters.empty() || rendered;
    const double textBytes = static_cast<double>(std::max<size_t>(text.size(), 1));
    uint32_t rate = 0;
    if (!o.out.empty()) {
        // A file renders faster than the word positions can be shown: every word comes
        // here, with its first sample as a fourth field.
        speech.OnWordTimes = [&](void*, std::span<const ParlenWordTime> words, uint32_t r) {
            restartWatchdog();
            if (!stoppedBy.empty()) return;
            if (keepMarks) {
                marks.insert(marks.end(), words.begin(), words.end());
                rate = r;
            }
            const long long elapsed = elapsedMs();
            for (const ParlenWordTime& w : words) {
                if (w.sentenceEnd) continue;
                lastWord = w.offset;
                if (o.events)
                    std::printf("%lld word %u %llu\n", elapsed, w.offset,
                                static_cast<unsigned long long>(w.frame));
            }
            if (o.events) flushEvents();
            if (run && run->progress && lastWord >= 0)
                run->progress(static_cast<double>(lastWord) / textBytes);
        };
    }
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        // A word already printed with its time is not printed again.
        const uint32_t word = speech.WordPosition();
        if (static_cast<long long>(word) != lastWord) {
            lastWord = word;
            event("word", word);
        }
        event("visual", word);
    };
    speech.OnStop = [&](void*) {
        event("stop", speech.WordPosition());
        watchdog.reset();
        quit = true;
    };
    // An error inside a notification ends the run with its message.
    Apartment::SetGuard([&](const Apartment::Call& call) {
        try {
            call();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
            exitCode = kFailure;
            quit = true;
        }
    });
    restartWatchdog();
    try {
        // Handed over as it is: the speech component keeps its own copy, and a long
        // text is then held once, unless the timings need it to name their words.
        speech.Speak(text);
        if (o.timings.empty() && !rendered) std::string().swap(text);
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.Message().c_str());
        Apartment::SetGuard(nullptr);
        return kFailure;
    }
    // The program's loop: notifications come through the apartment's descriptor,
    // interrupts through the signals' pipe, and the watchdog is the wait's limit.
    while (!quit) {
        pollfd fds[2] = {{ApartmentLoop::WakeDescriptor(), POLLIN, 0},
                         {interrupts.Descriptor(), POLLIN, 0}};
        int timeoutMs = -1;
        if (watchdog) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*watchdog - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(0, left.count()));
        }
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) {
            std::fprintf(stderr, "parlen-say: cannot wait for the engine: %s\n",
                         std::strerror(errno));
            exitCode = kFailure;
            break;
        }
        if (fds[1].revents != 0) interrupts.Deliver();
        if (fds[0].revents != 0) ApartmentLoop::RunQueued();
        if (!quit && watchdog && Clock::now() >= *watchdog) {
            watchdog.reset();
            silent();
        }
    }
    Apartment::SetGuard(nullptr);
    if (!stoppedBy.empty()) {
        // A stopped render leaves its partial file, as Cancel does, with the timings of
        // the words it holds.
        std::string kept;
        if (o.perChapter) {
            kept = "; no chapter's file is written";
        } else if (rendered || run) {
            // Made into other files, or renamed into place when whole: the hidden render goes.
            kept = "; no file is written";
        } else if (!o.out.empty() && exitCode == 0) {
            kept = "; '" + o.out + "' keeps the audio rendered so far";
            if (!MarkChapters(o.out, book, marks, rate, chapters))
                kept += ", without chapter marks";
            if (!o.timings.empty()) {
                const books::TimingsSource source{text, voice, rate, marks, false, chapters};
                if (!WriteTimings(o.timings,
                                  books::FormatTimings(*books::TimingsFormatOf(o.timings), source)))
                    kept += ", without its timings";
                else
                    kept += " and '" + o.timings + "' its timings";
            }
        } else if (o.out.empty()) {
            kept = "; the speech is stopped";
        }
        std::fprintf(stderr, "parlen-say: %s%s\n", stoppedBy.c_str(), kept.c_str());
        return kFailure;
    }
    // The audio stays whole, and its timings are written, when its marks cannot be.
    const bool marked =
        exitCode != 0 || o.out.empty() || MarkChapters(o.out, book, marks, rate, chapters);
    if (!o.timings.empty()) {
        // Timings of a render that did not complete would not match a whole text.
        if (exitCode != 0) {
            std::fprintf(stderr, "parlen-say: the timings file '%s' is not written\n",
                         o.timings.c_str());
            return kFailure;
        }
        const books::TimingsSource source{text, voice, rate, marks, true, chapters};
        if (!WriteTimings(o.timings,
                          books::FormatTimings(*books::TimingsFormatOf(o.timings), source)))
            return kFailure;
    }
    if (rendered)
        *rendered = {std::move(book), std::move(chapters), std::move(marks), rate, std::move(text)};
    return marked ? exitCode : kFailure;
}

// A hidden WAV file in dir for a render to be made into other files; empty, with the
// message printed, when it cannot be made.
std::string HiddenWav(const std::string& dir) {
    std::string why;
    std::string whole = books::HiddenRender(dir, why);
    if (whole.empty()) std::fprintf(stderr, "parlen-say: %s\n", why.c_str());
    return whole;
}

struct Remover {
    const std::string& path;
    ~Remover() { unlink(path.c_str()); }
};

// The whole book rendered under a hidden name in dir, then made into other files by
// make. Interrupts stop the making between stretches of audio rather than end the
// program with the hidden render left behind; unmade says what is then not written.
using Make = std::function<bool(const std::string& whole, const Rendered&,
                                const books::Making& making, std::string& why)>;
int SayThenMake(Options o, BookRun* run, const std::string& dir, const char* unmade,
                const Make& make) {
    const std::string whole = HiddenWav(dir);
    if (whole.empty()) return kFailure;
    Remover remover{whole};
    o.out = whole;
    Rendered rendered;
    const int code = Say(o, &rendered, run);
    if (code != 0) return code;
    SaySignals interrupts([](int) {});
    const books::Making making{[] { return SaySignals::Caught() != 0; }, {}};
    std::string why;
    if (make(whole, rendered, making, why)) return 0;
    if (!why.empty()) std::fprintf(stderr, "parlen-say: %s\n", why.c_str());
    if (const int signal = SaySignals::Caught()) {
        if (run) run->interrupted = true;
        std::fprintf(stderr, "parlen-say: interrupted by %s; %s\n", SaySignals::Name(signal),
                     unmade);
    }
    return kFailure;
}

// A file per chapter, or per part within the size asked, in the folder.
int SayInParts(const Options& o, BookRun* run = nullptr) {
    return SayThenMake(o, run, o.outDir, "the files finished before stay",
                       [&](const std::string& whole, const Rendered& r, const books::Making& making,
                           std::string& why) {
                           return WriteBookParts(whole, r.chapters, r.marks, r.rate, o, r.book.tags,
                                                 run ? run->keepAfterNs : -1, making, why);
                       });
}

// A read-along book, its render beside it.
int SayReadAlong(const Options& o, BookRun* run = nullptr) {
    const size_t slash = o.out.rfind('/');
    return SayThenMake(o, run, slash == std::string::npos ? "." : o.out.substr(0, slash),
                       "no read-along book is written",
                       [&](const std::string& whole, const Rendered& r, const books::Making& making,
                           std::string& why) {
                           const books::SpokenBook book{r.text,           r.marks, r.book.chapters,
                                                        r.chapters,       r.rate,  r.book.tags,
                                                        BookStem(o.input)};
                           return books::WriteReadAlongBook(whole, o.out, book, making, why);
                       });
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that quits shows as a failed write, reported, rather than killing the program.
    IgnoreBrokenPipes();
    Options options;
    if (const std::optional<int> done = ParseOptions(argc, argv, options)) return *done;
    CoInitialize(nullptr);
    RegisterSpeechService();
    if (options.jobs) SetRenderJobs(*options.jobs);
    int code = 0;
    try {
        lexicon::Store::Instance().UseUserLexicons(options.userLexicons);
        for (const std::string& file : options.lexicons)
            lexicon::Store::Instance().AddLexiconFile(file);
        if (options.list)
            code = List();
        else if (!options.outDir.empty())
            code = SayBatch(options, [](BookRun& run) {
                // A book rendered in a child process of the batch waits on a wake-up
                // descriptor of its own, not the one it shares with its siblings.
                CoUninitialize();
                CoInitialize(nullptr);
                if (run.options.jobs) SetRenderJobs(*run.options.jobs);
                if (InParts(run.options)) return SayInParts(run.options, &run);
                if (books::IsReadAlongName(run.options.out)) return SayReadAlong(run.options, &run);
                return Say(run.options, nullptr, &run);
            });
        else if (books::IsReadAlongName(options.out))
            code = SayReadAlong(options);
        else
            code = Say(options);
    } catch (const EUsageError& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        code = kUsageError;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "parlen-say: not enough memory for the text\n");
        code = kFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        code = kFailure;
    }
    CoUninitialize();
    return code;
}

// parlen-say: speaks a text aloud or renders it into a WAV file through the speech
// component, or lists the installed voices with their probed ranges.
//
//   parlen-say [--list] [--voice NAME] [--pitch N] [--speed N] [--volume PERCENT]
//              [--wav FILE] [--events] [FILE|-]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/service/SpeechService.h"
#include "speech/mSpeech.h"
#include "support/Errors.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kFailure = 1;
// An engine reports at least every word while it speaks; this long without any report
// (before the start or after it) means it refused the text silently or got stuck.
constexpr int kSilenceTimeoutMs = 15000;

struct Options {
    bool list = false;
    bool events = false;
    std::string voice;
    std::optional<uint32_t> pitch, speed, volume;
    std::string wav;
    std::string input = "-";
};

void Usage(FILE* out) {
    std::fputs(
        "usage: parlen-say [--list] [--voice NAME] [--pitch N] [--speed N] [--volume PERCENT]\n"
        "                  [--wav FILE] [--events] [FILE|-]\n"
        "  --list      list the voices: index, name, engine, dialect, gender, pitch and\n"
        "              speed ranges\n"
        "  --voice     voice to use (letter case ignored); default: the first listed\n"
        "  --pitch, --speed  engine units (see --list); --volume 0..100\n"
        "  --wav       render into this WAV file instead of speaking aloud\n"
        "  --events    print each notification: milliseconds, kind, word offset\n"
        "  FILE        text to speak; '-' or nothing reads standard input\n",
        out);
}

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Returns 0 when the options are good, else the exit code (after a message).
int ParseOptions(int argc, char** argv, Options& o) {
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "parlen-say: %s needs a value\n", name);
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        auto number = [&](const char* name, uint32_t max, std::optional<uint32_t>& out) {
            auto v = value(name);
            uint32_t n = 0;
            if (!v) return false;
            if (!ParseNumber(*v, max, n)) {
                std::fprintf(stderr, "parlen-say: %s wants a whole number from 0 to %u, not '%s'\n",
                             name, max, v->c_str());
                return false;
            }
            out = n;
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--events") {
            o.events = true;
        } else if (arg == "--voice") {
            auto v = value("--voice");
            if (!v) return kUsageError;
            o.voice = *v;
        } else if (arg == "--pitch") {
            if (!number("--pitch", 65535, o.pitch)) return kUsageError;
        } else if (arg == "--speed") {
            if (!number("--speed", 4294967295u, o.speed)) return kUsageError;
        } else if (arg == "--volume") {
            if (!number("--volume", 100, o.volume)) return kUsageError;
        } else if (arg == "--wav") {
            auto v = value("--wav");
            if (!v) return kUsageError;
            if (v->empty()) {
                std::fprintf(stderr, "parlen-say: --wav needs a file name\n");
                return kUsageError;
            }
            o.wav = *v;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "parlen-say: unknown option '%s'\n", arg.c_str());
            Usage(stderr);
            return kUsageError;
        } else if (haveInput) {
            std::fprintf(stderr, "parlen-say: only one input file, not also '%s'\n", arg.c_str());
            return kUsageError;
        } else {
            o.input = arg;
            haveInput = true;
        }
    }
    return 0;
}

// Reads the whole input; false (after a message) when it cannot be read.
bool ReadInput(const std::string& name, std::string& bytes) {
    if (name == "-") {
        std::ostringstream all;
        all << std::cin.rdbuf();
        bytes = all.str();
        return true;
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "parlen-say: cannot read '%s': %s\n", name.c_str(),
                     std::strerror(errno));
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "parlen-say: cannot read '%s': %s\n", name.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Lines split on CR LF or LF; a final break does not start another line.
void SplitLines(const std::string& bytes, TStrings& lines) {
    lines.ClearLines();
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        size_t cut = end;
        if (lf != std::string::npos && cut > start && bytes[cut - 1] == '\r') --cut;
        lines.AppendLine(bytes.substr(start, cut - start));
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
}

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
    if (engines.LineCount() == 0) std::fprintf(stderr, "parlen-say: no voices installed\n");
    if (failures > 0)
        std::fprintf(stderr, "parlen-say: %d voice(s) cannot be selected\n", failures);
    return engines.LineCount() > 0 && failures == 0 ? 0 : kFailure;
}

int Say(QCoreApplication& app, const Options& o) {
    std::string bytes;
    if (!ReadInput(o.input, bytes)) return kFailure;

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
    speech.SetOutput(o.wav.empty() ? soGeneral : soFile);
    if (!o.wav.empty()) speech.SetFilename(QString::fromLocal8Bit(o.wav).toStdU16String());
    speech.SelectEngine(voice);
    if (!speech.Selected()) {
        std::fprintf(stderr, "parlen-say: the voice '%s' cannot be used\n", voice.c_str());
        return kFailure;
    }
    if (o.pitch) speech.SetPitch(static_cast<uint16_t>(*o.pitch));
    if (o.speed) speech.SetSpeed(*o.speed);
    if (o.volume) speech.SetVolume(*o.volume);
    SplitLines(bytes, speech.Text());

    int exitCode = 0;
    bool started = false;
    long long lastWord = -1;
    QElapsedTimer clock;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(kSilenceTimeoutMs);
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        std::fprintf(stderr, started ? "parlen-say: the engine stopped reporting progress\n"
                                     : "parlen-say: the engine did not start speaking\n");
        exitCode = kFailure;
        app.quit();
    });
    auto event = [&](const char* kind, uint32_t offset) {
        watchdog.start();
        if (!o.events) return;
        std::printf("%lld %s %u\n", static_cast<long long>(clock.elapsed()), kind, offset);
        std::fflush(stdout);
    };
    speech.OnStart = [&](void*) {
        started = true;
        lastWord = -1;
        event("start", speech.WordPosition());
    };
    speech.OnVisual = [&](void*, uint32_t, PTTSMOUTH) {
        const uint32_t word = speech.WordPosition();
        if (static_cast<long long>(word) != lastWord) {
            lastWord = word;
            event("word", word);
        }
        event("visual", word);
    };
    speech.OnStop = [&](void*) {
        event("stop", speech.WordPosition());
        app.quit();
    };
    // An error inside a notification ends the run with its message.
    Apartment::SetGuard([&](const Apartment::Call& call) {
        try {
            call();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
            exitCode = kFailure;
            app.quit();
        }
    });
    clock.start();
    watchdog.start();
    try {
        speech.Speak();
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.Message().c_str());
        Apartment::SetGuard(nullptr);
        return kFailure;
    }
    app.exec();
    Apartment::SetGuard(nullptr);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options options;
    if (int bad = ParseOptions(argc, argv, options)) return bad;
    CoInitialize(nullptr);
    RegisterSpeechService();
    int code = 0;
    try {
        code = options.list ? List() : Say(app, options);
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

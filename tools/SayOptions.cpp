#include "tools/SayOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

#include "support/Errors.h"
#include "support/VersionInfo.h"
#include "tools/SayInput.h"
#include "tools/SayTimings.h"

namespace {

// Arguments are taken byte for byte: Latin-1 maps every byte to one character and back,
// so voice and file names in any encoding survive, while the option names (ASCII) parse
// as usual.
QString FromBytes(const char* bytes) {
    return QString::fromLatin1(bytes);
}
std::string ToBytes(const QString& text) {
    return text.toLatin1().toStdString();
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

// The window's title shows the same two values of the program's version block.
int PrintVersion() {
    TVersionInfo info;
    try {
        const std::string product = info.ProductName(), version = info.ProductVersion();
        std::printf("parlen-say (%s) %s\n", product.c_str(), version.c_str());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: the version cannot be read: %s\n", e.what());
        return kFailure;
    }
}

}  // namespace

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Speaks a text aloud or renders it into an audio file, or lists the installed voices.");
    // Not Qt's own help option: that one also offers Qt's options, which are not read here.
    const QCommandLineOption help({"h", "help"}, "Display this help.");
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption list(
        "list", "List the voices: index, name, engine, dialect, gender, pitch and speed ranges.");
    const QCommandLineOption voice(
        "voice", "Voice to use (letter case ignored); default: the first listed.", "NAME");
    const QCommandLineOption pitch("pitch", "Pitch in engine units (see --list).", "N");
    const QCommandLineOption speed("speed", "Speed in engine units (see --list).", "N");
    const QCommandLineOption volume("volume", "Volume from 0 to 100.", "PERCENT");
    const QCommandLineOption out(
        {"out", "wav"},
        "Render into this file instead of speaking aloud: its extension names the format "
        "(.wav, .flac, .ogg or .oga for Vorbis, .opus, .mp3; WAV for any other).",
        "FILE");
    const QCommandLineOption timings(
        "timings",
        "With --out: write every word's start and every sentence in this file, as "
        ".vtt (WebVTT), .srt (SubRip) or .json by its extension. Not written when the "
        "render fails; an interrupted render (Ctrl+C) gets those of the audio it kept.",
        "FILE");
    const QCommandLineOption events("events",
                                    "Print each notification: milliseconds, kind, word offset.");
    const QCommandLineOption jobs(
        "jobs",
        "Processes that render a long text into a file at once; default: PARLEN_RENDER_JOBS, "
        "else one per core. 1 renders in this process only.",
        "N");
    parser.addOptions({list, voice, pitch, speed, volume, out, timings, events, jobs});
    parser.addPositionalArgument(
        "FILE",
        QString("Text to speak; '-' or nothing reads standard input. Input that is not a "
                "regular file (a pipe, a device) is read up to %1 MiB. NUL bytes are read "
                "as blanks.")
            .arg(kStreamInputLimit >> 20),
        "[FILE|-]");

    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << FromBytes(argv[i]);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "parlen-say: %s\n%s", ToBytes(parser.errorText()).c_str(),
                     ToBytes(parser.helpText()).c_str());
        return kUsageError;
    }
    if (parser.isSet(help)) {
        std::fputs(ToBytes(parser.helpText()).c_str(), stdout);
        return 0;
    }
    if (parser.isSet(version)) return PrintVersion();

    o.list = parser.isSet(list);
    o.events = parser.isSet(events);
    if (parser.isSet(voice)) o.voice = ToBytes(parser.value(voice));
    struct Number {
        const QCommandLineOption& option;
        uint32_t min, max;
        std::optional<uint32_t>& value;
    };
    for (const Number& n :
         {Number{pitch, 0, 65535, o.pitch}, Number{speed, 0, 4294967295u, o.speed},
          Number{volume, 0, 100, o.volume}, Number{jobs, 1, kMaxJobs, o.jobs}}) {
        if (!parser.isSet(n.option)) continue;
        const std::string text = ToBytes(parser.value(n.option));
        uint32_t value = 0;
        if (!ParseNumber(text, n.max, value) || value < n.min) {
            std::fprintf(stderr, "parlen-say: --%s wants a whole number from %u to %u, not '%s'\n",
                         ToBytes(n.option.names().constFirst()).c_str(), n.min, n.max,
                         text.c_str());
            return kUsageError;
        }
        n.value = value;
    }
    if (parser.isSet(out)) {
        o.out = ToBytes(parser.value(out));
        if (o.out.empty()) {
            std::fprintf(stderr, "parlen-say: --out needs a file name\n");
            return kUsageError;
        }
    }
    if (parser.isSet(timings)) {
        o.timings = ToBytes(parser.value(timings));
        if (o.out.empty()) {
            std::fprintf(stderr,
                         "parlen-say: --timings needs --out: timings come from a file render\n");
            return kUsageError;
        }
        if (!TimingsFormatOf(o.timings)) {
            std::fprintf(stderr,
                         "parlen-say: the timings file '%s' must end in .vtt, .srt or .json\n",
                         o.timings.c_str());
            return kUsageError;
        }
    }
    if (o.out == "-" && o.events) {
        std::fprintf(stderr,
                     "parlen-say: --events and --out - would both write to standard output\n");
        return kUsageError;
    }
    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() > 1) {
        std::fprintf(stderr, "parlen-say: only one input file, not also '%s'\n",
                     ToBytes(inputs.at(1)).c_str());
        return kUsageError;
    }
    if (!inputs.isEmpty()) o.input = ToBytes(inputs.front());
    return std::nullopt;
}

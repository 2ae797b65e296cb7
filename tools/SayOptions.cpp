#include "tools/SayOptions.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "support/Errors.h"
#include "support/VersionBlock.h"
#include "support/VersionSource.h"
#include "tools/SayInput.h"
#include "tools/SayTimings.h"

namespace {

// One option of the command line. Arguments are taken byte for byte, so voice and file
// names in any encoding survive.
struct Option {
    Option(std::vector<std::string> n, std::string v, std::string d)
        : names(std::move(n)), value(std::move(v)), description(std::move(d)) {}
    std::vector<std::string> names;  // a one-letter name is written -x, others --name
    std::string value;               // the value's name; empty: the option takes none
    std::string description;
    bool set = false;
    std::string given;             // the last value given
    std::vector<std::string> all;  // every value given, in order
};

std::string Dashed(const std::string& name) {
    return (name.size() == 1 ? "-" : "--") + name;
}

// "  -h, --help      Display this help.", descriptions wrapped at 79 columns.
void AppendEntry(std::string& out, const std::string& left, const std::string& text,
                 size_t column) {
    std::string line = "  " + left;
    line.resize(std::max(line.size() + 2, column), ' ');
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.size();
        if (line.size() + (end - at) > 79) {
            end = text.rfind(' ', at + (79 - line.size()));
            if (end == std::string::npos || end <= at) end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
        }
        out += line + text.substr(at, end - at) + "\n";
        line.assign(column, ' ');
        at = end < text.size() ? end + 1 : end;
    }
}

struct Parser {
    std::string program, description, argument, argumentSyntax, argumentText;
    std::vector<Option*> options;

    Option* Find(std::string_view name) const {
        for (Option* o : options)
            for (const std::string& n : o->names)
                if (n == name) return o;
        return nullptr;
    }

    std::string Help() const {
        std::vector<std::string> lefts;
        size_t column = 0;
        for (const Option* o : options) {
            std::string left;
            for (const std::string& n : o->names) left += (left.empty() ? "" : ", ") + Dashed(n);
            if (!o->value.empty()) left += " <" + o->value + ">";
            column = std::max(column, left.size() + 4);
            lefts.push_back(left);
        }
        column = std::max(column, argument.size() + 4);
        std::string out = "Usage: " + program + " [options] " + argumentSyntax + "\n" +
                          description + "\n\nOptions:\n";
        for (size_t i = 0; i < options.size(); ++i)
            AppendEntry(out, lefts[i], options[i]->description, column);
        out += "\nArguments:\n";
        AppendEntry(out, argument, argumentText, column);
        return out;
    }

    // Fills the options and the positional arguments; an error text when the command
    // line is not understood.
    std::optional<std::string> Parse(int argc, char** argv, std::vector<std::string>& positional) {
        bool optionsEnd = false;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-') {
                positional.push_back(arg);
            } else if (arg == "--") {
                optionsEnd = true;
            } else if (arg.starts_with("--")) {
                const size_t eq = arg.find('=');
                const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
                Option* o = name.size() > 1 ? Find(name) : nullptr;
                if (!o) return "Unknown option '" + name + "'.";
                if (o->value.empty() && eq != std::string::npos)
                    return "Unexpected value after '--" + name + "'.";
                o->set = true;
                if (o->value.empty()) continue;
                if (eq != std::string::npos) {
                    o->given = arg.substr(eq + 1);
                    o->all.push_back(o->given);
                } else if (i + 1 < argc) {
                    o->given = argv[++i];
                    o->all.push_back(o->given);
                } else {
                    return "Missing value after '--" + name + "'.";
                }
            } else {
                // Letters written together, -hv, are each an option of their own.
                for (char c : arg.substr(1)) {
                    Option* o = Find(std::string(1, c));
                    if (!o) return "Unknown option '" + std::string(1, c) + "'.";
                    o->set = true;
                }
            }
        }
        return std::nullopt;
    }
};

// The window's title shows the same two values of the program's version block.
int PrintVersion() {
    const std::string path = OwnExecutablePath();
    std::string bytes;
    if (ReadVersionBlock(path, bytes) == TBlockSearch::kFound) {
        const TVersionBlock block(bytes);
        const std::optional<std::vector<uint32_t>> table = block.Translations();
        if (table && !table->empty()) {
            char prefix[40];
            std::snprintf(prefix, sizeof prefix, "StringFileInfo\\%.4X%.4X\\",
                          table->front() & 0xFFFF, table->front() >> 16);
            const auto product = block.Text(std::string(prefix) + "ProductName");
            const auto version = block.Text(std::string(prefix) + "ProductVersion");
            std::printf("parlen-say (%s) %s\n", product.value_or("").c_str(),
                        version.value_or("").c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "parlen-say: the version cannot be read from '%s'\n", path.c_str());
    return kFailure;
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

}  // namespace

// --out-dir, --format and --per-chapter, which go together and never with --out or
// --timings.
std::optional<int> ReadOutDir(const Option& outDir, const Option& format, const Option& perChapter,
                              const Option& out, const Option& timings, Options& o) {
    const auto wrong = [](const std::string& why) {
        std::fprintf(stderr, "parlen-say: %s\n", why.c_str());
        return std::optional<int>(kUsageError);
    };
    if (!outDir.set) {
        if (format.set || perChapter.set)
            return wrong(std::string("--") + (format.set ? "format" : "per-chapter") +
                         " needs --out-dir");
        return std::nullopt;
    }
    if (out.set || timings.set)
        return wrong(std::string("--out-dir takes no --") + (out.set ? "out" : "timings"));
    if (outDir.given.empty()) return wrong("--out-dir needs a folder");
    o.outDir = outDir.given;
    o.perChapter = o.document.perChapter = perChapter.set;
    if (format.set) {
        o.format = format.given;
        if (o.format != "mp3" && o.format != "ogg" && o.format != "opus" && o.format != "flac" &&
            o.format != "m4b" && o.format != "epub" && o.format != "wav")
            return wrong("--format is mp3, ogg, opus, flac, m4b, epub or wav, not '" + o.format +
                         "'");
        if (o.format == "epub" && perChapter.set)
            return wrong("--format epub is one book of chapters: it takes no --per-chapter");
    }
    return std::nullopt;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
    Option help{{"h", "help"}, "", "Display this help."};
    Option version{{"v", "version"}, "", "Displays version information."};
    Option list{{"list"},
                "",
                "List the voices: index, name, engine, dialect, gender, pitch and speed ranges."};
    Option voice{
        {"voice"}, "NAME", "Voice to use (letter case ignored); default: the first listed."};
    Option pitch{{"pitch"}, "N", "Pitch in engine units (see --list)."};
    Option speed{{"speed"}, "N", "Speed in engine units (see --list)."};
    Option volume{{"volume"}, "PERCENT", "Volume from 0 to 100."};
    Option out{
        {"out", "wav"},
        "FILE",
        "Render into this file instead of speaking aloud: its extension names the format "
        "(.wav, .flac, .ogg or .oga for Vorbis, .opus, .mp3, .m4b, .epub for a read-along book "
        "of text and audio; WAV for any other)."};
    Option timings{{"timings"},
                   "FILE",
                   "With --out: write every word's start and every sentence in this file, as "
                   ".vtt (WebVTT), .srt (SubRip) or .json by its extension. Not written when the "
                   "render fails; an interrupted render (Ctrl+C) gets those of the audio it kept."};
    Option outDir{{"out-dir"},
                  "DIR",
                  "Render into this folder instead: a file named after each input, or with "
                  "--per-chapter a file per chapter of a document, \"NN Title\" (in a folder "
                  "per book when there are several). Takes several inputs, and folders of "
                  "documents and .txt files; a book whose file (or files) is newer than the "
                  "book is skipped, so a rerun after an interrupt resumes."};
    Option format{
        {"format"},
        "FORMAT",
        "With --out-dir: mp3, ogg, opus, flac, m4b, epub (a read-along book) or wav (default)."};
    Option perChapter{{"per-chapter"},
                      "",
                      "With --out-dir: a file per chapter (with --only, per chosen chapter), "
                      "tagged with its track number."};
    Option splitMinutes{{"split-minutes"},
                        "N",
                        "With --out-dir: files of at most N minutes, cut at the last chapter "
                        "start before the limit, or at a sentence end inside a longer chapter."};
    Option splitMb{
        {"split-mb"}, "N", "With --out-dir: files of at most N MB (10^6 bytes), cut alike."};
    Option events{{"events"}, "", "Print each notification: milliseconds, kind, word offset."};
    Option jobs{{"jobs"},
                "N",
                "Processes that render a long text into a file at once; default: "
                "PARLEN_RENDER_JOBS, else one per core. 1 renders in this process only."};
    Option lexiconFile{{"lexicon"},
                       "FILE",
                       "Apply this pronunciation lexicon (.pls) too; may be given more than once."};
    Option noUserLexicon{{"no-user-lexicon"},
                         "",
                         "Do not apply the user's own lexicons (~/.config/parlenmaker/lexicons)."};
    Option chapters{{"chapters"},
                    "",
                    "List the chapters of a document: number, level, kind (body, front, back), "
                    "words, title."};
    Option only{{"only"},
                "LIST",
                "Speak or render only these chapters of a document, e.g. 3-7,9 (numbers as "
                "--chapters shows them)."};
    Option printText{{"print-text"},
                     "",
                     "Write the text to standard output instead of speaking it: a document as "
                     "imported (with --only, those chapters), a text file as it is."};
    const std::string program = argc > 0 && argv[0] ? argv[0] : "parlen-say";
    Parser parser{
        program.substr(program.rfind('/') + 1),
        "Speaks a text aloud or renders it into an audio file, or lists the installed voices.",
        "FILE",
        "[FILE|-] | --out-dir DIR FILE|FOLDER...",
        "Text to speak; '-' or nothing reads standard input. A name ending in .epub, .pdf, "
        ".docx, .odt, .html, .htm, .xhtml, .md or .markdown is read as that document. Input "
        "that is not a regular file (a pipe, a device) is read up to " +
            std::to_string(kStreamInputLimit >> 20) + " MiB. NUL bytes are read as blanks.",
        {&help,   &version, &list,        &voice,         &pitch,      &speed,        &volume,
         &out,    &timings, &outDir,      &format,        &perChapter, &splitMinutes, &splitMb,
         &events, &jobs,    &lexiconFile, &noUserLexicon, &chapters,   &only,         &printText}};

    std::vector<std::string> inputs;
    if (const std::optional<std::string> error = parser.Parse(argc, argv, inputs)) {
        std::fprintf(stderr, "parlen-say: %s\n%s", error->c_str(), parser.Help().c_str());
        return kUsageError;
    }
    if (help.set) {
        std::fputs(parser.Help().c_str(), stdout);
        return 0;
    }
    if (version.set) return PrintVersion();

    o.list = list.set;
    o.lexicons = lexiconFile.all;
    o.userLexicons = !noUserLexicon.set;
    o.events = events.set;
    o.document.listChapters = chapters.set;
    o.document.printText = printText.set;
    if (only.set) {
        o.document.only = only.given;
        if (o.document.only.empty()) {
            std::fprintf(stderr, "parlen-say: --only needs chapter numbers, e.g. 3-7,9\n");
            return kUsageError;
        }
    }
    if ((chapters.set || printText.set) && (out.set || list.set || outDir.set)) {
        std::fprintf(stderr, "parlen-say: --%s prints instead of speaking: it takes no --%s\n",
                     chapters.set ? "chapters" : "print-text",
                     out.set    ? "out"
                     : list.set ? "list"
                                : "out-dir");
        return kUsageError;
    }
    if (voice.set) o.voice = voice.given;
    struct Number {
        const Option& option;
        uint32_t min, max;
        std::optional<uint32_t>& value;
    };
    for (const Number& n :
         {Number{pitch, 0, 65535, o.pitch}, Number{speed, 0, 4294967295u, o.speed},
          Number{volume, 0, 100, o.volume}, Number{jobs, 1, kMaxJobs, o.jobs},
          Number{splitMinutes, 1, 100000, o.splitMinutes}, Number{splitMb, 1, 100000, o.splitMb}}) {
        if (!n.option.set) continue;
        const std::string& text = n.option.given;
        uint32_t value = 0;
        if (!ParseNumber(text, n.max, value) || value < n.min) {
            std::fprintf(stderr, "parlen-say: --%s wants a whole number from %u to %u, not '%s'\n",
                         n.option.names.front().c_str(), n.min, n.max, text.c_str());
            return kUsageError;
        }
        n.value = value;
    }
    if (out.set) {
        o.out = out.given;
        if (o.out.empty()) {
            std::fprintf(stderr, "parlen-say: --out needs a file name\n");
            return kUsageError;
        }
    }
    if (timings.set) {
        o.timings = timings.given;
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
    if (std::optional<int> wrong = ReadOutDir(outDir, format, perChapter, out, timings, o))
        return wrong;
    if ((splitMinutes.set || splitMb.set) && o.format == "epub") {
        std::fprintf(stderr, "parlen-say: --format epub is one book: it takes no --split-*\n");
        return kUsageError;
    }
    if ((splitMinutes.set || splitMb.set) && o.outDir.empty()) {
        std::fprintf(stderr, "parlen-say: --split-%s needs --out-dir\n",
                     splitMinutes.set ? "minutes" : "mb");
        return kUsageError;
    }
    if (o.out == "-" && o.events) {
        std::fprintf(stderr,
                     "parlen-say: --events and --out - would both write to standard output\n");
        return kUsageError;
    }
    if (inputs.size() > 1 && o.outDir.empty()) {
        std::fprintf(stderr,
                     "parlen-say: only one input file, not also '%s' (several go with --out-dir)\n",
                     inputs.at(1).c_str());
        return kUsageError;
    }
    if (!inputs.empty()) o.input = inputs.front();
    o.inputs = inputs.empty() ? std::vector<std::string>{"-"} : inputs;
    return std::nullopt;
}

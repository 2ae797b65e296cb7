#include "platform/voices/EspeakVoice.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <set>

#include "platform/voices/EspeakRules.h"
#include "platform/voices/EspeakVoiceCache.h"
#include "platform/voices/Visemes.h"
#include "support/PhonemeMarks.h"

namespace {
unsigned& Rate() {
    static unsigned rate = 0;
    return rate;
}

// What espeak-ng was last set to. Setting a voice reads its files and the language's
// dictionary again, so it happens only when the voice or its settings change; several
// voice objects share the one engine, so this is the engine's, not an object's.
struct AppliedVoice {
    std::string identifier;
    VoiceSettings settings;
};
std::optional<AppliedVoice>& Applied() {
    static std::optional<AppliedVoice> applied;
    return applied;
}

// espeak-ng looks a voice up by its file name in lower case, so a name with capitals
// (gmw/en-US) is found only by reading every voice file, a quarter of a one-word
// render. Handed the file itself, under the lower-case name of a descriptor, it loads
// that file alone, the same way.
bool SetVoice(const std::string& identifier) {
    if (std::any_of(identifier.begin(), identifier.end(),
                    [](unsigned char c) { return c >= 'A' && c <= 'Z'; })) {
        const char* data = nullptr;
        espeak_Info(&data);
        for (const char* folder : {"/voices/", "/lang/"}) {
            if (!data) break;
            const int fd = ::open((std::string(data) + folder + identifier).c_str(),
                                  O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd < 0) continue;
            const std::string path = "/proc/self/fd/" + std::to_string(fd);
            const bool set = espeak_SetVoiceByFile(path.c_str()) == EE_OK;
            ::close(fd);
            if (set) return true;
            break;
        }
    }
    return espeak_SetVoiceByName(identifier.c_str()) == EE_OK;
}

bool Apply(const std::string& identifier, const VoiceSettings& settings) {
    std::optional<AppliedVoice>& applied = Applied();
    if (applied && applied->identifier == identifier && applied->settings.speed == settings.speed &&
        applied->settings.pitch == settings.pitch)
        return true;
    applied.reset();  // a failure below leaves espeak-ng in a state we do not know
    if (!SetVoice(identifier)) return false;
    if (espeak_SetParameter(espeakRATE, static_cast<int>(settings.speed), 0) != EE_OK ||
        espeak_SetParameter(espeakPITCH, settings.pitch, 0) != EE_OK ||
        espeak_SetParameter(espeakVOLUME, 100, 0) != EE_OK)
        return false;
    applied = AppliedVoice{identifier, settings};
    return true;
}

// Pauses measured per voice, separator and speed, kept for the process: every engine
// object of the same voice finds them measured.
std::map<std::string, size_t>& Pauses() {
    static std::map<std::string, size_t> pauses;
    return pauses;
}

std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

// What one Render call collects from espeak-ng's callback.
struct RenderContext {
    const Utf8Piece* utf8;
    TextPiece piece;
    const std::vector<uint32_t>* wordStarts;
    const std::function<bool()>* aborted;
    RenderedPiece* out;
    unsigned rate;
    TTSMOUTH mouth;
    bool outOfMemory = false;
};

uint64_t FrameOf(const espeak_EVENT& e, unsigned rate) {
    return static_cast<uint64_t>(std::max(0, e.audio_position)) * rate / 1000;
}

void OnEvent(RenderContext& ctx, const espeak_EVENT& e) {
    auto& events = ctx.out->events;
    if (e.type == espeakEVENT_WORD) {
        // 1-based code-point positions; 0 comes with words espeak-ng makes up itself.
        if (e.text_position <= 0 || ctx.wordStarts->empty()) return;
        const auto& cps = ctx.utf8->codePointStart;
        const size_t index =
            std::min<size_t>(static_cast<size_t>(e.text_position - 1), cps.size() - 1);
        const auto byte = static_cast<uint32_t>(ctx.piece.begin + cps[index]);
        events.push_back(SynthEvent{SynthEvent::Kind::Word,
                                    FrameOf(e, ctx.rate),
                                    WordStartAtOrBefore(*ctx.wordStarts, byte),
                                    {},
                                    0});
    } else if (e.type == espeakEVENT_PHONEME) {
        const std::string_view name(e.id.string, strnlen(e.id.string, sizeof e.id.string));
        const TTSMOUTH mouth = MouthForPhoneme(name);
        if (SameMouth(mouth, ctx.mouth)) return;
        ctx.mouth = mouth;
        events.push_back(SynthEvent{SynthEvent::Kind::Mouth, FrameOf(e, ctx.rate), 0, mouth,
                                    name.empty() ? '\0' : name.front()});
    }
}

// A piece that holds a lexicon's phonemes, for espeak-ng's phoneme input: its marks
// become "[[" and "]]", and a "[[" of the user's own gets a zero-width space between
// its brackets, so that it stays text and sounds as it does without phoneme input.
// Only pieces that hold a lexicon's phonemes are read with phoneme input at all. The added
// characters map to the byte they stand beside.
bool WithPhonemeInput(Utf8Piece& utf8) {
    if (utf8.text.find(kPhonemesBegin) == std::string::npos) return false;
    Utf8Piece out;
    bool inside = false;
    size_t cp = 0;
    for (size_t i = 0; i < utf8.text.size(); ++cp) {
        const uint32_t start = utf8.codePointStart[cp];
        size_t length = 1;
        while (i + length < utf8.text.size() &&
               (static_cast<unsigned char>(utf8.text[i + length]) & 0xC0) == 0x80)
            ++length;
        const char c = utf8.text[i];
        const auto add = [&](std::string_view text) {
            for (const char ch : text) {
                out.text += ch;
                out.codePointStart.push_back(start);
            }
        };
        const bool afterBracket = !inside && !out.text.empty() && out.text.back() == '[';
        if (afterBracket && (c == '[' || c == kPhonemesBegin)) {
            // espeak-ng reads "[" + zero-width space + "[[" as no phonemes at all: a
            // replaced word after a bracket is set apart by a blank instead.
            out.text += c == '[' ? "\u200B" : " ";
            out.codePointStart.push_back(start);
        }
        if (c == kPhonemesBegin || c == kPhonemesEnd) {
            inside = c == kPhonemesBegin;
            add(inside ? "[[" : "]]");
        } else {
            out.text.append(utf8.text, i, length);
            out.codePointStart.push_back(start);
        }
        i += length;
    }
    out.codePointStart.push_back(utf8.codePointStart.back());
    utf8 = std::move(out);
    return true;
}

int OnSynth(short* wav, int count, espeak_EVENT* events) {
    auto* ctx = events ? static_cast<RenderContext*>(events->user_data) : nullptr;
    if (!ctx) return 0;
    // No exception may unwind through espeak-ng: running out of memory stops the
    // piece here, and Render raises it once espeak-ng has returned.
    try {
        for (espeak_EVENT* e = events; e->type != espeakEVENT_LIST_TERMINATED; ++e)
            OnEvent(*ctx, *e);
        if (wav && count > 0) ctx->out->samples.insert(ctx->out->samples.end(), wav, wav + count);
    } catch (const std::bad_alloc&) {
        ctx->outOfMemory = true;
        return 1;
    }
    // A non-zero return stops the synthesis of this piece.
    return (*ctx->aborted)() ? 1 : 0;
}
}  // namespace

namespace {
// espeak-ng opens an audio output of its own when it starts, even to hand its samples
// back: a blocking connection to the sound server without a time limit, which a frozen
// server never answers. The synthesis thread makes it while the caller (the window at
// start-up, parlen-say) waits for the voice list, so the server's address points at a
// socket that cannot exist while it starts, the connection fails at once, and espeak-ng
// goes on without the output it never uses. Nothing else connects meanwhile: the first
// start is part of reading the voice list, for which every caller waits.
class NoSoundServerHere {
  public:
    NoSoundServerHere() {
        if (const char* server = std::getenv(kName)) saved_ = server;
        setenv(kName, "unix:/nonexistent/parlen-no-sound-for-espeak-ng", 1);
    }
    ~NoSoundServerHere() {
        if (saved_)
            setenv(kName, saved_->c_str(), 1);
        else
            unsetenv(kName);
    }
    NoSoundServerHere(const NoSoundServerHere&) = delete;
    NoSoundServerHere& operator=(const NoSoundServerHere&) = delete;

  private:
    static constexpr const char* kName = "PULSE_SERVER";
    std::optional<std::string> saved_;
};
}  // namespace

namespace {
// The folder espeak-ng reads its data from: a mended copy of its own (see
// EspeakRules.h), or null for its own.
const char* DataParent() {
    static const std::string parent = [] {
        espeak_ng_InitializePath(nullptr);
        const char* data = nullptr;
        const char* version = espeak_Info(&data);
        return MendedEspeakDataParent(data ? data : "", version ? version : "");
    }();
    return parent.empty() ? nullptr : parent.c_str();
}
}  // namespace

unsigned EspeakVoice::Initialise() {
    static bool tried = false;
    if (!tried) {
        tried = true;
        NoSoundServerHere noServer;
        const int rate =
            espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 40, DataParent(),
                              espeakINITIALIZE_PHONEME_EVENTS | espeakINITIALIZE_DONT_EXIT);
        if (rate > 0) {
            Rate() = static_cast<unsigned>(rate);
            espeak_SetSynthCallback(OnSynth);
        }
    }
    return Rate();
}

std::vector<EspeakVoiceInfo> EspeakVoice::ListVoices() {
    std::vector<EspeakVoiceInfo> voices;
    // Listing reads only the voice files: espeak-ng itself (its phoneme data, its sound
    // output) starts when one of its voices first speaks.
    static const bool pathKnown = (espeak_ng_InitializePath(DataParent()), true);
    (void)pathKnown;
    const char* dataDir = nullptr;
    const char* version = espeak_Info(&dataDir);
    const std::string data = dataDir ? dataDir : "";
    const std::string key = std::string(version ? version : "") + " " + data;
    const std::string cacheFile = data.empty() ? std::string() : DefaultVoiceCacheFile();
    if (auto cached = LoadVoiceCache(cacheFile, key)) return std::move(*cached);
    const EspeakVoiceFolders folders = StampVoiceFolders(data);
    const espeak_VOICE** list = espeak_ListVoices(nullptr);
    for (size_t i = 0; list && list[i]; ++i) {
        const espeak_VOICE& v = *list[i];
        if (!v.name || !v.identifier) continue;
        const std::string identifier = v.identifier;
        if (identifier.rfind("mb/", 0) == 0 || identifier.find("/mb-") != std::string::npos)
            continue;
        EspeakVoiceInfo info;
        info.name = Trim(v.name);
        // languages: a priority byte, then a NUL-terminated tag, repeated.
        if (v.languages && v.languages[0]) info.language = v.languages + 1;
        info.identifier = identifier;
        info.gender = v.gender;
        info.age = v.age;
        voices.push_back(std::move(info));
    }
    if (!voices.empty()) SaveVoiceCache(cacheFile, key, folders, voices);
    return voices;
}

std::string EspeakVoice::Version() {
    const char* path = nullptr;
    const char* version = espeak_Info(&path);
    return version ? version : "";
}

std::string EspeakVoice::SeparatorAtEnd(std::string_view text, TextPiece piece) {
    size_t last = piece.end;
    int breaks = 0;
    while (last > piece.begin && IsWordBlank(static_cast<unsigned char>(text[last - 1]))) {
        if (text[last - 1] == '\n') ++breaks;
        --last;
    }
    // The piece may end just before the blank line that ends its paragraph.
    for (size_t i = piece.end; i < text.size() && IsWordBlank(static_cast<unsigned char>(text[i]));
         ++i)
        if (text[i] == '\n') ++breaks;
    if (last == piece.begin) return {};
    std::string separator;
    const char wide = WideStopAsAscii(text, last - 1);
    const char c = wide ? wide : text[last - 1];
    if (std::strchr(".!?,;:", c)) separator.push_back(c);
    if (breaks >= 2) separator += "\n\n";
    return separator;
}

size_t EspeakVoice::PauseFrames(const std::string& separator, uint32_t speed) {
    const std::string key = identifier_ + "\n" + separator + "/" + std::to_string(speed);
    auto it = Pauses().find(key);
    if (it != Pauses().end()) return it->second;
    // Measured once per separator and speed: two phrases said apart are shorter than
    // said together by the pause between them.
    const std::string first = "Hello there" + separator;
    const std::string second = std::strchr(",;:", separator[0]) ? " how are you" : " How are you";
    const size_t joint = SynthesisedFrames(first + second);
    const size_t apart = SynthesisedFrames(first) + SynthesisedFrames(second);
    const size_t pause = joint > apart ? joint - apart : 0;
    Pauses()[key] = pause;
    return pause;
}

size_t EspeakVoice::SynthesisedFrames(const std::string& text) {
    RenderedPiece out;
    const Utf8Piece utf8 = ToUtf8Piece(text);
    const std::vector<uint32_t> words;
    const std::function<bool()> never = [] { return false; };
    RenderContext ctx{&utf8,         TextPiece{0, text.size()}, &words, &never, &out, Rate(),
                      RestingMouth()};
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                 &ctx);
    return out.samples.size();
}

void EspeakVoice::Prepare(std::string_view text, const std::vector<TextPiece>& pieces,
                          const VoiceSettings& settings) {
    if (Initialise() == 0 || !Apply(identifier_, settings)) return;
    std::set<std::string> separators;
    for (const TextPiece& piece : pieces)
        if (piece.end < text.size()) separators.insert(SeparatorAtEnd(text, piece));
    for (const std::string& separator : separators)
        if (!separator.empty()) PauseFrames(separator, settings.speed);
}

bool EspeakVoice::Render(std::string_view text, TextPiece piece,
                         const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                         const std::function<bool()>& aborted, RenderedPiece& out) {
    if (Initialise() == 0) return false;
    if (!Apply(identifier_, settings)) return false;
    Utf8Piece utf8 = ToUtf8Piece(text.substr(piece.begin, piece.end - piece.begin));
    const unsigned flags = espeakCHARS_UTF8 | (WithPhonemeInput(utf8) ? espeakPHONEMES : 0);
    RenderContext ctx{&utf8, piece, &wordStarts, &aborted, &out, Rate(), RestingMouth()};
    const espeak_ERROR result = espeak_Synth(utf8.text.c_str(), utf8.text.size() + 1, 0,
                                             POS_CHARACTER, 0, flags, nullptr, &ctx);
    if (ctx.outOfMemory) throw std::bad_alloc();
    if (result != EE_OK || aborted()) return false;
    // The pause espeak-ng makes between this piece and the next, had it read both as
    // one text.
    out.pause = 0;
    if (piece.end < text.size()) {
        const std::string separator = SeparatorAtEnd(text, piece);
        if (!separator.empty()) {
            out.pause = PauseFrames(separator, settings.speed);
            out.samples.resize(out.samples.size() + out.pause, 0);
        }
    }
    std::stable_sort(out.events.begin(), out.events.end(),
                     [](const SynthEvent& a, const SynthEvent& b) { return a.frame < b.frame; });
    return true;
}

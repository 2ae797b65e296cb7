#include "platform/voices/RhvoiceVoice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>

#include "platform/voices/Resample.h"
#include "platform/voices/SynthesisWorker.h"

namespace {
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

RhvoiceVoice::~RhvoiceVoice() = default;

std::string RhvoiceVoice::LanguageTag(const std::string& language, const std::string& country) {
    return country.empty() ? Lower(language) : Lower(language) + "-" + Lower(country);
}

std::string RhvoiceVoice::Describe(const std::string& language, const std::string& country,
                                   unsigned gender) {
    // The languages RHVoice has voices for, by their ISO 639 codes.
    static const std::map<std::string, std::string> languages{
        {"en", "English"},  {"ru", "Russian"},    {"uk", "Ukrainian"}, {"ky", "Kyrgyz"},
        {"tt", "Tatar"},    {"ka", "Georgian"},   {"eo", "Esperanto"}, {"pt", "Portuguese"},
        {"pl", "Polish"},   {"cs", "Czech"},      {"sk", "Slovak"},    {"mk", "Macedonian"},
        {"sq", "Albanian"}, {"vi", "Vietnamese"}, {"uz", "Uzbek"},     {"be", "Belarusian"},
        {"sr", "Serbian"},  {"hr", "Croatian"},   {"bs", "Bosnian"},   {"sl", "Slovenian"}};
    static const std::map<std::string, std::string> countries{
        {"us", "US"}, {"gb", "British"}, {"br", "Brazilian"}, {"pt", "European"}};
    const auto name = languages.find(Lower(language));
    std::string words = name == languages.end() ? language : name->second;
    if (const auto c = countries.find(Lower(country)); c != countries.end())
        words = c->second + " " + words;
    if (gender == 1) words += " female";
    if (gender == 2) words += " male";
    return words;
}

#if PARLEN_HAVE_RHVOICE
#include <RHVoice.h>
#include <dlfcn.h>

namespace {
// RHVoice's functions, from its library mapped at run time: the programs do not link it,
// so they start, and our package installs, where it is missing.
struct Api {
    decltype(&RHVoice_get_version) version = nullptr;
    decltype(&RHVoice_new_tts_engine) newEngine = nullptr;
    decltype(&RHVoice_get_number_of_voices) voiceCount = nullptr;
    decltype(&RHVoice_get_voices) voices = nullptr;
    decltype(&RHVoice_new_message) newMessage = nullptr;
    decltype(&RHVoice_delete_message) deleteMessage = nullptr;
    decltype(&RHVoice_speak) speak = nullptr;
};

// What the callbacks of one message gather.
struct Message {
    RenderedPiece* out = nullptr;
    const std::function<bool()>* aborted = nullptr;
    bool stopped = false;
    int rate = 0;
    std::vector<std::pair<uint64_t, uint32_t>> words;  // (frame, byte offset in the message)
};

Message& Of(void* user) {
    return *static_cast<Message*>(user);
}

int OnRate(int rate, void* user) {
    // Refusing a rate here would stop RHVoice before its vocoder is set up, which it
    // does not survive: every rate is taken and converted afterwards.
    Of(user).rate = rate;
    return 1;
}

int OnSpeech(const short* samples, unsigned count, void* user) {
    Message& m = Of(user);
    if (!m.out || (m.aborted && (*m.aborted)())) {
        m.stopped = true;
        return 0;
    }
    m.out->samples.insert(m.out->samples.end(), samples, samples + count);
    return 1;
}

int OnWord(unsigned position, unsigned, void* user) {
    Message& m = Of(user);
    if (m.out) m.words.emplace_back(m.out->samples.size(), position);
    return 1;
}

struct Engine {
    Api api;
    RHVoice_tts_engine engine = nullptr;
    std::string why;  // why there is no engine
};

template <class F>
bool Resolve(void* library, const char* name, F& to) {
    to = reinterpret_cast<F>(dlsym(library, name));
    return to != nullptr;
}

Engine Open() {
    Engine e;
    void* library = dlopen(PARLEN_RHVOICE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        e.why = dlerror();
        return e;
    }
    Api& a = e.api;
    if (!Resolve(library, "RHVoice_get_version", a.version) ||
        !Resolve(library, "RHVoice_new_tts_engine", a.newEngine) ||
        !Resolve(library, "RHVoice_get_number_of_voices", a.voiceCount) ||
        !Resolve(library, "RHVoice_get_voices", a.voices) ||
        !Resolve(library, "RHVoice_new_message", a.newMessage) ||
        !Resolve(library, "RHVoice_delete_message", a.deleteMessage) ||
        !Resolve(library, "RHVoice_speak", a.speak)) {
        e.why = std::string(PARLEN_RHVOICE_LIBRARY) + " lacks RHVoice's functions";
        return e;
    }
    RHVoice_init_params params{};
    params.callbacks.set_sample_rate = OnRate;
    params.callbacks.play_speech = OnSpeech;
    params.callbacks.word_starts = OnWord;
    e.engine = a.newEngine(&params);
    if (!e.engine) e.why = "RHVoice found no voices or no data";
    return e;
}

// The one engine of the process, made on the synthesis worker's thread; it stays for the
// process's life (forked render workers find it ready).
Engine& TheEngine() {
    static Engine engine = Open();
    return engine;
}

RHVoice_synth_params Params(const std::string& voice, const VoiceSettings& settings) {
    RHVoice_synth_params p{};
    p.voice_profile = voice.c_str();
    p.relative_rate = static_cast<double>(settings.speed) / 175.0;
    p.relative_pitch = std::pow(2.0, (static_cast<double>(settings.pitch) - 50.0) / 50.0);
    p.relative_volume = 1.0;  // the engine core applies the volume to the samples
    p.punctuation_mode = RHVoice_punctuation_default;
    p.capitals_mode = RHVoice_capitals_default;
    return p;
}

// Says text as one message; false when RHVoice refused it.
bool Speak(const std::string& voice, const std::string& text, const VoiceSettings& settings,
           Message& m) {
    Engine& e = TheEngine();
    if (!e.engine || text.empty()) return false;
    const RHVoice_synth_params params = Params(voice, settings);
    RHVoice_message message =
        e.api.newMessage(e.engine, text.data(), static_cast<unsigned>(text.size()),
                         RHVoice_message_text, &params, &m);
    if (!message) return false;
    const bool spoken = e.api.speak(message) != 0;
    e.api.deleteMessage(message);
    return spoken || m.stopped;
}

// Samples quieter than this count as silence where a piece's pauses are measured.
constexpr int kQuiet = 200;

size_t QuietRun(const std::vector<int16_t>& s, bool fromEnd) {
    size_t n = 0;
    while (n < s.size() && std::abs(s[fromEnd ? s.size() - 1 - n : n]) < kQuiet) ++n;
    return n;
}
}  // namespace

std::vector<RhvoiceVoiceInfo> RhvoiceVoice::Voices() {
    Engine& e = TheEngine();
    std::vector<RhvoiceVoiceInfo> out;
    if (!e.engine) return out;
    const RHVoice_voice_info* info = e.api.voices(e.engine);
    for (unsigned i = 0, n = e.api.voiceCount(e.engine); info && i < n; ++i) {
        RhvoiceVoiceInfo v;
        v.name = info[i].name ? info[i].name : "";
        if (v.name.empty()) continue;
        const std::string language = info[i].language ? info[i].language : "";
        const std::string country = info[i].country ? info[i].country : "";
        v.speaker = Lower(v.name);
        v.gender = info[i].gender == RHVoice_voice_gender_female ? 1
                   : info[i].gender == RHVoice_voice_gender_male ? 2
                                                                 : 0;
        v.description = Describe(language, country, v.gender);
        v.language = LanguageTag(language, country);
        out.push_back(std::move(v));
    }
    return out;
}

std::string RhvoiceVoice::Version() {
    Engine& e = TheEngine();
    return e.engine ? e.api.version() : "";
}

RhvoiceVoice::RhvoiceVoice(std::string name) : name_(std::move(name)) {}

void RhvoiceVoice::Prepare(std::string_view, const std::vector<TextPiece>&,
                           const VoiceSettings& settings) {
    // A message without a place for its samples stops at its first ones, the voice loaded.
    Message m;
    Speak(name_, "a", settings, m);
}

VoiceLimits RhvoiceVoice::Limits() const {
    // RHVoice keeps its rate within half to twice the voice's own (its default settings):
    // 87 sounds as 87.5, the first speed it honours is 88, and 350 is twice 175. Its
    // pitch is honoured over our whole range (half to nearly twice the voice's).
    VoiceLimits limits;
    limits.speedMin = 88;
    limits.speedMax = 350;
    return limits;
}

bool RhvoiceVoice::Render(std::string_view text, TextPiece piece,
                          const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                          const std::function<bool()>& aborted, RenderedPiece& out) {
    if (aborted()) return false;
    if (!HoldsText(text, piece)) return true;  // blanks only: nothing to say
    if (!TheEngine().engine) {
        std::fprintf(stderr, "RHVoice's voices cannot speak: %s\n", TheEngine().why.c_str());
        return false;
    }
    // Plain UTF-8, byte for byte as the piece: a byte that is not UTF-8 is a blank, so
    // RHVoice's word positions are the piece's byte offsets.
    const Utf8Piece utf8 = ToUtf8Piece(text.substr(piece.begin, piece.end - piece.begin));
    Message m;
    m.out = &out;
    m.aborted = &aborted;
    if (!Speak(name_, utf8.text, settings, m) || m.stopped) return false;
    // RHVoice tells a word when its sound enters RHVoice's output buffer, which hands the
    // audio on a tenth of a second at a time: the word starts within the tenth of a second
    // after the samples handed on before it. The words told in one tenth share it in
    // order, each placed in the middle of its share (one alone at most 50 ms off rather
    // than up to 100 ms early).
    const uint64_t tenth = static_cast<uint64_t>(std::max(m.rate, 0)) / 10;
    for (size_t first = 0, next; first < m.words.size(); first = next) {
        for (next = first + 1;
             next < m.words.size() && m.words[next].first == m.words[first].first;)
            ++next;
        const uint64_t count = next - first;
        for (size_t i = first; i < next; ++i)
            m.words[i].first += (2 * (i - first) + 1) * tenth / (2 * count);
    }
    // RHVoice speaks at the rate its settings choose (16 kHz at its lowest quality).
    if (m.rate > 0 && static_cast<unsigned>(m.rate) != rate_) {
        if (!Resample(out.samples, m.rate, rate_)) return false;
        for (auto& word : m.words) word.first = word.first * rate_ / static_cast<unsigned>(m.rate);
    }
    // A piece that goes on with a sentence the last one began starts without the
    // pause RHVoice opens each message with, as the sentence said whole would.
    const size_t opening = QuietRun(out.samples, false);
    size_t lead = 0;
    if (piece.begin > 0 && KindOfPieceEnd(text, piece.begin) == PieceEndKind::Piece) {
        lead = opening;
        out.samples.erase(out.samples.begin(), out.samples.begin() + static_cast<ptrdiff_t>(lead));
    }
    // Word offsets into the whole text, only ever forward; no word starts before the
    // message's sound does.
    const uint64_t last = out.samples.empty() ? 0 : out.samples.size() - 1;
    for (const auto& [frame, position] : m.words) {
        if (wordStarts.empty()) break;
        const uint32_t offset =
            WordStartAtOrBefore(wordStarts, static_cast<uint32_t>(piece.begin + position));
        if (!out.events.empty() && offset <= out.events.back().offset) continue;
        const uint64_t at = std::max<uint64_t>(frame, opening) - lead;
        out.events.push_back(SynthEvent{SynthEvent::Kind::Word, std::min(at, last), offset, {}, 0});
    }
    // The silence after the last word's speech is the pause after the piece; where the
    // sentence goes on into the next piece it is not heard, as in the sentence said whole.
    const size_t kept = out.events.empty() ? 0 : out.events.back().frame + 1;  // the last word's
    out.pause = out.samples.size() <= kept
                    ? 0
                    : std::min(QuietRun(out.samples, true), out.samples.size() - kept);
    if (piece.end < text.size() && KindOfPieceEnd(text, piece.end) == PieceEndKind::Piece &&
        HoldsText(text, {piece.end, text.size()})) {
        out.samples.resize(out.samples.size() - out.pause);
        out.pause = 0;
    }
    return true;
}

#else  // built without RHVoice's header: the family has no voices

std::vector<RhvoiceVoiceInfo> RhvoiceVoice::Voices() {
    return {};
}

std::string RhvoiceVoice::Version() {
    return "";
}

RhvoiceVoice::RhvoiceVoice(std::string name) : name_(std::move(name)) {}

VoiceLimits RhvoiceVoice::Limits() const {
    return VoiceLimits{};
}

void RhvoiceVoice::Prepare(std::string_view, const std::vector<TextPiece>&, const VoiceSettings&) {}

bool RhvoiceVoice::Render(std::string_view, TextPiece, const std::vector<uint32_t>&,
                          const VoiceSettings&, const std::function<bool()>&, RenderedPiece&) {
    std::fprintf(stderr, "This build of the program has no RHVoice support\n");
    return false;
}
#endif

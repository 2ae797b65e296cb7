#include "platform/service/FestivalVoice.h"

#include <festival/festival.h>
#include <pthread.h>

#include <cmath>
#include <csetjmp>
#include <map>

#include "platform/service/Visemes.h"

// Festival's and its interpreter's, not in their headers.
EST_Wave* get_utt_wave(EST_Utterance* u);
extern LISP* stack_start_ptr;
extern char* stack_limit_ptr;

namespace {
// Festival's own default is ten million cells (320 MB, all touched at start-up); a
// voice and a piece's utterance live in well under a million.
constexpr int kHeapCells = 2000000;

// The interpreter's state as this process left it: one voice selected at a time.
struct Interpreter {
    bool started = false;
    bool ready = false;
    std::string voice;
    bool hts = false;
    double stretch = 1;    // the voice's own duration stretch
    LISP htsParams = NIL;  // the voice's own engine parameters
};

Interpreter& Festival() {
    static Interpreter state;
    return state;
}

// Evaluates form. Festival reports an error by a long jump to the innermost handler
// (or ends the process when there is none): this is that handler, and nothing here
// owns a resource across the call.
bool Eval(LISP form, LISP* result = nullptr) {
    jmp_buf* const saved = est_errjmp;
    const long savedOk = errjmp_ok;
    jmp_buf here;
    est_errjmp = &here;
    errjmp_ok = 1;
    volatile bool ok = false;
    if (setjmp(here) == 0) {
        LISP value = leval(form, NIL);
        if (result) *result = value;
        ok = true;
    }
    est_errjmp = saved;
    errjmp_ok = savedOk;
    return ok;
}

LISP List(std::initializer_list<LISP> items) {
    LISP list = NIL;
    for (auto it = items.end(); it != items.begin();) list = cons(*--it, list);
    return list;
}

// The interpreter's collector marks what the stack refers to, from where it started
// up to the frame collecting, and its evaluator stops before a stack limit. Both
// are set from the frame that started it: here they are this thread's whole stack,
// so that the frames of every later call are marked however deep it started.
void AnchorStack() {
    struct Bounds {
        LISP* top = nullptr;
        char* limit = nullptr;
    };
    thread_local const Bounds bounds = [] {
        Bounds b;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return b;
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &low, &size) == 0 && size > (512u << 10)) {
            b.top = reinterpret_cast<LISP*>(static_cast<char*>(low) + size) - 1;
            b.limit = static_cast<char*>(low) + (256u << 10);
        }
        pthread_attr_destroy(&attr);
        return b;
    }();
    if (!bounds.top) return;
    stack_start_ptr = bounds.top;
    stack_limit_ptr = bounds.limit;
}

bool Start() {
    Interpreter& f = Festival();
    if (f.ready) AnchorStack();
    if (f.started) return f.ready;
    f.started = true;
    jmp_buf* const saved = est_errjmp;
    const long savedOk = errjmp_ok;
    jmp_buf here;
    est_errjmp = &here;
    errjmp_ok = 1;
    if (setjmp(here) == 0) {
        festival_initialize(1, kHeapCells);
        AnchorStack();
        gc_protect(&f.htsParams);
        f.ready = true;
    }
    est_errjmp = saved;
    errjmp_ok = savedOk;
    return f.ready;
}

bool Select(const std::string& name) {
    Interpreter& f = Festival();
    if (f.voice == name) return true;
    f.voice.clear();
    if (!Eval(List({rintern(("voice_" + name).c_str())}))) return false;
    LISP method = ft_get_param("Synth_Method");
    f.hts = method != NIL && std::string_view(get_c_string(method)) == "HTS";
    LISP stretch = ft_get_param("Duration_Stretch");
    f.stretch = stretch != NIL ? get_c_float(stretch) : 1.0;
    if (f.stretch <= 0) f.stretch = 1.0;
    f.htsParams = siod_get_lval("hts_engine_params", nullptr);
    f.voice = name;
    return true;
}

// Asks for speech `factor` times as long as the voice's own at normal speed.
bool SetLength(double factor) {
    Interpreter& f = Festival();
    if (f.hts) {
        siod_set_lval("hts_engine_params",
                      cons(List({strintern("-r"), flocons(1.0 / factor)}), f.htsParams));
        return true;
    }
    return Eval(
        List({rintern("Parameter.set"), List({rintern("quote"), rintern("Duration_Stretch")}),
              flocons(f.stretch * factor)}));
}

float SegmentStart(EST_Item* segment) {
    EST_Item* prev = iprev(segment);
    return prev ? prev->F("end", 0.0f) : 0.0f;
}

// Where each token of the utterance starts in `text`: its whitespace, punctuation
// before, name and punctuation after are the text's bytes in order.
std::map<EST_Item_Content*, size_t> TokenStarts(EST_Utterance* u, std::string_view text) {
    std::map<EST_Item_Content*, size_t> starts;
    size_t at = 0;
    for (EST_Item* t = u->relation("Token")->head(); t; t = inext(t)) {
        const EST_String white = t->S("whitespace", "");
        const EST_String pre = t->S("prepunctuation", "");
        const EST_String name = t->name();
        const EST_String post = t->S("punc", "");
        at += static_cast<size_t>(white.length()) + static_cast<size_t>(pre.length());
        const std::string_view word(name.str(), static_cast<size_t>(name.length()));
        // A tokeniser of a voice's own may have changed the name: find it onwards.
        if (text.substr(at, word.size()) != word) {
            const size_t found = text.find(word, at);
            if (found == std::string_view::npos) continue;
            at = found;
        }
        starts[t->contents()] = at;
        at += word.size() + static_cast<size_t>(post.length());
    }
    return starts;
}
}  // namespace

FestivalVoice::FestivalVoice(std::string name, unsigned rate)
    : name_(std::move(name)), rate_(rate) {}

FestivalVoice::~FestivalVoice() = default;

bool FestivalVoice::Render(std::string_view text, TextPiece piece,
                           const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                           const std::function<bool()>& aborted, RenderedPiece& out) {
    (void)wordStarts;
    if (!Start() || aborted() || !Select(name_)) return false;
    const AsciiPiece ascii = ToAsciiPiece(text.substr(piece.begin, piece.end - piece.begin));
    const double pitch = std::pow(2.0, (static_cast<double>(settings.pitch) - 50.0) / 100.0);
    const double speed = static_cast<double>(settings.speed) / 175.0;
    if (!SetLength(pitch / speed)) return false;

    LISP utt = NIL;
    gc_protect(&utt);
    const bool ok =
        Eval(List({rintern("utt.synth"),
                   List({rintern("Utterance"), rintern("Text"),
                         strcons(static_cast<long>(ascii.text.size()), ascii.text.c_str())})}),
             &utt);
    EST_Utterance* u = ok && utt != NIL ? utterance(utt) : nullptr;
    EST_Wave* wave = u ? get_utt_wave(u) : nullptr;
    if (!wave) {
        gc_unprotect(&utt);
        return false;
    }
    // Raised pitch is the wave played faster: read it as recorded at rate × pitch.
    const double from = wave->sample_rate() * pitch;
    if (std::lround(from) != static_cast<long>(rate_)) {
        wave->set_sample_rate(static_cast<int>(std::lround(from)));
        wave->resample(static_cast<int>(rate_));
    }
    out.samples.resize(static_cast<size_t>(wave->num_samples()));
    for (size_t i = 0; i < out.samples.size(); ++i) out.samples[i] = wave->a(static_cast<int>(i));
    const double framesPerSecond = rate_ / pitch;
    auto frameAt = [&](float seconds) {
        return std::min<uint64_t>(static_cast<uint64_t>(std::max(0.0, seconds * framesPerSecond)),
                                  out.samples.empty() ? 0 : out.samples.size() - 1);
    };

    // Words start where their first segment does; their offsets are their tokens'.
    const auto starts = TokenStarts(u, ascii.text);
    TTSMOUTH current = RestingMouth();
    uint32_t lastOffset = 0;
    bool any = false;
    for (EST_Item* w = u->relation("Word")->head(); w; w = inext(w)) {
        EST_Item* token = parent(w, "Token");
        EST_Item* syllable = daughter1(w->as_relation("SylStructure"));
        EST_Item* segment = syllable ? daughter1(syllable) : nullptr;
        auto it = token ? starts.find(token->contents()) : starts.end();
        if (!segment || it == starts.end() || it->second >= ascii.origin.size()) continue;
        const auto offset = static_cast<uint32_t>(piece.begin + ascii.origin[it->second]);
        if (any && offset <= lastOffset) continue;
        any = true;
        lastOffset = offset;
        out.events.push_back(SynthEvent{SynthEvent::Kind::Word,
                                        frameAt(SegmentStart(segment->as_relation("Segment"))),
                                        offset,
                                        {},
                                        0});
    }
    std::vector<SynthEvent> mouths;
    EST_Item* last = nullptr;
    for (EST_Item* s = u->relation("Segment")->head(); s; s = inext(s)) {
        last = s;
        const EST_String name = s->name();
        const TTSMOUTH mouth = MouthForPhoneme(name.str());
        if (SameMouth(mouth, current)) continue;
        current = mouth;
        mouths.push_back(SynthEvent{SynthEvent::Kind::Mouth, frameAt(SegmentStart(s)), 0, mouth,
                                    name.length() ? name.str()[0] : '\0'});
    }
    if (last && std::string_view(last->name().str()) == "pau")
        out.pause = out.samples.size() -
                    std::min<uint64_t>(frameAt(SegmentStart(last)), out.samples.size());
    gc_unprotect(&utt);
    // Merge by frame, a word before a mouth shape at the same frame.
    std::vector<SynthEvent> merged;
    std::merge(out.events.begin(), out.events.end(), mouths.begin(), mouths.end(),
               std::back_inserter(merged),
               [](const SynthEvent& a, const SynthEvent& b) { return a.frame < b.frame; });
    out.events = std::move(merged);
    return true;
}

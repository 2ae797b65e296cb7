#include "platform/festival/FestivalBridge.h"

#include <festival/festival.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <map>
#include <string_view>

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

// Runs call, which calls into Festival; false when Festival reported an error. It
// does so by a long jump to the innermost handler, or ends the process when there is
// none: this is that handler. A jump skips the destructors of what call had built,
// which an error may leak but never corrupts.
template <class Call>
bool Guarded(Call&& call) {
    jmp_buf* const saved = est_errjmp;
    const long savedOk = errjmp_ok;
    jmp_buf here;
    est_errjmp = &here;
    errjmp_ok = 1;
    volatile bool ok = false;
    if (setjmp(here) == 0) {
        call();
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

// Festival's diphone voices (UniSyn) look up the diphone that begins with the
// utterance's first segment without checking that there is one, and crash on a null
// item. An utterance without words (".", "!", "(( ))": punctuation only) has no
// segment at all, not even the pauses around words, since Festival puts those only
// around phrases. Festival's wave synthesis (the Scheme function Wave_Synth, which
// every utterance type and every voice ends with) is wrapped by this guard: fewer than
// two segments hold no diphone, so no sound, and the utterance gets an empty wave, which
// the voice's own hooks after synthesis (kal rescales its wave) take as any other. The
// guard sits on the function the modules call, so it holds for every path that
// synthesises, aloud or into a file.
LISP originalWaveSynth = NIL;
constexpr char kWaveSynth[] = "Wave_Synth";
constexpr char kGuardedWaveSynth[] = "parlen.wave_synth";

LISP GuardedWaveSynth(LISP utt) {
    EST_Utterance* u = utterance(utt);  // not an utterance: Festival's own error
    int segments = 0;
    if (u->relation_present("Segment"))
        for (EST_Item* s = u->relation("Segment")->head(); s && segments < 2; s = inext(s))
            ++segments;
    if (segments < 2) {
        if (!u->relation_present("Wave") || !u->relation("Wave")->head())
            u->create_relation("Wave")->append()->set_val("wave", est_val(new EST_Wave));
        return utt;
    }
    return leval(List({originalWaveSynth, utt}), NIL);
}

// Wraps the current Wave_Synth unless it is wrapped already: a voice's files may
// define it anew when the voice is selected.
bool GuardWaveSynth() {
    return Guarded([] {
        const LISP guard = siod_get_lval(kGuardedWaveSynth, nullptr);
        const LISP current = siod_get_lval(kWaveSynth, nullptr);
        if (current == NIL || current == guard) return;
        originalWaveSynth = current;
        siod_set_lval(kWaveSynth, guard);
    });
}

bool StartInterpreter() {
    Interpreter& f = Festival();
    if (f.ready) AnchorStack();
    if (f.started) return f.ready;
    f.started = true;
    f.ready = Guarded([] { festival_initialize(1, kHeapCells); });
    if (!f.ready) return false;
    AnchorStack();
    gc_protect(&f.htsParams);
    gc_protect(&originalWaveSynth);
    init_subr_1(kGuardedWaveSynth, GuardedWaveSynth,
                "(parlen.wave_synth UTT)\n  Wave_Synth, but no wave for an utterance with no "
                "diphone.");
    f.ready = GuardWaveSynth();
    return f.ready;
}

bool SelectVoice(const std::string& name) {
    Interpreter& f = Festival();
    if (f.voice == name) return true;
    f.voice.clear();
    const std::string call = "voice_" + name;
    const bool ok = Guarded([&] {
        leval(List({rintern(call.c_str())}), NIL);
        LISP method = ft_get_param("Synth_Method");
        f.hts = method != NIL && std::string_view(get_c_string(method)) == "HTS";
        LISP stretch = ft_get_param("Duration_Stretch");
        f.stretch = stretch != NIL ? get_c_float(stretch) : 1.0;
        f.htsParams = siod_get_lval("hts_engine_params", nullptr);
    });
    if (!ok || !GuardWaveSynth()) return false;
    if (f.stretch <= 0) f.stretch = 1.0;
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
    return Guarded([&] {
        leval(List({rintern("Parameter.set"), List({rintern("quote"), rintern("Duration_Stretch")}),
                    flocons(f.stretch * factor)}),
              NIL);
    });
}

// Where each token of the utterance starts in `text`: its whitespace, punctuation
// before, name and punctuation after are the text's bytes in order. A word's offset
// is its token's.
std::map<EST_Item_Content*, size_t> TokenStarts(EST_Utterance* u, std::string_view text) {
    std::map<EST_Item_Content*, size_t> starts;
    size_t at = 0;
    if (!u->relation_present("Token")) return starts;
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
        // The token starts with its punctuation, as the blank-separated run does.
        starts[t->contents()] = at - std::min<size_t>(at, static_cast<size_t>(pre.length()));
        at += word.size() + static_cast<size_t>(post.length());
    }
    return starts;
}
// The utterance's wave (none when it has nothing to say), words and segments.
void Extract(EST_Utterance* u, std::string_view text, festival_bridge::Utterance& out) {
    using namespace festival_bridge;
    if (u->relation_present("Wave") && u->relation("Wave")->head()) {
        const EST_Wave* wave = get_utt_wave(u);
        out.rate = static_cast<unsigned>(std::max(0, wave->sample_rate()));
        out.samples.resize(static_cast<size_t>(std::max(0, wave->num_samples())));
        for (size_t i = 0; i < out.samples.size(); ++i)
            out.samples[i] = wave->a_no_check(static_cast<int>(i));
    }
    const auto seconds = [](EST_Item* segment) {
        EST_Item* prev = iprev(segment);
        return prev ? prev->F("end", 0.0f) : 0.0f;
    };
    const auto starts = TokenStarts(u, text);
    if (u->relation_present("Word"))
        for (EST_Item* w = u->relation("Word")->head(); w; w = inext(w)) {
            EST_Item* token = parent(w, "Token");
            EST_Item* syllable = daughter1(w->as_relation("SylStructure"));
            EST_Item* segment = syllable ? daughter1(syllable) : nullptr;
            auto it = token ? starts.find(token->contents()) : starts.end();
            if (!segment || !segment->as_relation("Segment") || it == starts.end()) continue;
            out.words.push_back(
                Word{static_cast<uint32_t>(it->second), seconds(segment->as_relation("Segment"))});
        }
    if (u->relation_present("Segment"))
        for (EST_Item* s = u->relation("Segment")->head(); s; s = inext(s))
            out.segments.push_back(Segment{s->name().str(), seconds(s)});
}
}  // namespace

namespace festival_bridge {

bool Start() {
    return StartInterpreter();
}

bool Select(const std::string& voice) {
    return StartInterpreter() && SelectVoice(voice);
}

bool Synthesise(const std::string& text, double length, Utterance& out) {
    out = Utterance{};
    if (!StartInterpreter() || Festival().voice.empty() || !SetLength(length)) return false;
    LISP utt = NIL;
    gc_protect(&utt);
    bool made = false;
    const bool ok = Guarded([&] {
        utt = leval(List({rintern("utt.synth"),
                          List({rintern("Utterance"), rintern("Text"),
                                strcons(static_cast<long>(text.size()), text.c_str())})}),
                    NIL);
        made = utt != NIL && utterance_p(utt);
        if (made) Extract(utterance(utt), text, out);
    });
    gc_unprotect(&utt);
    return ok && made;
}

std::string Version() {
    const std::string version = festival_version;
    return version.substr(0, version.find(':'));
}

std::string LibraryDirectory() {
    return festival_libdir;
}

}  // namespace festival_bridge

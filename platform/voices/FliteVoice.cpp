#include "platform/voices/FliteVoice.h"

#include <dlfcn.h>
#include <flite/flite.h>
#include <flite/flite_version.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "platform/voices/Visemes.h"

namespace {
// Each voice is a library of its own, mapped when the voice first speaks: the larger
// ones hold some 40,000 pointers each that the loader would otherwise relocate (and
// copy into memory) at every start of the program, whichever voice it uses.
struct Registration {
    const char* name;
    bool diphone;  // pitch through the target mean rather than a shift of the model
    void* library = nullptr;
    cst_voice* (*make)(const char*) = nullptr;
    void (*drop)(cst_voice*) = nullptr;
};

// The voice's functions; an empty string when it is known, else why it cannot be loaded.
std::string Load(Registration& r) {
    if (r.library) return "";
    const std::string file = std::string("libflite_cmu_us_") + r.name + PARLEN_FLITE_SUFFIX;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return dlerror();
    const std::string make = std::string("register_cmu_us_") + r.name;
    const std::string drop = std::string("unregister_cmu_us_") + r.name;
    r.make = reinterpret_cast<cst_voice* (*)(const char*)>(dlsym(library, make.c_str()));
    r.drop = reinterpret_cast<void (*)(cst_voice*)>(dlsym(library, drop.c_str()));
    if (!r.make || !r.drop) {
        dlclose(library);
        return file + " has no " + make;
    }
    r.library = library;
    return "";
}

Registration* RegistrationOf(const std::string& name) {
    // Never destroyed: voices held by other statics (the synthesis worker's) drop their
    // voice through it as the program exits, in whatever order the statics go.
    static auto& table = *new std::map<std::string, Registration>{
        {"kal", {"kal", true}},  {"kal16", {"kal16", true}}, {"slt", {"slt", false}},
        {"rms", {"rms", false}}, {"awb", {"awb", false}},
    };
    auto it = table.find(name);
    return it == table.end() ? nullptr : &it->second;
}

float SegmentStart(cst_item* segment) {
    cst_item* prev = item_prev(segment);
    return prev ? item_feat_float(prev, "end") : 0.0f;
}

// True when offset lies inside a run without blanks (between two non-blanks).
bool InRunAt(std::string_view text, size_t offset) {
    return offset > 0 && offset < text.size() &&
           !IsWordBlank(static_cast<unsigned char>(text[offset - 1])) &&
           !IsWordBlank(static_cast<unsigned char>(text[offset]));
}

// Frames of the pause segment that opens the utterance; 0 without one.
size_t OpeningPauseFrames(cst_utterance* utt, float rate) {
    cst_item* s = relation_head(utt_relation(utt, "Segment"));
    const char* name = s ? item_feat_string(s, "name") : nullptr;
    if (!name || std::string_view(name) != "pau") return 0;
    const float seconds = item_feat_float(s, "end");
    return seconds > 0 ? static_cast<size_t>(seconds * rate) : 0;
}

// Frames of the pause segment that closes the utterance; 0 without one.
size_t ClosingPauseFrames(cst_utterance* utt, float rate) {
    cst_item* s = relation_tail(utt_relation(utt, "Segment"));
    const char* name = s ? item_feat_string(s, "name") : nullptr;
    if (!name || std::string_view(name) != "pau") return 0;
    const float seconds = item_feat_float(s, "end") - SegmentStart(s);
    return seconds > 0 ? static_cast<size_t>(seconds * rate) : 0;
}

// True when the sentence goes on across offset: a piece starting or ending there is
// joined to its neighbour inside one sentence.
bool SentenceGoesOnAt(std::string_view text, size_t offset) {
    if (InRunAt(text, offset)) return true;
    return offset > 0 && offset < text.size() && HoldsText(text, {offset, text.size()}) &&
           KindOfPieceEnd(text, offset) == PieceEndKind::Piece;
}

// True when the text pauses at a piece end inside a sentence: a clause mark before
// blanks.
bool ClauseEndsAt(std::string_view text, size_t end) {
    if (InRunAt(text, end)) return false;
    size_t last = end;
    while (last > 0 && IsWordBlank(static_cast<unsigned char>(text[last - 1]))) --last;
    if (last == 0) return false;
    const char wide = WideStopAsAscii(text, last - 1);
    const char c = wide ? wide : text[last - 1];
    return c == ',' || c == ';' || c == ':';
}
}  // namespace

struct FliteVoice::Voice {
    Registration* registration = nullptr;
    cst_voice* voice = nullptr;
    float baseMean = 0;
    float baseStretch = 1;  // the voice's own pace (kal speaks 10 % slower than its model)
    ~Voice() {
        if (voice) registration->drop(voice);
    }
};

const std::vector<FliteVoiceInfo>& FliteVoice::Voices() {
    static const std::vector<FliteVoiceInfo> voices{
        {"kal", "US English male, 8 kHz", 2, 8000, "diphone"},
        {"kal16", "US English male", 2, 16000, "diphone"},
        {"slt", "US English female", 1, 16000, "clustergen"},
        {"rms", "US English male", 2, 16000, "clustergen"},
        {"awb", "Scottish English male", 2, 16000, "clustergen"},
    };
    return voices;
}

std::string FliteVoice::Version() {
    return FLITE_PROJECT_VERSION;
}

FliteVoice::FliteVoice(std::string name) : name_(std::move(name)), rate_(16000) {
    for (const auto& v : Voices())
        if (v.name == name_) rate_ = v.rate;
}

FliteVoice::~FliteVoice() = default;

bool FliteVoice::Start() {
    if (voice_) return true;
    static const bool initialised = (flite_init(), true);
    (void)initialised;
    auto voice = std::make_unique<Voice>();
    voice->registration = RegistrationOf(name_);
    if (!voice->registration) return false;
    if (const std::string why = Load(*voice->registration); !why.empty()) {
        // The render fails and says so; this says why.
        std::fprintf(stderr, "The flite voice %s cannot be loaded: %s\n", name_.c_str(),
                     why.c_str());
        return false;
    }
    voice->voice = voice->registration->make(nullptr);
    if (!voice->voice) return false;
    voice->baseMean = get_param_float(voice->voice->features, "int_f0_target_mean", 100.0f);
    voice->baseStretch = get_param_float(voice->voice->features, "duration_stretch", 1.0f);
    voice_ = std::move(voice);
    return true;
}

void FliteVoice::Prepare(std::string_view, const std::vector<TextPiece>&, const VoiceSettings&) {
    Start();
}

bool FliteVoice::Render(std::string_view text, TextPiece piece,
                        const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                        const std::function<bool()>& aborted, RenderedPiece& out) {
    if (!Start()) return false;
    if (aborted()) return false;
    cst_features* features = voice_->voice->features;
    const float factor = std::pow(2.0f, (static_cast<float>(settings.pitch) - 50.0f) / 50.0f);
    if (voice_->registration->diphone)
        feat_set_float(features, "int_f0_target_mean", voice_->baseMean * factor);
    else
        feat_set_float(features, "f0_shift", factor);
    feat_set_float(features, "duration_stretch",
                   voice_->baseStretch * 175.0f / static_cast<float>(settings.speed));

    const AsciiPiece ascii = ToAsciiPiece(text.substr(piece.begin, piece.end - piece.begin));
    // Byte offset (in the whole text) of each blank-separated token of the ASCII text,
    // in order: flite's tokens are the same runs.
    std::vector<uint32_t> tokenOffsets;
    for (size_t i = 0; i < ascii.text.size(); ++i) {
        const bool blank = IsWordBlank(static_cast<unsigned char>(ascii.text[i]));
        const bool startsRun =
            !blank && (i == 0 || IsWordBlank(static_cast<unsigned char>(ascii.text[i - 1])));
        if (startsRun) tokenOffsets.push_back(static_cast<uint32_t>(piece.begin + ascii.origin[i]));
    }
    bool hasWords = false;
    for (uint32_t o : tokenOffsets) hasWords = hasWords || o < piece.end;
    if (!hasWords) return true;  // blanks only: nothing to say

    cst_utterance* utt = flite_synth_text(ascii.text.c_str(), voice_->voice);
    if (!utt) return false;
    cst_wave* wave = utt_wave(utt);
    const float rate = wave ? static_cast<float>(wave->sample_rate) : static_cast<float>(rate_);
    if (wave) out.samples.assign(wave->samples, wave->samples + wave->num_samples);

    // Word starts: the first segment of each token's first word.
    std::map<cst_item*, size_t> tokenIndex;
    size_t index = 0;
    for (cst_item* t = relation_head(utt_relation(utt, "Token")); t; t = item_next(t))
        tokenIndex[item_as(t, "Token")] = index++;
    uint32_t lastOffset = 0;
    bool any = false;
    for (cst_item* w = relation_head(utt_relation(utt, "Word")); w; w = item_next(w)) {
        cst_item* token = path_to_item(w, "R:Token.parent");
        cst_item* segment = path_to_item(w, "R:SylStructure.daughter1.daughter1.R:Segment");
        if (!token || !segment || wordStarts.empty()) continue;
        auto it = tokenIndex.find(item_as(token, "Token"));
        if (it == tokenIndex.end() || it->second >= tokenOffsets.size()) continue;
        const uint32_t offset = WordStartAtOrBefore(wordStarts, tokenOffsets[it->second]);
        if (any && offset <= lastOffset) continue;
        any = true;
        lastOffset = offset;
        out.events.push_back(SynthEvent{SynthEvent::Kind::Word,
                                        static_cast<uint64_t>(SegmentStart(segment) * rate),
                                        offset,
                                        {},
                                        0});
    }
    // Mouth shapes from the phone segments.
    std::vector<SynthEvent> mouths;
    TTSMOUTH current = RestingMouth();
    for (cst_item* s = relation_head(utt_relation(utt, "Segment")); s; s = item_next(s)) {
        const char* name = item_feat_string(s, "name");
        const TTSMOUTH mouth = MouthForPhoneme(name ? name : "");
        if (SameMouth(mouth, current)) continue;
        current = mouth;
        mouths.push_back(SynthEvent{SynthEvent::Kind::Mouth,
                                    static_cast<uint64_t>(SegmentStart(s) * rate), 0, mouth,
                                    name && *name ? name[0] : '\0'});
    }
    // flite opens and closes every utterance with a pause. Where the sentence goes on
    // into the next piece, those pauses would be heard as gaps the text does not have:
    // the next piece's opening one goes, and the closing one stays only where the text
    // pauses too (a clause mark), as the phrase break one utterance would have there.
    const size_t frames = out.samples.size();
    const size_t head =
        SentenceGoesOnAt(text, piece.begin) ? std::min(OpeningPauseFrames(utt, rate), frames) : 0;
    size_t tail = std::min(ClosingPauseFrames(utt, rate), frames - head);
    if (SentenceGoesOnAt(text, piece.end) && !ClauseEndsAt(text, piece.end)) {
        out.samples.resize(frames - tail);
        tail = 0;
    }
    delete_utterance(utt);
    out.samples.erase(out.samples.begin(), out.samples.begin() + static_cast<ptrdiff_t>(head));
    out.pause = tail;
    for (auto* list : {&out.events, &mouths})
        for (SynthEvent& e : *list) e.frame = e.frame > head ? e.frame - head : 0;
    // Merge by frame, a word before a mouth shape at the same frame.
    std::vector<SynthEvent> merged;
    merged.reserve(out.events.size() + mouths.size());
    size_t a = 0, b = 0;
    while (a < out.events.size() || b < mouths.size()) {
        if (b == mouths.size() || (a < out.events.size() && out.events[a].frame <= mouths[b].frame))
            merged.push_back(out.events[a++]);
        else
            merged.push_back(mouths[b++]);
    }
    out.events = std::move(merged);
    return true;
}

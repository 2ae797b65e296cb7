#include "platform/service/FliteVoice.h"

#include <flite/flite.h>
#include <flite/flite_version.h>

#include <cmath>
#include <map>

#include "platform/service/Visemes.h"

extern "C" {
cst_voice* register_cmu_us_kal(const char* voxdir);
void unregister_cmu_us_kal(cst_voice* v);
cst_voice* register_cmu_us_kal16(const char* voxdir);
void unregister_cmu_us_kal16(cst_voice* v);
cst_voice* register_cmu_us_slt(const char* voxdir);
void unregister_cmu_us_slt(cst_voice* v);
cst_voice* register_cmu_us_rms(const char* voxdir);
void unregister_cmu_us_rms(cst_voice* v);
cst_voice* register_cmu_us_awb(const char* voxdir);
void unregister_cmu_us_awb(cst_voice* v);
}

namespace {
struct Registration {
    cst_voice* (*make)(const char*);
    void (*drop)(cst_voice*);
    bool diphone;  // pitch through the target mean rather than a shift of the model
};

const Registration* RegistrationOf(const std::string& name) {
    static const std::map<std::string, Registration> table{
        {"kal", {register_cmu_us_kal, unregister_cmu_us_kal, true}},
        {"kal16", {register_cmu_us_kal16, unregister_cmu_us_kal16, true}},
        {"slt", {register_cmu_us_slt, unregister_cmu_us_slt, false}},
        {"rms", {register_cmu_us_rms, unregister_cmu_us_rms, false}},
        {"awb", {register_cmu_us_awb, unregister_cmu_us_awb, false}},
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

// Frames of the pause segment that closes the utterance; 0 without one.
size_t ClosingPauseFrames(cst_utterance* utt, float rate) {
    cst_item* s = relation_tail(utt_relation(utt, "Segment"));
    const char* name = s ? item_feat_string(s, "name") : nullptr;
    if (!name || std::string_view(name) != "pau") return 0;
    const float seconds = item_feat_float(s, "end") - SegmentStart(s);
    return seconds > 0 ? static_cast<size_t>(seconds * rate) : 0;
}
}  // namespace

struct FliteVoice::Voice {
    const Registration* registration = nullptr;
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

bool FliteVoice::Render(std::string_view text, TextPiece piece,
                        const std::vector<uint32_t>& wordStarts, const VoiceSettings& settings,
                        const std::function<bool()>& aborted, RenderedPiece& out) {
    if (!voice_) {
        static const bool initialised = (flite_init(), true);
        (void)initialised;
        auto voice = std::make_unique<Voice>();
        voice->registration = RegistrationOf(name_);
        if (!voice->registration) return false;
        voice->voice = voice->registration->make(nullptr);
        if (!voice->voice) return false;
        voice->baseMean = get_param_float(voice->voice->features, "int_f0_target_mean", 100.0f);
        voice->baseStretch = get_param_float(voice->voice->features, "duration_stretch", 1.0f);
        voice_ = std::move(voice);
    }
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
    // A piece cut inside a run without blanks runs on into the next as one word would:
    // without the pause flite closes every utterance with.
    const size_t tail = InRunAt(text, piece.end) ? ClosingPauseFrames(utt, rate) : 0;
    delete_utterance(utt);
    if (tail < out.samples.size())
        out.samples.erase(out.samples.end() - static_cast<ptrdiff_t>(tail), out.samples.end());
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

#pragma once
// Our viseme table: the mouth shape shown for a phoneme. It reads both espeak-ng's
// phoneme names ("a", "@", "t", "S", ...) and the ARPAbet names of flite ("aa",
// "sh", "pau", ...), classifying a phoneme by its leading letters.
#include <string_view>

#include "speech/speech.h"

TTSMOUTH MouthForPhoneme(std::string_view name);
// The closed, relaxed mouth of silence.
TTSMOUTH RestingMouth();
bool SameMouth(const TTSMOUTH& a, const TTSMOUTH& b);

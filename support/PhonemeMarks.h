#pragma once
// Phonemes from a lexicon entry travel inside the text a voice is given between these
// two control bytes. The speech service turns every control byte of the user's text
// into a blank before the lexicon is applied, so only a lexicon can put them there: the
// user's text never reaches an engine as phonemes.
inline constexpr char kPhonemesBegin = '\x01';
inline constexpr char kPhonemesEnd = '\x02';

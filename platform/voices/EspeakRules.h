#pragma once
// espeak-ng up to 1.51 (Debian 12's) leaves the match record of its letter-to-sound
// rules unset when a language's rules have no default group and a word holds a
// character no group names (a quote, a bracket, "!?", "€"): it then writes through the
// unset pointer it finds there, which crashes the process when the stack happens to
// hold a code address. 29 of its 112 dictionaries (Hindi, Ukrainian, Hebrew, Irish,
// Japanese...) lack that group. Handed a copy of its data in which those dictionaries
// carry an empty default group, it matches nothing there, exactly as before, but sets
// the record: the words sound the same and nothing unset is read.
#include <optional>
#include <string>
#include <string_view>

// A compiled dictionary (a *_dict file's bytes) with an empty default rule group added
// after its other groups; nothing when it has a default group already or its rules do
// not read as espeak-ng's format.
std::optional<std::string> WithDefaultRuleGroup(std::string_view dictionary);

// True for the espeak-ng versions that read the record unset (before 1.52).
bool ReadsUnsetMatchRecord(std::string_view version);

// The folder to hand espeak-ng as the one holding its espeak-ng-data: the system's
// files, linked, except the dictionaries WithDefaultRuleGroup mends, written out. Made
// once under the user's cache folder (or the temporary folder) and named after the
// version and the dictionaries' sizes and times, so that an update makes a new one;
// empty when nothing needs mending or no copy can be made, and espeak-ng then reads
// its own data.
std::string MendedEspeakDataParent(const std::string& systemData, std::string_view version);

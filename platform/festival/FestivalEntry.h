#pragma once
// How the programs reach the bridge of libparlen_festival.so, which they map only when a
// Festival voice first speaks: one C symbol, parlen_festival_entry, gives the bridge's
// functions. Both sides are built together from this header.
#include "platform/festival/FestivalBridge.h"

namespace festival_bridge {

struct Entry {
    bool (*start)();
    bool (*select)(const std::string& voice);
    bool (*synthesise)(const std::string& text, double length, Utterance& out);
};

}  // namespace festival_bridge

extern "C" PARLEN_FESTIVAL_API const festival_bridge::Entry* parlen_festival_entry();
inline constexpr const char* kFestivalEntrySymbol = "parlen_festival_entry";
inline constexpr const char* kFestivalLibraryName = "libparlen_festival.so";

// The programs' side of Festival's bridge. Festival's library is large (its speech tools,
// their static constructors, some 20 MB of mappings), so it is mapped only when a
// Festival voice first speaks: listing voices, and every other voice, never pay for it.
// Its version and data folder are known from the build.
#include <cstdio>

#include "platform/festival/FestivalEntry.h"
#include "support/BridgeLibrary.h"

namespace {
const festival_bridge::Entry* Map() {
    std::string why;
    using EntryFunction = const festival_bridge::Entry* (*)();
    if (auto entry = reinterpret_cast<EntryFunction>(
            MapBridgeLibrary(kFestivalLibraryName, kFestivalEntrySymbol, why)))
        return entry();
    // The voice's render fails and says so; this says why.
    std::fprintf(stderr, "Festival's voices cannot speak: %s\n", why.c_str());
    return nullptr;
}

const festival_bridge::Entry* Library() {
    static const festival_bridge::Entry* entry = Map();
    return entry;
}
}  // namespace

namespace festival_bridge {

bool Start() {
    const Entry* e = Library();
    return e && e->start();
}

bool Select(const std::string& voice) {
    const Entry* e = Library();
    return e && e->select(voice);
}

bool Synthesise(const std::string& text, double length, Utterance& out) {
    const Entry* e = Library();
    return e && e->synthesise(text, length, out);
}

std::string Version() {
    return PARLEN_FESTIVAL_VERSION;
}

std::string LibraryDirectory() {
    return PARLEN_FESTIVAL_LIBDIR;
}

}  // namespace festival_bridge

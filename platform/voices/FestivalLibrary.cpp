// The programs' side of Festival's bridge. Festival's library is large (its speech tools,
// their static constructors, some 20 MB of mappings), so it is mapped only when a
// Festival voice first speaks: listing voices, and every other voice, never pay for it.
// Its version and data folder are known from the build.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/festival/FestivalEntry.h"

namespace {
// The folder of the running program: the library lies beside it in the build tree and
// beside the window program when installed, and parlen-say, installed in bin/, finds it
// in the window program's folder. The run path alone would not do: a program built with
// the address sanitizer maps libraries from the sanitizer's own code, without it.
std::string ProgramDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

const festival_bridge::Entry* Map() {
    std::string why;
    const std::string programDir = ProgramDirectory();
    for (const std::string& name :
         {programDir + "/" + kFestivalLibraryName,
          programDir + "/../" PARLEN_PROGRAM_DIR "/" + kFestivalLibraryName,
          std::string(kFestivalLibraryName)}) {
        if (name.front() == '/' && access(name.c_str(), F_OK) != 0) continue;
        // Its symbols stay its own: flite defines some of the same names.
        void* library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            why = dlerror();
            continue;
        }
        using EntryFunction = const festival_bridge::Entry* (*)();
        auto entry = reinterpret_cast<EntryFunction>(dlsym(library, kFestivalEntrySymbol));
        if (entry) return entry();
        why = name + " has no " + kFestivalEntrySymbol;
        dlclose(library);
    }
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

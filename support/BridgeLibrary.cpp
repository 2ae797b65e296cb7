#include "support/BridgeLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

namespace {
std::string ProgramDirectory() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}
}  // namespace

void* MapBridgeLibrary(const std::string& name, const char* entrySymbol, std::string& why) {
    const std::string programDir = ProgramDirectory();
    why = name + " was not found";
    for (const std::string& file :
         {programDir + "/" + name, programDir + "/../" PARLEN_PROGRAM_DIR "/" + name, name}) {
        if (file.front() == '/' && access(file.c_str(), F_OK) != 0) continue;
        void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            why = dlerror();
            continue;
        }
        if (void* entry = dlsym(library, entrySymbol)) return entry;
        why = file + " has no " + entrySymbol;
        dlclose(library);
    }
    return nullptr;
}

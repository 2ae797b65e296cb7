#include "containers/M4bChapters.h"

#include <mutex>

#include "support/BridgeLibrary.h"
#include "support/Errors.h"

namespace containers {

const m4b_bridge::Entry* M4bWriter(std::string& why) {
    static std::mutex mutex;
    static const m4b_bridge::Entry* entry = nullptr;
    const std::lock_guard lock(mutex);
    using EntryFunction = const m4b_bridge::Entry* (*)();
    if (!entry)
        if (auto function = reinterpret_cast<EntryFunction>(
                MapBridgeLibrary(kM4bLibraryName, kM4bEntrySymbol, why)))
            entry = function();
    return entry;
}

std::string WithM4bChapters(const std::string& bytes, std::vector<ChapterMark>& chapters) {
    std::string why;
    const m4b_bridge::Entry* writer = M4bWriter(why);
    if (!writer) throw EWriteError("M4B files cannot be written: " + why);
    std::vector<m4b_bridge::Chapter> marks;
    for (const ChapterMark& c : chapters)
        marks.push_back({c.title, static_cast<int64_t>(c.startMs), static_cast<int64_t>(c.endMs)});
    std::string out;
    if (!writer->withChapters(bytes, marks, out, why)) throw EWriteError(why);
    if (!chapters.empty()) chapters.back().endMs = static_cast<uint64_t>(marks.back().endMs);
    return out;
}

}  // namespace containers

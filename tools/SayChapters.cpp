#include "tools/SayChapters.h"

#include <sys/stat.h>

#include <cstdio>

#include "support/Errors.h"

bool MarkChapters(const std::string& out, const SayBook& book,
                  std::span<const ParlenWordTime> marks, uint32_t rate,
                  std::vector<containers::ChapterMark>& placed) {
    if (book.chapters.empty()) return true;
    struct stat info {};
    if (out == "-" || stat(out.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr,
                     "parlen-say: warning: '%s' is not a regular file, so it holds no chapter "
                     "marks\n",
                     out.c_str());
        return true;
    }
    placed = containers::PlaceChapters(book.chapters, marks, rate);
    try {
        containers::WriteChapterMarks(out, FileFormatOf(out), placed, rate, book.tags);
        return true;
    } catch (const Exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
        return false;
    }
}

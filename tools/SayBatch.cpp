#include "tools/SayBatch.h"

#include <dirent.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>

#include "documents/Import.h"
#include "support/Errors.h"
#include "support/WholeFile.h"
#include "tools/SayBatchRun.h"
#include "tools/SayInput.h"

namespace {
using Clock = std::chrono::steady_clock;

std::optional<long long> ChangedNs(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsBookName(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    if (documents::FormatOfName(name) != documents::Format::PlainText) return true;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return ext == ".txt";
}

// Removes what an earlier run killed before its end left of this book: hidden files
// named prefix + six characters + suffix.
void RemoveLeftovers(const std::string& dir, const std::string& prefix, const std::string& suffix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() == prefix.size() + 6 + suffix.size() && name.starts_with(prefix) &&
            name.ends_with(suffix))
            ::unlink((dir + "/" + name).c_str());
    }
    ::closedir(d);
}

struct Prepared {
    BookRun run;
    std::string temp;      // the hidden file of a one-file book
    std::string finished;  // its file, or the mark of a book split by chapter
    Clock::time_point begun;
};

// The jobs a batch shares out: --jobs, else what a render would take by itself.
unsigned BatchJobs(const Options& o) {
    if (o.jobs) return *o.jobs;
    if (const char* env = std::getenv("PARLEN_RENDER_JOBS"); env && std::atoi(env) > 0)
        return static_cast<unsigned>(std::atoi(env));
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return 1;
}
}  // namespace

std::string BookStem(const std::string& input) {
    std::string stem = input == "-" ? "speech" : input.substr(input.rfind('/') + 1);
    if (const size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    return stem;
}

std::vector<std::string> BatchBooks(const std::vector<std::string>& inputs) {
    std::vector<std::string> books;
    for (const std::string& input : inputs) {
        if (input == "-" && inputs.size() > 1)
            throw EUsageError("standard input ('-') is read only as the one input");
        if (!IsFolder(input)) {
            books.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        if (DIR* d = ::opendir(input.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string path = input + "/" + e->d_name;
                // Regular files only: a pipe or a device there would hold the batch up.
                struct stat st {};
                if (IsBookName(e->d_name) && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                    found.push_back(path);
            }
            ::closedir(d);
        } else {
            throw EUsageError("cannot read the folder '" + input + "': " + std::strerror(errno));
        }
        if (found.empty())
            throw EUsageError("the folder '" + input + "' holds no document or text file");
        std::sort(found.begin(), found.end());
        books.insert(books.end(), found.begin(), found.end());
    }
    return books;
}

int SayBatch(const Options& o, const SayOneBook& say) {
    const std::vector<std::string> books = BatchBooks(o.inputs);
    const bool several = books.size() > 1;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    StatusBoard board(terminal && several);
    // Books at once, and render processes for each: fixed by the command line and the
    // count of books, so that a rerun renders each book as the first run did.
    const unsigned jobs = BatchJobs(o);
    const unsigned atOnce =
        several ? static_cast<unsigned>(std::min<size_t>(jobs, books.size())) : 1;
    struct Failed {
        std::string book, why;
    };
    std::vector<Failed> failed;
    size_t skipped = 0, rendered = 0;
    std::vector<Prepared> prepared(books.size());
    std::map<std::string, size_t> stems;
    const bool inParts = InParts(o);
    // A book alone that failed in its renderer has said why already.
    const auto fail = [&](size_t i, std::string why, bool told = false) {
        failed.push_back({books[i], why});
        if (several)
            board.Print(prepared[i].run.label + ": failed: " + why);
        else if (!told)
            board.Print("parlen-say: " + why);
    };

    // Ready to render, or false when it is finished already or cannot be begun.
    const auto prepare = [&](size_t i) {
        const std::string& input = books[i];
        const std::string stem = BookStem(input);
        Prepared& p = prepared[i];
        // Appended piece by piece: GCC 12 at -O3 takes "[" + std::to_string(...) for an
        // overlapping copy (-Wrestrict), a false alarm that fails the release build.
        std::string label = "[";
        label.append(std::to_string(i + 1)).append("/").append(std::to_string(books.size()));
        label.append("] ").append(input);
        p.run = BookRun{o, std::move(label), {}, false, -1};
        p.run.options.input = input;
        p.run.options.document.perChapter = o.perChapter;
        // Two books of one name ("a/x.md", "b/x.epub") would write the same output.
        if (const auto [first, fresh] = stems.emplace(stem, i); !fresh) {
            fail(i, "its output would be that of '" + books[first->second] +
                        "', which has the same name: rename one of them");
            return false;
        }
        if (several) p.run.options.jobs = std::max(1u, jobs / atOnce);
        // Several books split by chapter get a folder each.
        const std::string dir = inParts && several ? o.outDir + "/" + stem : o.outDir;
        if (dir != o.outDir && ::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            fail(i, "cannot make the folder '" + dir + "': " + std::strerror(errno));
            return false;
        }
        const std::string ext = "." + o.format;
        p.finished = inParts ? dir + "/.parlen-" + stem + ".done" : dir + "/" + stem + ext;
        const std::optional<long long> inputChanged =
            input == "-" ? std::nullopt : ChangedNs(input);
        const std::optional<long long> finishedChanged = ChangedNs(p.finished);
        if (inputChanged && finishedChanged && *finishedChanged >= *inputChanged) {
            ++skipped;
            board.Print(p.run.label + ": skipped: '" + (inParts ? dir : p.finished) +
                        "' is finished (newer than the book)");
            return false;
        }
        if (inputChanged) p.run.keepAfterNs = *inputChanged;
        if (inParts) {
            p.run.options.outDir = dir;
            ::unlink(p.finished.c_str());
            RemoveLeftovers(dir, ".parlen-book-", ".wav");
            RemoveLeftovers(dir, ".parlen-part-", ext);
        } else {
            RemoveLeftovers(dir, ".parlen-" + stem + "-", ext);
            p.temp = dir + "/.parlen-" + stem + "-XXXXXX" + ext;
            if (!MakeHiddenFile(p.temp, ext.size())) {
                p.temp.clear();
                fail(i, "cannot write into '" + dir + "': " + std::strerror(errno));
                return false;
            }
            p.run.options.out = p.temp;
        }
        p.begun = Clock::now();
        if (several && !terminal) board.Print(p.run.label + ": rendering");
        return true;
    };

    // The book's output named when whole, or its hidden file removed.
    const auto finish = [&](size_t i, int code, std::string why) {
        Prepared& p = prepared[i];
        // The hidden name means nothing to the reader: the book's own is named instead.
        if (!p.temp.empty())
            for (size_t at = why.find(p.temp); at != std::string::npos; at = why.find(p.temp, at))
                why.replace(at, p.temp.size(), p.finished);
        if (code == 0 && !inParts && ::rename(p.temp.c_str(), p.finished.c_str()) != 0) {
            why = "cannot name the file '" + p.finished + "': " + std::strerror(errno);
            code = kFailure;
        }
        if (code == 0 && inParts) {
            if (FILE* mark = std::fopen(p.finished.c_str(), "w")) std::fclose(mark);
        }
        if (code != 0 && !p.temp.empty()) ::unlink(p.temp.c_str());
        const double seconds = std::chrono::duration<double>(Clock::now() - p.begun).count();
        if (code == 0) {
            ++rendered;
            if (several) {
                char took[32];
                std::snprintf(took, sizeof took, "%.2f", seconds);
                board.Print(p.run.label + ": done in " + took + " s");
            }
        } else {
            fail(i, why.empty() ? "it could not be rendered" : why, why.empty());
        }
    };

    if (!several) {
        if (prepare(0)) {
            Prepared& p = prepared[0];
            bool lineShown = false;
            Clock::time_point shown{};
            p.run.progress = [&](double done) {
                if (!terminal || done <= 0 || Clock::now() - shown < std::chrono::milliseconds(200))
                    return;
                shown = Clock::now();
                const double spent = std::chrono::duration<double>(shown - p.begun).count();
                std::fprintf(stderr, "\r\033[K%s  %3d%%  %s left", p.run.label.c_str(),
                             static_cast<int>(done * 100),
                             MinutesSeconds(spent * (1 - done) / done).c_str());
                lineShown = true;
            };
            const int code = say(p.run);
            if (lineShown) std::fputs("\r\033[K", stderr);
            finish(0, code, {});
        }
        return failed.empty() ? 0 : kFailure;
    }

    size_t nextBook = 0;
    const bool whole = RenderInChildren(
        say, atOnce, board,
        [&]() -> std::optional<std::pair<size_t, BookRun>> {
            while (nextBook < books.size()) {
                const size_t i = nextBook++;
                if (prepare(i)) return std::make_pair(i, prepared[i].run);
            }
            return std::nullopt;
        },
        [&](size_t i, const ChildResult& result) { finish(i, result.code, result.why); });
    if (!whole)
        board.Print("parlen-say: interrupted: " + std::to_string(books.size() - nextBook) + " of " +
                    std::to_string(books.size()) + " books not begun");
    board.Print("parlen-say: " + std::to_string(rendered) + " rendered, " +
                std::to_string(skipped) + " finished before, " + std::to_string(failed.size()) +
                " failed");
    for (const Failed& f : failed) board.Print("parlen-say: failed: '" + f.book + "': " + f.why);
    // Stopped between two books, none failed, but the batch is not done.
    return failed.empty() && whole ? 0 : kFailure;
}

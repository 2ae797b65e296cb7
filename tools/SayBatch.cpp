#include "tools/SayBatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "documents/Import.h"
#include "support/Errors.h"
#include "tools/SayInput.h"
#include "tools/WholeFile.h"

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

std::string Clock2(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

// The book rendered by a child process, forked before this process ever starts an
// engine: the engines keep state from one text to the next (espeak-ng's wave
// generator among it), so each book starts as a run of its own would, and a batch
// resumed after an interrupt writes the very samples an uninterrupted one does. Its
// standard error is passed on, and its last line is the reason a failed book gets in
// the summary. Signals that stop the batch are passed to it once.
volatile sig_atomic_t gChild = 0;
volatile sig_atomic_t gStopped = 0;

void PassOn(int signal) {
    gStopped = 1;
    if (gChild > 0) ::kill(gChild, signal);
}

struct BookResult {
    int code = kFailure;
    bool interrupted = false;
    std::string why;
};

BookResult RenderInChild(const SayOneBook& say, BookRun& run) {
    BookResult result;
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        result.why = std::string("cannot start the renderer: ") + std::strerror(errno);
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Dies with the batch; its own process group, so that a terminal's interrupt
        // reaches it once, through the batch.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::setpgid(0, 0);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
        ::dup2(err[1], STDERR_FILENO);
        int code = kFailure;
        try {
            code = say(run);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "parlen-say: %s\n", e.what());
        }
        std::fflush(nullptr);
        ::_exit(code);
    }
    ::close(err[1]);
    if (pid < 0) {
        ::close(err[0]);
        result.why = std::string("cannot start the renderer: ") + std::strerror(errno);
        return result;
    }
    gChild = pid;
    std::string line;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(err[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::fwrite(buffer, 1, static_cast<size_t>(got), stderr);
        std::fflush(stderr);
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\r') {
                line.clear();
            } else if (c != '\n') {
                line += c;
            } else if (!line.empty()) {
                result.why = line.starts_with("parlen-say: ") ? line.substr(12) : line;
                line.clear();
            }
        }
    }
    ::close(err[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    gChild = 0;
    result.interrupted = gStopped != 0;
    if (WIFEXITED(status)) {
        result.code = WEXITSTATUS(status);
    } else {
        result.code = kFailure;
        result.why = std::string("the renderer ended by ") + ::strsignal(WTERMSIG(status));
    }
    return result;
}

BookResult RenderHere(const SayOneBook& say, BookRun& run) {
    BookResult result;
    result.code = say(run);
    result.interrupted = run.interrupted;
    return result;
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
                if (IsBookName(e->d_name) && !IsFolder(path)) found.push_back(path);
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
    struct sigaction passOn {};
    passOn.sa_handler = PassOn;
    sigemptyset(&passOn.sa_mask);
    struct sigaction saved[3];
    const int stopping[3] = {SIGINT, SIGTERM, SIGHUP};
    if (several)
        for (int k = 0; k < 3; ++k) ::sigaction(stopping[k], &passOn, &saved[k]);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    struct Failed {
        std::string book, why;
    };
    std::vector<Failed> failed;
    size_t skipped = 0, rendered = 0;
    gStopped = 0;
    for (size_t i = 0; i < books.size(); ++i) {
        if (gStopped) {
            std::fprintf(stderr, "parlen-say: interrupted: %zu of %zu books not begun\n",
                         books.size() - i, books.size());
            failed.push_back({books[i], "interrupted before it began"});
            break;
        }
        const std::string& input = books[i];
        const std::string stem = BookStem(input);
        const std::string label =
            "[" + std::to_string(i + 1) + "/" + std::to_string(books.size()) + "] " + input;
        BookRun run{o, {}, false, -1};
        run.options.input = input;
        run.options.document.perChapter = o.perChapter;
        // Several books split by chapter get a folder each.
        const std::string dir = o.perChapter && books.size() > 1 ? o.outDir + "/" + stem : o.outDir;
        if (dir != o.outDir && ::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            failed.push_back(
                {input, "cannot make the folder '" + dir + "': " + std::strerror(errno)});
            std::fprintf(stderr, "%s: failed: %s\n", label.c_str(), failed.back().why.c_str());
            continue;
        }
        const std::string ext = "." + o.format;
        // What says the book is finished: its file, or the mark left after its chapters.
        const std::string finished =
            o.perChapter ? dir + "/.parlen-" + stem + ".done" : dir + "/" + stem + ext;
        const std::optional<long long> inputChanged =
            input == "-" ? std::nullopt : ChangedNs(input);
        const std::optional<long long> finishedChanged = ChangedNs(finished);
        if (inputChanged && finishedChanged && *finishedChanged >= *inputChanged) {
            ++skipped;
            std::fprintf(stderr, "%s: skipped: '%s' is finished (newer than the book)\n",
                         label.c_str(), (o.perChapter ? dir : finished).c_str());
            continue;
        }
        if (inputChanged) run.keepAfterNs = *inputChanged;
        std::string temp;
        if (o.perChapter) {
            run.options.outDir = dir;
            ::unlink(finished.c_str());
            RemoveLeftovers(dir, ".parlen-book-", ".wav");
            RemoveLeftovers(dir, ".parlen-part-", ext);
        } else {
            RemoveLeftovers(dir, ".parlen-" + stem + "-", ext);
            temp = dir + "/.parlen-" + stem + "-XXXXXX" + ext;
            if (!MakeHiddenFile(temp, ext.size())) {
                failed.push_back(
                    {input, "cannot write into '" + dir + "': " + std::strerror(errno)});
                std::fprintf(stderr, "%s: failed: %s\n", label.c_str(), failed.back().why.c_str());
                continue;
            }
            run.options.out = temp;
        }
        bool lineShown = false;
        const Clock::time_point begun = Clock::now();
        Clock::time_point shown{};
        // One book alone tells only of a skip or a failure, besides the line kept current.
        const bool logged = several;
        if (terminal) {
            std::fprintf(stderr, "%s ...", label.c_str());
            lineShown = true;
        } else if (logged) {
            std::fprintf(stderr, "%s: rendering\n", label.c_str());
        }
        run.progress = [&](double done) {
            if (!terminal || done <= 0 || Clock::now() - shown < std::chrono::milliseconds(200))
                return;
            shown = Clock::now();
            const double spent = std::chrono::duration<double>(shown - begun).count();
            std::fprintf(stderr, "\r\033[K%s  %3d%%  %s left", label.c_str(),
                         static_cast<int>(done * 100), Clock2(spent * (1 - done) / done).c_str());
            lineShown = true;
        };
        const BookResult result = several ? RenderInChild(say, run) : RenderHere(say, run);
        int code = result.code;
        std::string why = result.why;
        // The hidden name means nothing to the reader: the book's own is named instead.
        if (!temp.empty())
            for (size_t at = why.find(temp); at != std::string::npos; at = why.find(temp, at))
                why.replace(at, temp.size(), finished);
        if (code == 0 && !o.perChapter && ::rename(temp.c_str(), finished.c_str()) != 0) {
            why = "cannot name the file '" + finished + "': " + std::strerror(errno);
            code = kFailure;
        }
        if (code == 0 && o.perChapter) {
            if (FILE* mark = std::fopen(finished.c_str(), "w")) std::fclose(mark);
        }
        if (code != 0 && !temp.empty()) ::unlink(temp.c_str());
        if (lineShown) std::fputs("\r\033[K", stderr);
        const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
        if (code == 0) {
            ++rendered;
            if (logged) std::fprintf(stderr, "%s: done in %.2f s\n", label.c_str(), seconds);
        } else {
            failed.push_back({input, why.empty() ? "it could not be rendered" : why});
            std::fprintf(stderr, "%s: failed\n", label.c_str());
        }
        if (result.interrupted) {
            std::fprintf(stderr, "parlen-say: interrupted: %zu of %zu books not begun\n",
                         books.size() - i - 1, books.size());
            break;
        }
    }
    if (several)
        for (int k = 0; k < 3; ++k) ::sigaction(stopping[k], &saved[k], nullptr);
    if (several) {
        std::fprintf(stderr, "parlen-say: %zu rendered, %zu finished before, %zu failed\n",
                     rendered, skipped, failed.size());
        for (const Failed& f : failed)
            std::fprintf(stderr, "parlen-say: failed: '%s': %s\n", f.book.c_str(), f.why.c_str());
    }
    return failed.empty() ? 0 : kFailure;
}

#include "platform/render/RenderWorker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "platform/render/ParallelRender.h"

namespace {
constexpr char kOutOfMemory[] = "Not enough memory to synthesise the text";

bool WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void Report(int fd, HRESULT code, const std::string& why) {
    std::string message(1, kWorkerFailureMark);
    message.append(reinterpret_cast<const char*>(&code), sizeof code);
    message += why.substr(0, 480);  // one write below the pipe's atomic size
    (void)!write(fd, message.data(), message.size());
}

// The descriptors open in this process, but the one that lists them.
std::vector<int> OpenDescriptors() {
    std::vector<int> open;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) {  // no /proc: every number up to the limit is tried
        const long limit = std::clamp(sysconf(_SC_OPEN_MAX), 1024L, 65536L);
        for (int fd = 0; fd < limit; ++fd)
            if (fcntl(fd, F_GETFD) >= 0) open.push_back(fd);
        return open;
    }
    while (const dirent* e = readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(e->d_name, &end, 10);
        if (end != e->d_name && *end == '\0' && fd != dirfd(fds)) open.push_back(int(fd));
    }
    closedir(fds);
    return open;
}

// A file, directory or device opened for reading only: what an engine may hold open to
// read its data (a regular file) or randomness (a device), and nothing a window's
// connection or wake-up is made of.
bool ReadOnly(int fd, bool regularOnly) {
    struct stat st {};
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY || fstat(fd, &st) != 0) return false;
    return S_ISREG(st.st_mode) || (!regularOnly && (S_ISCHR(st.st_mode) || S_ISDIR(st.st_mode)));
}

// A worker is a copy of the window's process: it holds the window's X11, D-Bus and
// sound-server sockets, its event loop's wake-ups, the pipes of its children and the
// file being written, with the window's signal handlers and mask. Of that it keeps only
// the standard streams, its spool and report pipe, and what is open for reading only;
// a worker that reads or keeps one of the others open can take or hold back what
// is the window's, and a handler of the window's would run in the worker.
void LeaveTheWindowsBehind(int spool, int report) {
    struct sigaction dflt {};
    dflt.sa_handler = SIG_DFL;
    sigemptyset(&dflt.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dflt, nullptr);
    // The engine stops reading a part's notes once it has its last piece.
    signal(SIGPIPE, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int fd : OpenDescriptors())
        if (fd > STDERR_FILENO && fd != spool && fd != report && !ReadOnly(fd, false)) close(fd);
}

// After fork, the files the engines hold open share one offset with the engine and the
// other workers, and Festival seeks and reads its lexicon file as it looks words up:
// their reads would interleave. Each worker reopens every read-only file it holds, at
// the same offset, so that its reads are its own.
void OwnReadOffsets() {
    for (int fd : OpenDescriptors()) {
        if (!ReadOnly(fd, true)) continue;
        char path[40];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        const int flags = fcntl(fd, F_GETFL);
        const int again = ::open(path, flags | O_CLOEXEC);  // a description of its own
        if (again < 0) continue;
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= 0) lseek(again, at, SEEK_SET);
        dup3(again, fd, (fcntl(fd, F_GETFD) & FD_CLOEXEC) ? O_CLOEXEC : 0);
        close(again);
    }
}

}  // namespace

[[noreturn]] void RunRenderWorker(VoiceBackend& voice, std::string_view text, TextPiece segment,
                                  size_t index, SpoolBudget& budget, const VoiceSettings& settings,
                                  int spool, const std::string& dir, int report, pid_t parent,
                                  bool yield) {
    // Dies with the thread that started it, and never outlives the render.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    LeaveTheWindowsBehind(spool, report);
    OwnReadOffsets();
    // Below the encoder, which must never wait for a processor; a worker that cannot
    // lower its priority still renders.
    if (yield) {
        errno = 0;
        const int now = getpriority(PRIO_PROCESS, 0);
        if (errno == 0)
            setpriority(PRIO_PROCESS, 0, std::min(now + ParallelRender::kYieldNice, 19));
    }
    try {
        const std::function<bool()> never = [] { return false; };
        RenderedPiece out;
        for (size_t cursor = segment.begin; cursor < segment.end;) {
            const PieceSize size = voice.PieceSizeAt(text, cursor);
            const TextPiece piece{cursor, std::min(segment.end, PieceEnd(text, cursor, size.soft,
                                                                         size.hard, size.run))};
            out.samples.clear();
            out.events.clear();
            out.pause = 0;
            if (HoldsText(text, piece) &&
                !voice.Render(text, piece, WordStarts(text, piece), settings, never, out)) {
                Report(report, E_FAIL, SynthesisFailure(piece.begin));
                _exit(1);
            }
            const SpoolHead head{piece.begin, piece.end, out.events.size(), out.samples.size(),
                                 out.pause};
            // Waits while the spools are full; the engine frees room as it reads.
            budget.Take(index, sizeof head + out.events.size() * sizeof(SynthEvent) +
                                   out.samples.size() * sizeof(int16_t));
            if (!WriteAll(spool, &head, sizeof head) ||
                !WriteAll(spool, out.events.data(), out.events.size() * sizeof(SynthEvent)) ||
                !WriteAll(spool, out.samples.data(), out.samples.size() * sizeof(int16_t))) {
                Report(report, AUDERR_WRITEFAILED,
                       "Cannot write the render's temporary file in " + dir + ": " +
                           std::strerror(errno));
                _exit(1);
            }
            (void)!write(report, &kWorkerPieceNote, 1);
            cursor = piece.end;
        }
    } catch (const std::bad_alloc&) {
        Report(report, E_OUTOFMEMORY, kOutOfMemory);
        _exit(1);
    } catch (...) {
        Report(report, E_FAIL, "A render worker failed");
        _exit(1);
    }
    _exit(0);
}

#include "tools/SayBatchRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {
using Clock = std::chrono::steady_clock;

// A progress report inside a child's standard error: this byte, the share done, a line end.
constexpr char kProgress = '\x01';
constexpr size_t kMostChildren = 64;

volatile sig_atomic_t gChildren[kMostChildren];
volatile sig_atomic_t gStopped = 0;

void PassOn(int signal) {
    gStopped = 1;
    for (size_t i = 0; i < kMostChildren; ++i)
        if (gChildren[i] > 0) ::kill(gChildren[i], signal);
}

// The handlers that pass signals on, for as long as the batch runs.
class PassingOn {
  public:
    PassingOn() {
        gStopped = 0;
        struct sigaction action {};
        action.sa_handler = PassOn;
        sigemptyset(&action.sa_mask);
        for (int k = 0; k < 3; ++k) ::sigaction(kSignals[k], &action, &saved_[k]);
    }
    ~PassingOn() {
        for (int k = 0; k < 3; ++k) ::sigaction(kSignals[k], &saved_[k], nullptr);
    }
    PassingOn(const PassingOn&) = delete;
    PassingOn& operator=(const PassingOn&) = delete;

  private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved_[3];
};

struct Child {
    size_t book = 0;
    size_t slot = 0;
    pid_t pid = -1;
    int fd = -1;
    std::string label, partial, last;
    Clock::time_point begun;
};

[[noreturn]] void RunChild(const SayOneBook& say, BookRun run, int err) {
    // Dies with the batch; its own process group, so that a terminal's interrupt
    // reaches it once, through the batch.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setpgid(0, 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
    ::dup2(err, STDERR_FILENO);
    Clock::time_point shown{};
    run.progress = [&](double done) {
        if (Clock::now() - shown < std::chrono::milliseconds(200)) return;
        shown = Clock::now();
        std::fprintf(stderr, "%c%.4f\n", kProgress, done);
        std::fflush(stderr);
    };
    int code = 1;
    try {
        code = say(run);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parlen-say: %s\n", e.what());
    }
    std::fflush(nullptr);
    ::_exit(code);
}

// Takes what a child wrote: progress onto the board, lines passed on.
void Take(Child& c, const char* data, size_t size, StatusBoard& board) {
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') {
            c.partial += data[i];
            continue;
        }
        if (!c.partial.empty() && c.partial[0] == kProgress) {
            const double done = std::atof(c.partial.c_str() + 1);
            const double spent = std::chrono::duration<double>(Clock::now() - c.begun).count();
            if (done > 0)
                board.Set(c.book, c.label + "  " + std::to_string(static_cast<int>(done * 100)) +
                                      "%  " + MinutesSeconds(spent * (1 - done) / done) + " left");
        } else if (!c.partial.empty()) {
            board.Print(c.partial);
            c.last = c.partial.starts_with("parlen-say: ") ? c.partial.substr(12) : c.partial;
        }
        c.partial.clear();
    }
}

ChildResult Reap(Child& c) {
    ChildResult result;
    int status = 0;
    while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.code = WEXITSTATUS(status);
        result.why = c.last;
    } else {
        result.code = 1;
        result.why = std::string("the renderer ended by ") + ::strsignal(WTERMSIG(status));
    }
    return result;
}
}  // namespace

std::string MinutesSeconds(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

void StatusBoard::Clear() {
    if (drawn_ > 0) std::fprintf(stderr, "\033[%zuA\r\033[J", drawn_);
    drawn_ = 0;
}

void StatusBoard::Draw() {
    for (const auto& line : lines_) std::fprintf(stderr, "%s\033[K\n", line.second.c_str());
    drawn_ = lines_.size();
    std::fflush(stderr);
}

void StatusBoard::Print(const std::string& line) {
    Clear();
    std::fprintf(stderr, "%s\n", line.c_str());
    if (terminal_) Draw();
    std::fflush(stderr);
}

void StatusBoard::Set(size_t book, std::string text) {
    if (!terminal_) return;
    std::erase_if(lines_, [&](const auto& line) { return line.first == book; });
    if (!text.empty()) lines_.emplace_back(book, std::move(text));
    Clear();
    Draw();
}

bool RenderInChildren(const SayOneBook& say, unsigned atOnce, StatusBoard& board,
                      const std::function<std::optional<std::pair<size_t, BookRun>>()>& next,
                      const std::function<void(size_t, const ChildResult&)>& done) {
    PassingOn passing;
    atOnce = std::max(1u, std::min<unsigned>(atOnce, kMostChildren));
    std::vector<Child> running;
    bool more = true;
    while (more || !running.empty()) {
        while (more && running.size() < atOnce && !gStopped) {
            std::optional<std::pair<size_t, BookRun>> book = next();
            if (!book) {
                more = false;
                break;
            }
            Child c;
            c.book = book->first;
            c.label = book->second.label;
            c.begun = Clock::now();
            for (size_t s = 0; s < atOnce; ++s)
                if (std::none_of(running.begin(), running.end(),
                                 [&](const Child& r) { return r.slot == s; })) {
                    c.slot = s;
                    break;
                }
            int err[2];
            if (::pipe2(err, O_CLOEXEC) != 0) {
                done(c.book,
                     {1, std::string("cannot start the renderer: ") + std::strerror(errno)});
                continue;
            }
            std::fflush(nullptr);
            c.pid = ::fork();
            if (c.pid == 0) RunChild(say, std::move(book->second), err[1]);
            ::close(err[1]);
            if (c.pid < 0) {
                ::close(err[0]);
                done(c.book,
                     {1, std::string("cannot start the renderer: ") + std::strerror(errno)});
                continue;
            }
            c.fd = err[0];
            gChildren[c.slot] = c.pid;
            board.Set(c.book, c.label + " ...");
            running.push_back(std::move(c));
        }
        if (gStopped) more = false;
        if (running.empty()) break;
        std::vector<pollfd> fds;
        for (const Child& c : running) fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) break;
        for (size_t i = running.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            Child& c = running[i];
            char buffer[4096];
            const ssize_t got = ::read(c.fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) {
                Take(c, buffer, static_cast<size_t>(got), board);
                continue;
            }
            ::close(c.fd);
            if (!c.partial.empty()) Take(c, "\n", 1, board);
            const ChildResult result = Reap(c);
            gChildren[c.slot] = 0;
            board.Set(c.book, {});
            done(c.book, result);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    return gStopped == 0;
}

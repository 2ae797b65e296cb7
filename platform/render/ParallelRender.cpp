#include "platform/render/ParallelRender.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/render/RenderWorker.h"

namespace {
// Segments hold at least this much text, so that a worker's start-up stays small
// beside its work, and at most this much (about 160 MB of audio), so that the workers
// of a long text take turns and finish close together.
constexpr size_t kMinSegment = 2048;
constexpr size_t kMaxSegment = 65536;
constexpr unsigned kMaxJobs = 64;
// How long one call waits for a worker's next piece before it lets other engines run.
constexpr int kAwaitMs = 5;

std::atomic<unsigned> setJobs{0};
std::atomic<uint64_t> setSpoolBudget{0};

using Cut = PieceEndKind;

// Of the piece ends, the one nearest to target among the best kind within reach of
// it; the nearest of any kind when none is within reach.
size_t ChooseCut(const std::vector<std::pair<size_t, Cut>>& ends, size_t target, size_t reach) {
    auto from = std::lower_bound(ends.begin(), ends.end(),
                                 std::make_pair(target - std::min(target, reach), Cut::Piece));
    size_t best = SIZE_MAX, bestDistance = SIZE_MAX;
    Cut bestKind = Cut::Piece;
    for (auto it = from; it != ends.end() && it->first <= target + reach; ++it) {
        const size_t distance = it->first > target ? it->first - target : target - it->first;
        if (best == SIZE_MAX || it->second > bestKind ||
            (it->second == bestKind && distance < bestDistance)) {
            best = it->first;
            bestKind = it->second;
            bestDistance = distance;
        }
    }
    if (best != SIZE_MAX) return best;
    auto after = std::lower_bound(ends.begin(), ends.end(), std::make_pair(target, Cut::Piece));
    if (after != ends.end()) return after->first;
    return ends.empty() ? SIZE_MAX : ends.back().first;
}

int OpenSpool(std::string& dir) {
    const char* tmp = std::getenv("TMPDIR");
    dir = tmp && *tmp ? tmp : "/tmp";
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A filesystem without unnamed files: a named one, gone from the directory at once.
    std::string name = dir + "/parlen-render-XXXXXX";
    const int named = mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) unlink(name.c_str());
    return named;
}

bool ReadAllAt(int fd, void* data, size_t size, uint64_t offset) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

unsigned ParallelRender::Jobs() {
    if (const unsigned jobs = setJobs.load()) return jobs;
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    const unsigned perCore =
        sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0
            ? std::min<unsigned>(kMaxJobs, CPU_COUNT(&cpus))
            : static_cast<unsigned>(std::clamp<long>(sysconf(_SC_NPROCESSORS_ONLN), 1, kMaxJobs));
    const char* env = std::getenv("PARLEN_RENDER_JOBS");
    if (!env) return perCore;
    // A value the user set is not ignored in silence: what is used instead is said, once.
    static std::atomic<bool> warned{false};
    auto warn = [&](bool tooMany, unsigned used) {
        if (!warned.exchange(true))
            std::fprintf(stderr,
                         "parlen: PARLEN_RENDER_JOBS='%s' is %s %u; %u render processes are used\n",
                         env, tooMany ? "more than the most," : "not a whole number from 1 to",
                         kMaxJobs, used);
        return used;
    };
    size_t digits = 0;
    while (env[digits] >= '0' && env[digits] <= '9') ++digits;
    if (digits == 0 || env[digits] != '\0') return warn(false, perCore);
    errno = 0;
    const unsigned long long jobs = std::strtoull(env, nullptr, 10);
    if (jobs < 1) return warn(false, perCore);
    if (jobs > kMaxJobs || errno == ERANGE) return warn(true, kMaxJobs);
    return static_cast<unsigned>(jobs);
}

void ParallelRender::SetJobs(unsigned jobs) {
    setJobs = std::min(jobs, kMaxJobs);
}

void ParallelRender::SetSpoolBudget(uint64_t bytes) {
    setSpoolBudget = bytes;
}

std::unique_ptr<ParallelRender> ParallelRender::Plan(std::string_view text, VoiceBackend& voice,
                                                     const VoiceSettings& settings, unsigned jobs,
                                                     bool yield) {
    if (jobs < 2 || text.size() < 2 * kMinSegment) return nullptr;
    // The pieces one process would render, and how each ends.
    std::vector<TextPiece> pieces;
    std::vector<std::pair<size_t, Cut>> ends;
    for (size_t cursor = 0; cursor < text.size();) {
        const PieceSize size = voice.PieceSizeAt(text, cursor);
        const size_t end = PieceEnd(text, cursor, size.soft, size.hard, size.run);
        if (end <= cursor) break;
        pieces.push_back(TextPiece{cursor, end});
        if (end < text.size()) ends.emplace_back(end, KindOfPieceEnd(text, end));
        cursor = end;
    }
    // Each segment takes a share of what is left, so they shrink towards the end and
    // the workers finish close together.
    std::unique_ptr<ParallelRender> render(new ParallelRender(jobs, yield));
    size_t begin = 0;
    for (;;) {
        const size_t left = text.size() - begin;
        const size_t want = std::clamp<size_t>(left / (size_t{jobs} * 2), kMinSegment, kMaxSegment);
        if (left < want + kMinSegment) break;
        const size_t cut = ChooseCut(ends, begin + want, want / 4);
        if (cut == SIZE_MAX || cut <= begin || cut >= text.size()) break;
        render->segments_.emplace_back(TextPiece{begin, cut});
        begin = cut;
    }
    render->segments_.emplace_back(TextPiece{begin, text.size()});
    if (render->segments_.size() < 2) return nullptr;
    const uint64_t budget = setSpoolBudget.load();
    render->budget_ =
        std::make_unique<SpoolBudget>(budget ? budget : kSpoolBudget, render->segments_.size());
    if (!render->budget_->Valid()) return nullptr;  // unbounded spools: one process
    voice.Prepare(text, pieces, settings);
    return render;
}

ParallelRender::~ParallelRender() {
    for (Segment& s : segments_) {
        if (s.pid > 0) kill(s.pid, SIGKILL);
    }
    Reap(true);
    for (Segment& s : segments_) Close(s);
}

void ParallelRender::Close(Segment& s) {
    if (s.spool >= 0) close(s.spool);
    if (s.report >= 0) close(s.report);
    s.spool = s.report = -1;
}

void ParallelRender::Reap(bool wait) {
    for (Segment& s : segments_) {
        if (s.pid <= 0) continue;
        int status = 0;
        pid_t done;
        do {
            done = waitpid(s.pid, &status, wait ? 0 : WNOHANG);
        } while (done < 0 && errno == EINTR);
        if (done == s.pid || (done < 0 && errno == ECHILD)) {
            s.exited = true;
            s.status = done == s.pid ? status : 0;
            s.pid = -1;
        }
    }
}

void ParallelRender::Launch(VoiceBackend& voice, std::string_view text,
                            const VoiceSettings& settings, size_t index) {
    Segment& s = segments_[index];
    s.launched = true;
    s.here = true;  // unless a worker starts below
    std::string dir;
    const int spool = OpenSpool(dir);
    if (spool < 0) return;
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(spool);
        return;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        RunRenderWorker(voice, text, s.range, index, *budget_, settings, spool, dir, report[1],
                        parent, yield_);
    }
    close(report[1]);
    fcntl(report[0], F_SETFL, O_NONBLOCK);
    if (pid < 0) {
        close(spool);
        close(report[0]);
        return;
    }
    s.here = false;
    s.pid = pid;
    s.spool = spool;
    s.report = report[0];
}

ParallelRender::Result ParallelRender::Fail(HRESULT code, std::string why) {
    failure_ = code;
    why_ = std::move(why);
    return Result::Failed;
}

void ParallelRender::Drain(Segment& s) {
    char bytes[512];
    for (ssize_t n; s.report >= 0 && (n = read(s.report, bytes, sizeof bytes)) > 0;) {
        std::string_view got(bytes, static_cast<size_t>(n));
        if (s.failure.empty()) {
            const size_t mark = got.find(kWorkerFailureMark);
            if (mark == std::string_view::npos) continue;  // notes of pieces written
            got.remove_prefix(mark);
        }
        s.failure.append(got);
    }
}

void ParallelRender::AwaitWorkers(int ms) {
    std::vector<pollfd> fds;
    for (const Segment& s : segments_)
        if (s.pid > 0 && s.report >= 0) fds.push_back(pollfd{s.report, POLLIN, 0});
    if (fds.empty() || poll(fds.data(), fds.size(), ms) <= 0) return;
    for (Segment& s : segments_)
        if (s.pid > 0) Drain(s);
}

ParallelRender::Result ParallelRender::Next(VoiceBackend& voice, std::string_view text,
                                            const VoiceSettings& settings, TextPiece& piece,
                                            RenderedPiece& out) {
    if (FAILED(failure_)) return Result::Failed;
    while (current_ < segments_.size() && piece.begin >= segments_[current_].range.end) {
        Close(segments_[current_++]);  // read to its end: its spool goes
        budget_->Reading(current_);
    }
    if (current_ >= segments_.size())
        return Fail(E_UNEXPECTED, "The text's parts and its rendering are out of step");
    Segment& s = segments_[current_];
    for (int round = 0;; ++round) {
        Reap(false);
        // Workers of parts already read are only exiting: they do not hold back the
        // part being read, which must have a worker (or be rendered here) to be read.
        size_t running = 0;
        for (size_t i = current_; i < segments_.size(); ++i)
            running += segments_[i].pid > 0 ? 1 : 0;
        // No further ahead than twice the workers, so the spools stay bounded.
        const size_t last = std::min(segments_.size(), current_ + 2 * size_t{jobs_});
        for (size_t i = current_; i < last && running < jobs_; ++i) {
            if (segments_[i].launched) continue;
            Launch(voice, text, settings, i);
            running += segments_[i].pid > 0 ? 1 : 0;
        }
        if (s.here) return Result::Here;
        // Whatever it wrote before it exited is in the spool by now.
        const bool exited = s.exited;
        const Result result = ReadPiece(s, piece, out);
        if (result != Result::Wait) return result;
        if (exited) return Stopped(s);
        // A short wait for a note from a worker (a piece written, or its end) keeps
        // this thread free for other engines and wakes at once for the next piece.
        if (round > 0) return Result::Wait;
        AwaitWorkers(kAwaitMs);
    }
}

ParallelRender::Result ParallelRender::Stopped(Segment& s) {
    Drain(s);
    HRESULT code = AUDERR_WRITEFAILED;
    if (s.failure.size() > 1 + sizeof code) {
        std::memcpy(&code, s.failure.data() + 1, sizeof code);
        return Fail(code, s.failure.substr(1 + sizeof code));
    }
    const std::string how = WIFSIGNALED(s.status)
                                ? std::string("was stopped by signal ") +
                                      std::to_string(WTERMSIG(s.status)) + " (" +
                                      sigabbrev_np(WTERMSIG(s.status)) + ")"
                                : "exited with code " + std::to_string(WEXITSTATUS(s.status));
    return Fail(code, "A render worker " + how + " before its part of the text was done");
}

ParallelRender::Result ParallelRender::ReadPiece(Segment& s, TextPiece& piece, RenderedPiece& out) {
    struct stat st;
    if (fstat(s.spool, &st) != 0)
        return Fail(AUDERR_WRITEFAILED, std::string("Cannot read the render's temporary file: ") +
                                            std::strerror(errno));
    const auto size = static_cast<uint64_t>(st.st_size);
    SpoolHead head{};
    if (size < s.read + sizeof head) return Result::Wait;
    if (!ReadAllAt(s.spool, &head, sizeof head, s.read) || head.begin != piece.begin ||
        head.end <= head.begin || head.end > s.range.end || head.pause > head.samples)
        return Fail(E_UNEXPECTED, "A render worker's output is out of step with the text");
    const uint64_t events = head.events * sizeof(SynthEvent);
    const uint64_t samples = head.samples * sizeof(int16_t);
    if (size < s.read + sizeof head + events + samples) return Result::Wait;
    out.events.resize(head.events);
    out.samples.resize(head.samples);
    if (!ReadAllAt(s.spool, out.events.data(), events, s.read + sizeof head) ||
        !ReadAllAt(s.spool, out.samples.data(), samples, s.read + sizeof head + events))
        return Fail(AUDERR_WRITEFAILED, std::string("Cannot read the render's temporary file: ") +
                                            std::strerror(errno));
    out.pause = head.pause;
    s.read += sizeof head + events + samples;
    budget_->Give(current_, sizeof head + events + samples);
    // What is read goes from the disk too: the blocks it fills whole are punched out
    // (a filesystem that cannot keeps them until the part is read to its end).
    const uint64_t from = s.punched & ~uint64_t{4095};
    if (fallocate(s.spool, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                  static_cast<off_t>(s.read - from)) == 0)
        s.punched = s.read;
    piece.end = head.end;
    return Result::Piece;
}

#include "documents/PdfPages.h"

#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace documents {
namespace {

// Below this many pages a second process costs more than it saves.
constexpr int kPagesWorthAChild = 24;

bool ProcessorFree() {
    cpu_set_t set;
    CPU_ZERO(&set);
    const int processors = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    double load = 0;
    return processors >= 2 && ::getloadavg(&load, 1) == 1 && load < processors - 0.5;
}

template <class T>
void Put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
bool Get(std::string_view& in, T& value) {
    if (in.size() < sizeof value) return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

// The child reading pages [from, to) into an anonymous file; killed and reaped when
// the import ends early.
class Child {
  public:
    Child(const pdf_bridge::Entry& reader, pdf_bridge::Document* document, int from, int to) {
        if (from >= to) return;
        fd_ = ::memfd_create("parlen-pdf-pages", MFD_CLOEXEC);
        if (fd_ < 0) return;
        pid_ = ::fork();
        if (pid_ != 0) return;
        // The child: the reader, the file and nothing else; it never returns.
        std::string out;
        for (int i = from; i < to; ++i) {
            pdf_bridge::Page page;
            if (!reader.readPage(document, i, page)) ::_exit(2);
            AppendPage(out, page);
        }
        for (size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fd_, out.data() + done, out.size() - done);
            if (n <= 0) ::_exit(3);
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Reap();
        }
        if (fd_ >= 0) ::close(fd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }

    // The pages the child read, once it has ended; false when it did not read them all
    // (the caller then reads them itself).
    bool Pages(std::vector<pdf_bridge::Page>& pages, int from, int to) {
        Reap();
        const off_t size = ::lseek(fd_, 0, SEEK_END);
        if (size <= 0) return false;
        void* map = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd_, 0);
        if (map == MAP_FAILED) return false;
        std::string_view in(static_cast<const char*>(map), static_cast<size_t>(size));
        int i = from;
        while (i < to && TakePage(in, pages[static_cast<size_t>(i)])) ++i;
        ::munmap(map, static_cast<size_t>(size));
        return i == to && in.empty();
    }

  private:
    void Reap() {
        // Whether it ended well shows in what it wrote: a program of the caller's that
        // reaps every child may have taken its status already.
        while (pid_ > 0 && ::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    int fd_ = -1;
    pid_t pid_ = -1;
};

}  // namespace

std::mutex& PdfReaderMutex() {
    static std::mutex mutex;
    return mutex;
}

void AppendPage(std::string& out, const pdf_bridge::Page& page) {
    Put(out, page.width);
    Put(out, page.height);
    Put(out, static_cast<uint64_t>(page.lines.size()));
    for (const pdf_bridge::Line& line : page.lines) {
        Put(out, line.box);
        Put(out, line.fontSize);
        Put(out, static_cast<uint64_t>(line.text.size()));
        out += line.text;
    }
}

bool TakePage(std::string_view& in, pdf_bridge::Page& page) {
    uint64_t lines = 0;
    if (!Get(in, page.width) || !Get(in, page.height) || !Get(in, lines)) return false;
    // Each line takes more than 40 bytes: a count beyond that is no page of ours.
    if (lines > in.size() / 40) return false;
    page.lines.resize(static_cast<size_t>(lines));
    for (pdf_bridge::Line& line : page.lines) {
        uint64_t size = 0;
        if (!Get(in, line.box) || !Get(in, line.fontSize) || !Get(in, size) || size > in.size())
            return false;
        line.text.assign(in.substr(0, static_cast<size_t>(size)));
        in.remove_prefix(static_cast<size_t>(size));
    }
    return true;
}

std::vector<pdf_bridge::Page> ReadPdfPages(
    const pdf_bridge::Entry& reader, pdf_bridge::Document* document, int count,
    const Source& source,
    const std::function<void(const std::vector<pdf_bridge::Page>&, int read)>& meanwhile,
    Readers readers) {
    std::vector<pdf_bridge::Page> pages(static_cast<size_t>(count));
    const bool two =
        count >= 2 && (readers == Readers::Two || (readers == Readers::AsTheMachineAllows &&
                                                   count >= kPagesWorthAChild && ProcessorFree()));
    const int half = two ? count * 2 / 5 : count;
    // The fork happens with no other thread inside the reader.
    Child child = WithPdfReader([&] { return Child(reader, document, half, count); });
    const int mine = child.Started() ? half : count;
    const auto read = [&](int i) {
        if (!WithPdfReader(
                [&] { return reader.readPage(document, i, pages[static_cast<size_t>(i)]); }))
            source.Refuse("it is damaged: page " + std::to_string(i + 1) + " cannot be read");
    };
    // The share of the pages this process has read: the child's half arrives at once.
    const auto progress = [&](int i) { source.Progress(static_cast<double>(i) / count); };
    for (int i = 0; i < mine; ++i) progress(i), read(i);
    if (meanwhile) meanwhile(pages, mine);
    if (mine < count && !child.Pages(pages, mine, count))
        for (int i = mine; i < count; ++i) progress(i), read(i);
    return pages;
}

}  // namespace documents

#include "tools/SaySignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

int wakePipe[2] = {-1, -1};
volatile sig_atomic_t caught = 0;
pid_t owner = 0;

void OnSignal(int signal) {
    // A render worker (a fork of this process) leaves its end to the program.
    if (::getpid() != owner) return;
    const int saved = errno;
    if (caught != 0) {
        constexpr char kAtOnce[] =
            "parlen-say: ended at once by a second signal; an audio file being written may be "
            "cut short\n";
        (void)!::write(STDERR_FILENO, kAtOnce, sizeof kAtOnce - 1);
        ::_exit(1);
    }
    caught = signal;
    const char byte = 1;
    (void)!::write(wakePipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

SaySignals::SaySignals(std::function<void(int)> interrupted)
    : interrupted_(std::move(interrupted)) {
    caught = 0;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // then signals end it
    owner = ::getpid();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

SaySignals::~SaySignals() {
    if (wakePipe[0] < 0) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

int SaySignals::Caught() {
    return caught;
}

int SaySignals::Descriptor() const {
    return delivered_ ? -1 : wakePipe[0];
}

void SaySignals::Deliver() {
    char bytes[16];
    while (::read(wakePipe[0], bytes, sizeof bytes) > 0) {
    }
    if (delivered_ || caught == 0) return;
    delivered_ = true;
    interrupted_(caught);
}

const char* SaySignals::Name(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

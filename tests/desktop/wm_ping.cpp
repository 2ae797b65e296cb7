// Pings an X window the way a window manager does to find out whether it still
// answers: a _NET_WM_PING message of the WM_PROTOCOLS kind every INTERVAL_MS, which
// the window's event loop sends back to the root window. Prints one line per ping,
// "SENT RTT" (SENT in ms on the wall clock, since the epoch; RTT in ms), and on
// SIGTERM or SIGINT one line "SENT unanswered AGE" for each ping still unanswered.
//   wm_ping WINDOW_ID [INTERVAL_MS]
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {
volatile std::sig_atomic_t stopping = 0;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: wm_ping WINDOW_ID [INTERVAL_MS]\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (!end || *end || window == 0) {
        std::fprintf(stderr, "wm_ping: not a window id: %s\n", argv[1]);
        return 2;
    }
    const int interval = argc == 3 ? std::atoi(argv[2]) : 50;
    if (interval <= 0) {
        std::fprintf(stderr, "wm_ping: not an interval: %s\n", argv[2]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "wm_ping: cannot open the display\n");
        return 1;
    }
    std::signal(SIGTERM, [](int) { stopping = 1; });
    std::signal(SIGINT, [](int) { stopping = 1; });
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Window root = DefaultRootWindow(display);
    // The answers come as messages to the root window for a window manager.
    XSelectInput(display, root, SubstructureNotifyMask | StructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    std::map<long, double> waiting;  // ping number -> when it was sent
    long next = 1;
    double due = NowMs();
    while (!stopping) {
        if (NowMs() >= due) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(ping);
            event.xclient.data.l[1] = next;  // the time stamp, which comes back unchanged
            event.xclient.data.l[2] = long(window);
            if (!XSendEvent(display, window, False, NoEventMask, &event)) {
                std::fprintf(stderr, "wm_ping: the ping was not sent\n");
                return 1;
            }
            XFlush(display);
            waiting[next++] = NowMs();
            due += interval;
        }
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != ClientMessage || event.xclient.message_type != protocols ||
                Atom(event.xclient.data.l[0]) != ping)
                continue;
            const auto it = waiting.find(event.xclient.data.l[1]);
            if (it == waiting.end()) continue;
            std::printf("%.0f %.1f\n", it->second, NowMs() - it->second);
            waiting.erase(it);
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        const double wait = due - NowMs();
        ::poll(&fd, 1, wait > 0 ? int(wait) + 1 : 0);
    }
    const double now = NowMs();
    for (const auto& [number, sent] : waiting)
        std::printf("%.0f unanswered %.1f\n", sent, now - sent);
    XCloseDisplay(display);
    return 0;
}

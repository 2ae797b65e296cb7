// Asks an X window to close the way a window manager does when its close button is
// pressed: a WM_DELETE_WINDOW message of the WM_PROTOCOLS kind. Without a window
// manager on the display nothing else sends it.
//   wm_close WINDOW_ID
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wm_close WINDOW_ID\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (!end || *end || window == 0) {
        std::fprintf(stderr, "wm_close: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "wm_close: cannot open the display\n");
        return 1;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (!sent) {
        std::fprintf(stderr, "wm_close: the message was not sent\n");
        return 1;
    }
    return 0;
}

// orvanta-x11-title-window TITLE: a stand-in for the companion window in tests of the whole program.
// It opens a top-level window with exactly this title on $DISPLAY (WM_NAME and _NET_WM_NAME), prints
// "ready" once the server has mapped it, and keeps it until SIGTERM arrives or its standard input closes;
// then it destroys the window and exits 0. The test controls the window's life through the pipe alone and
// needs no signal; a test that dies closes the pipe and so takes the window with it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onTerminate(int) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

bool isAscii(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

void setTitle(Display* display, Window window, const std::string& title) {
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    const auto* bytes = reinterpret_cast<const unsigned char*>(title.data());
    const int length = static_cast<int>(title.size());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8String, 8,
                    PropModeReplace, bytes, length);
    // WM_NAME as plain STRING only when that is unambiguous; otherwise as UTF-8, as toolkits do.
    XChangeProperty(display, window, XA_WM_NAME, isAscii(title) ? XA_STRING : utf8String, 8, PropModeReplace,
                    bytes, length);
}

// Until SIGTERM, end of input or a lost display; input other than its end is ignored.
void waitForEnd(Display* display) {
    pollfd watched[3] = {
        {STDIN_FILENO, POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
    for (;;) {
        if (poll(watched, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[1].revents != 0) return;
        if (watched[0].revents != 0) {
            char buffer[256];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0 && !(got < 0 && errno == EINTR)) return;
        }
        if (watched[2].revents & (POLLHUP | POLLERR)) return;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanta-x11-title-window TITLE\n");
        return 2;
    }
    if (pipe(signalPipe) != 0) {
        std::perror("orvanta-x11-title-window: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "orvanta-x11-title-window: cannot open display \"%s\"\n", XDisplayName(nullptr));
        return 1;
    }
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 200, 0,
                                              BlackPixel(display, DefaultScreen(display)),
                                              WhitePixel(display, DefaultScreen(display)));
    setTitle(display, window, argv[1]);
    XMapWindow(display, window);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    waitForEnd(display);

    XDestroyWindow(display, window);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}

// Finding a window by title the way FindWindow does, with no class: the top-level windows are those the
// window manager lists in _NET_CLIENT_LIST_STACKING / _NET_CLIENT_LIST (topmost first), then, for a display
// without such a window manager or a window it does not list yet, the root's children and one level below
// them (a reparenting window manager puts each client window into a frame of its own). A title is read
// from _NET_WM_NAME (UTF-8) and from WM_NAME (Latin-1, UTF-8 or compound text) and compared byte for byte
// in UTF-8; only as much of a property is fetched as could still be equal to the title.
//
// Xlib's error handler is process-wide and its default ends the program. ErrorTrap installs a handler for
// the span of one call, answers only for this connection, syncs before it hands the previous handler back,
// so that no error of ours arrives after it is gone, and passes errors of other connections on.
#include "adapters/x11/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace orvanta {

namespace {

class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {
        trapped_ = display;
        errorCode_ = Success;
        previous_ = XSetErrorHandler(&ErrorTrap::handle);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
        trapped_ = nullptr;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Whether any request sent so far under this trap failed; waits for the server's answer.
    bool failed() {
        XSync(display_, False);
        return errorCode_ != Success;
    }

private:
    static int handle(Display* display, XErrorEvent* error) {
        if (display == trapped_) {
            errorCode_ = error->error_code;
            return 0;
        }
        return previous_ != nullptr ? previous_(display, error) : 0;
    }

    Display* display_;
    static inline Display* trapped_ = nullptr;
    static inline int errorCode_ = Success;
    static inline XErrorHandler previous_ = nullptr;
};

struct XFreeDeleter {
    void operator()(void* data) const {
        if (data != nullptr) XFree(data);
    }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long bytesAfter = 0;
    std::unique_ptr<unsigned char, XFreeDeleter> data;
};

std::optional<Property> readProperty(Display* display, Window window, Atom name, long maxLongs) {
    Property property;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display, window, name, 0, maxLongs, False, AnyPropertyType, &property.type,
                           &property.format, &property.items, &property.bytesAfter, &data);
    property.data.reset(data);
    if (status != Success || property.type == None) return std::nullopt;
    return property;
}

std::string latin1ToUtf8(const unsigned char* text, std::size_t length) {
    std::string utf8;
    utf8.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

struct Atoms {
    Atom utf8String;
    Atom compoundText;
    Atom netWmName;
    Atom netActiveWindow;
    Atom netClientList;
    Atom netClientListStacking;
};

class TitleMatcher {
public:
    TitleMatcher(Display* display, const Atoms& atoms, const std::string& title)
        : display_(display), atoms_(atoms), title_(title) {}

    bool matches(Window window) const { return netWmNameMatches(window) || wmNameMatches(window); }

private:
    // Enough 32-bit units to hold the title and one byte more: a longer property cannot be equal.
    long fetchLength() const { return static_cast<long>(title_.size() / 4 + 2); }

    bool netWmNameMatches(Window window) const {
        const auto name = readProperty(display_, window, atoms_.netWmName, fetchLength());
        if (!name || name->type != atoms_.utf8String || name->format != 8 || name->bytesAfter != 0) {
            return false;
        }
        return bytesEqual(name->data.get(), name->items);
    }

    bool wmNameMatches(Window window) const {
        // Compound text is Latin-1 until its first escape sequence; only text with escapes needs Xlib's
        // converter, and for that the whole property.
        const long length = fetchLength() + 16 * 1024;
        const auto name = readProperty(display_, window, XA_WM_NAME, length);
        if (!name || name->format != 8 || name->bytesAfter != 0) return false;
        const unsigned char* text = name->data.get();
        const std::size_t size = name->items;
        if (name->type == atoms_.utf8String) return bytesEqual(text, size);
        const bool escaped = std::find(text, text + size, 0x1B) != text + size;
        if (name->type == XA_STRING || (name->type == atoms_.compoundText && !escaped)) {
            return size <= title_.size() && latin1ToUtf8(text, size) == title_;
        }
        if (name->type == atoms_.compoundText) return compoundTextMatches(*name);
        return false;
    }

    bool compoundTextMatches(const Property& name) const {
        XTextProperty text{name.data.get(), name.type, name.format, name.items};
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(display_, &text, &list, &count) != Success || list == nullptr) {
            return false;
        }
        const bool equal = count >= 1 && title_ == list[0];
        XFreeStringList(list);
        return equal;
    }

    bool bytesEqual(const unsigned char* text, std::size_t size) const {
        return size == title_.size() && std::memcmp(text, title_.data(), size) == 0;
    }

    Display* display_;
    const Atoms& atoms_;
    const std::string& title_;
};

std::vector<Window> children(Display* display, Window window) {
    Window root = 0;
    Window parent = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &list, &count) == 0) return {};
    std::vector<Window> result(list, list + count);
    if (list != nullptr) XFree(list);
    std::reverse(result.begin(), result.end());  // topmost first
    return result;
}

std::vector<Window> clientList(Display* display, Window root, Atom name) {
    const auto list = readProperty(display, root, name, 64 * 1024);
    if (!list || list->type != XA_WINDOW || list->format != 32) return {};
    // Format 32 comes as an array of long, whatever the size of long.
    const auto* ids = reinterpret_cast<const unsigned long*>(list->data.get());
    std::vector<Window> result(ids, ids + list->items);
    std::reverse(result.begin(), result.end());
    return result;
}

std::int32_t asHandle(Window window) {
    return window <= static_cast<Window>(std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(window)
               : 0;
}

Atoms internAtoms(Display* display) {
    return Atoms{
        XInternAtom(display, "UTF8_STRING", False),
        XInternAtom(display, "COMPOUND_TEXT", False),
        XInternAtom(display, "_NET_WM_NAME", False),
        XInternAtom(display, "_NET_ACTIVE_WINDOW", False),
        XInternAtom(display, "_NET_CLIENT_LIST", False),
        XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False),
    };
}

}  // namespace

std::unique_ptr<X11WindowSystem> X11WindowSystem::open(const char* display) {
    Display* connection = XOpenDisplay(display);
    if (connection == nullptr) return nullptr;
    return std::unique_ptr<X11WindowSystem>(new X11WindowSystem(connection));
}

X11WindowSystem::X11WindowSystem(Display* display) : display_(display) {}

X11WindowSystem::~X11WindowSystem() { XCloseDisplay(display_); }

std::int32_t X11WindowSystem::FindWindowA(const std::string& title) {
    ErrorTrap trap(display_);
    const Atoms atoms = internAtoms(display_);
    const TitleMatcher matcher(display_, atoms, title);
    const Window root = DefaultRootWindow(display_);

    auto managed = clientList(display_, root, atoms.netClientListStacking);
    if (managed.empty()) managed = clientList(display_, root, atoms.netClientList);
    for (const Window window : managed) {
        if (const std::int32_t handle = asHandle(window); handle != 0 && matcher.matches(window)) {
            return handle;
        }
    }
    const std::vector<Window> topLevel = children(display_, root);
    for (const Window window : topLevel) {
        if (const std::int32_t handle = asHandle(window); handle != 0 && matcher.matches(window)) {
            return handle;
        }
    }
    for (const Window frame : topLevel) {
        for (const Window window : children(display_, frame)) {
            if (const std::int32_t handle = asHandle(window); handle != 0 && matcher.matches(window)) {
                return handle;
            }
        }
    }
    return 0;
}

void X11WindowSystem::SetForegroundWindow(std::int32_t window) { activate(window); }

void X11WindowSystem::SetActiveWindow(std::int32_t window) { activate(window); }

void X11WindowSystem::activate(std::int32_t window) {
    if (window <= 0) return;
    ErrorTrap trap(display_);
    const Window target = static_cast<Window>(window);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display_, target, &attributes) == 0 || trap.failed()) return;

    const Window root = DefaultRootWindow(display_);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.display = display_;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // the request comes from a pager-like tool, not the window's own client
    event.xclient.data.l[1] = CurrentTime;
    event.xclient.data.l[2] = None;
    XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XRaiseWindow(display_, target);
    XFlush(display_);
}

void X11WindowSystem::minimiseMainWindow() {
    if (mainWindow_ == 0) return;
    ErrorTrap trap(display_);
    XIconifyWindow(display_, mainWindow_, DefaultScreen(display_));
    XFlush(display_);
}

void X11WindowSystem::setMainWindow(unsigned long xid) { mainWindow_ = xid; }

}  // namespace orvanta

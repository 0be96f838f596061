// Each test runs its own Xvfb, so that stacking order and a stand-in window manager are its alone. The
// server reports readiness through -displayfd; a display number another server holds makes it exit at
// once, and the next number is tried.
#include "adapters/x11/x11_window_system.h"

// GoogleTest before Xlib, whose macros (None, Bool, Status ...) would otherwise rename parts of it.
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/xvfb_server.h"

namespace orvanta {
namespace {

using testing::XvfbServer;

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& arguments, const posix_spawn_file_actions_t* actions,
            char** environment) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environment) == 0 ? pid : -1;
}

class X11WindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XvfbServer::installed())
            GTEST_SKIP() << "Xvfb is not installed (scripts/install-deps installs it)";
        server = std::make_unique<XvfbServer>();
        displayName = server->displayName();
        ASSERT_FALSE(displayName.empty()) << "no Xvfb came up on displays :91 to :130";
        client = XOpenDisplay(displayName.c_str());
        ASSERT_NE(client, nullptr);
        root = DefaultRootWindow(client);
        windows = X11WindowSystem::open(displayName.c_str());
        ASSERT_NE(windows, nullptr);
    }

    void TearDown() override {
        windows.reset();
        if (client != nullptr) XCloseDisplay(client);
        server.reset();
    }

    Window createWindow(const char* wmName = nullptr, Window parent = 0) {
        const Window window =
            XCreateSimpleWindow(client, parent != 0 ? parent : root, 10, 10, 200, 100, 0, 0, 0);
        if (wmName != nullptr) XStoreName(client, window, wmName);
        XMapWindow(client, window);
        XSync(client, False);
        return window;
    }

    void setNetWmName(Window window, const std::string& title) {
        XChangeProperty(client, window, XInternAtom(client, "_NET_WM_NAME", False),
                        XInternAtom(client, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XSync(client, False);
    }

    Window topmost() {
        Window rootReturn = 0, parent = 0, *list = nullptr;
        unsigned int count = 0;
        XQueryTree(client, root, &rootReturn, &parent, &list, &count);
        const Window top = count > 0 ? list[count - 1] : 0;
        if (list != nullptr) XFree(list);
        return top;
    }

    // Takes the window manager's role, so that requests to it arrive here as events.
    void actAsWindowManager() {
        XSelectInput(client, root, SubstructureRedirectMask | SubstructureNotifyMask);
        XSync(client, False);
    }

    std::vector<XClientMessageEvent> clientMessages() {
        XSync(client, False);
        std::vector<XClientMessageEvent> messages;
        XEvent event;
        while (XCheckTypedEvent(client, ClientMessage, &event)) messages.push_back(event.xclient);
        return messages;
    }

    static std::int32_t handle(Window window) { return static_cast<std::int32_t>(window); }

    std::unique_ptr<XvfbServer> server;
    std::string displayName;
    Display* client = nullptr;
    Window root = 0;
    std::unique_ptr<X11WindowSystem> windows;
};

TEST_F(X11WindowSystemTest, FindsATopLevelWindowByItsExactTitleUntilItIsDestroyed) {
    createWindow("DCWindow");
    const Window browser = createWindow("Vwwebbrowser");

    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), handle(browser));
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowse"), 0);
    EXPECT_EQ(windows->FindWindowA("vwwebbrowser"), 0);
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser "), 0);
    EXPECT_EQ(windows->FindWindowA(""), 0);

    XDestroyWindow(client, browser);
    XSync(client, False);
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), 0);
    EXPECT_NE(windows->FindWindowA("DCWindow"), 0);
}

TEST_F(X11WindowSystemTest, ReadsUtf8AndLatin1TitlesAndClientWindowsInsideFrames) {
    const Window utf8Only = createWindow();
    setNetWmName(utf8Only, "Übersicht");
    const Window latin1 = createWindow();
    const unsigned char gruesse[] = {'G', 'r', 0xFC, 0xDF, 'e'};
    XChangeProperty(client, latin1, XA_WM_NAME, XA_STRING, 8, PropModeReplace, gruesse, 5);
    const Window frame = createWindow();
    const Window framed = createWindow("DCWindow", frame);

    EXPECT_EQ(windows->FindWindowA("Übersicht"), handle(utf8Only));
    EXPECT_EQ(windows->FindWindowA("Übersich"), 0);
    EXPECT_EQ(windows->FindWindowA("Grüße"), handle(latin1));
    EXPECT_EQ(windows->FindWindowA("DCWindow"), handle(framed));

    // Deeper than a frame's client is no top-level window any more.
    createWindow("Menu", framed);
    EXPECT_EQ(windows->FindWindowA("Menu"), 0);
}

TEST_F(X11WindowSystemTest, TheTopmostOfTwoEquallyNamedWindowsIsFoundAndAStaleClientListDoesNoHarm) {
    const Window lower = createWindow("Vwwebbrowser");
    const Window upper = createWindow("Vwwebbrowser");
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), handle(upper));

    // A window manager's list, topmost last, that still names a window destroyed a moment ago.
    const Window gone = createWindow("Vwwebbrowser");
    XDestroyWindow(client, gone);
    const unsigned long stacking[] = {upper, lower, gone};
    XChangeProperty(client, root, XInternAtom(client, "_NET_CLIENT_LIST_STACKING", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(stacking), 3);
    XSync(client, False);
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), handle(lower));
}

TEST_F(X11WindowSystemTest, BringingAWindowForwardRaisesItAndAsksTheWindowManagerToActivateIt) {
    const Window browser = createWindow("Vwwebbrowser");
    const Window other = createWindow("Other");
    ASSERT_EQ(topmost(), other);
    windows->SetForegroundWindow(handle(browser));
    XSync(client, False);
    EXPECT_EQ(topmost(), browser);

    actAsWindowManager();
    windows->SetActiveWindow(handle(other));
    const auto messages = clientMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message_type, XInternAtom(client, "_NET_ACTIVE_WINDOW", False));
    EXPECT_EQ(messages[0].window, other);
    EXPECT_EQ(messages[0].format, 32);
    EXPECT_EQ(messages[0].data.l[0], 2);
}

TEST_F(X11WindowSystemTest, MinimisingIconifiesOnlyTheMainWindowOnceItIsKnown) {
    const Window main = createWindow("Orvanta");
    actAsWindowManager();
    windows->minimiseMainWindow();
    EXPECT_TRUE(clientMessages().empty());

    windows->setMainWindow(main);
    windows->minimiseMainWindow();
    const auto messages = clientMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message_type, XInternAtom(client, "WM_CHANGE_STATE", False));
    EXPECT_EQ(messages[0].window, main);
    EXPECT_EQ(messages[0].data.l[0], IconicState);
}

int recordingHandler(Display*, XErrorEvent*) { return 0; }

TEST_F(X11WindowSystemTest, HandlesThatAreNoWindowsAreIgnoredAndTheErrorHandlerIsLeftAsItWas) {
    const Window gone = createWindow("Vwwebbrowser");
    XDestroyWindow(client, gone);
    XSync(client, False);
    actAsWindowManager();
    XSetErrorHandler(recordingHandler);

    windows->SetForegroundWindow(handle(gone));
    windows->SetActiveWindow(0x1ABCDEF);
    windows->SetForegroundWindow(-5);
    windows->setMainWindow(gone);
    windows->minimiseMainWindow();

    EXPECT_EQ(XSetErrorHandler(nullptr), &recordingHandler);
    const auto messages = clientMessages();
    for (const auto& message : messages) {
        EXPECT_NE(message.message_type, XInternAtom(client, "_NET_ACTIVE_WINDOW", False));
    }
    const Window browser = createWindow("Vwwebbrowser");
    EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), handle(browser));
}

TEST(X11WindowSystemOpenTest, AnUnreachableDisplayGivesNoWindowSystem) {
    int number = 4711;
    while (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) ++number;
    std::string display = ":";
    display += std::to_string(number);
    EXPECT_EQ(X11WindowSystem::open(display.c_str()), nullptr);
    EXPECT_EQ(X11WindowSystem::open("no display name"), nullptr);
}

// The helper that stands in for the companion window in tests of the whole program.
TEST_F(X11WindowSystemTest, TheTitleWindowHelperLivesUntilItsInputClosesOrItIsTerminated) {
    std::vector<std::string> environment{"DISPLAY=" + displayName, "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    for (const bool byClosingInput : {true, false}) {
        SCOPED_TRACE(byClosingInput ? "input closed" : "terminated");
        int input[2], output[2];
        ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        pid_t helper = spawn({ORVANTA_X11_TITLE_WINDOW, "Vwwebbrowser"}, &actions, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        ASSERT_GT(helper, 0);

        EXPECT_EQ(XvfbServer::readLine(output[0], Clock::now() + std::chrono::seconds(3)), "ready");
        EXPECT_NE(windows->FindWindowA("Vwwebbrowser"), 0);
        if (byClosingInput) {
            close(input[1]);
        } else {
            kill(helper, SIGTERM);
        }
        int status = -1;
        waitpid(helper, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_EQ(windows->FindWindowA("Vwwebbrowser"), 0);
        if (!byClosingInput) close(input[1]);
        close(output[0]);
    }
}

}  // namespace
}  // namespace orvanta

// The watch on X11, under an X server of the test's own: a tray host that starts later takes the
// system tray selection and says so on the root window, and the watch sees it without asking again.

#include <QApplication>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include "support/eventually.h"
#include "ui/tray_watch.h"
#include "ui/x11_atom.h"

namespace zqn::ui {
namespace {

bool haveServer = false;

TEST(TrayWatchX11, SeesATrayHostThatStartsLater)
{
    if (!haveServer) {
        if (qgetenv("CI") == "true")
            FAIL() << "Xvfb is needed here (package xvfb)";
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    TrayWatch watch; // asks Qt whether there is a tray
    bool appeared = false;
    QObject::connect(&watch, &TrayWatch::appeared, [&] { appeared = true; });
    ASSERT_FALSE(watch.available());
    watch.watch();

    // A host as the system tray protocol has it: it owns the selection, then tells the root window.
    xcb_connection_t* host = xcb_connect(qgetenv("DISPLAY").constData(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(host));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(host)).data;
    const xcb_window_t owner = xcb_generate_id(host);
    xcb_create_window(host, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t selection = internAtom(host, "_NET_SYSTEM_TRAY_S0");
    xcb_set_selection_owner(host, owner, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = internAtom(host, "MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = owner;
    xcb_send_event(host, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
    xcb_flush(host);

    EXPECT_TRUE(test::eventually([&] { return appeared; })) << "the host's announcement went unseen";
    EXPECT_TRUE(watch.available());
    xcb_disconnect(host);
}

} // namespace
} // namespace zqn::ui

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // -displayfd picks a free display and tells its number once the server takes connections.
    QProcess server;
    if (!GTEST_FLAG_GET(list_tests) && QFileInfo(QStringLiteral("/usr/bin/Xvfb")).isExecutable()) {
        server.start(QStringLiteral("/usr/bin/Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        while (server.waitForReadyRead(10000) && !server.canReadLine()) {
        }
        if (server.canReadLine()) {
            qputenv("DISPLAY", ":" + server.readLine().trimmed());
            qputenv("QT_QPA_PLATFORM", "xcb");
            zqn::ui::haveServer = true;
        }
    }
    if (!zqn::ui::haveServer)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int status = 0;
    {
        QApplication app(argc, argv);
        status = RUN_ALL_TESTS();
    }
    server.terminate();
    server.waitForFinished();
    return status;
}

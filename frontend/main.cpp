// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmZephrin.h"
#include "qt_platform.h"

#include <QApplication>
#include <QMainWindow>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Qt aborts when it finds no display; say so in one line, with what to do instead.
bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int signalPipe[2] = {-1, -1};
bool quitting = false;

void forwardSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr, "zephrin: no display to open the window on (DISPLAY is not set); "
                             "start it from a desktop session, or without one under a virtual "
                             "display: xvfb-run -a zephrin\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppName);
    // The desktop entry's name: on Wayland the window's app id, so that the desktop shows the
    // entry's icon and name for the window and keeps it in the entry's place in the dock.
    QGuiApplication::setDesktopFileName("org.zephrin.Zephrin");

    QtPlatform platform;
    frmZephrin form(platform.bundle());
    QMainWindow* window = platform.toolkit.mainWindow();

    // kill, Ctrl+C and a closed terminal end the program as closing its window does: both links
    // closed (no lock file left behind), the window's position stored.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, window, [&platform, window] {
            char byte = 0;
            [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
            // A message box may be waiting for an answer that will not come, and start-up may
            // have more to say after it.
            platform.toolkit.endDialogs();
            window->close();
            quitting = true;
            QCoreApplication::quit();
        });
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, forwardSignal);
    }
    // Logging out ends the event loop without closing the window first.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, window, [window] { window->close(); });

    // Start-up is the first handler: port events that come while it runs wait for it to end.
    platform.gate.run([&] { form.Form_Load(); });
    if (quitting) // asked to end while start-up's boxes were open
        return 0;
    window->show();
    return app.exec();
}

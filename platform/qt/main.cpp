#include "app/frmZephrin.h"
#include "qt_platform.h"

#include <QApplication>
#include <QMainWindow>
#include <cstdio>
#include <cstdlib>

// Qt aborts when it finds no display; say so in one line, with what to do instead.
static bool displayAvailable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

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

    QtPlatform platform;
    frmZephrin form(platform.bundle());
    // Start-up is the first handler: port events that come while it runs wait for it to end.
    platform.gate.run([&] { form.Form_Load(); });
    platform.toolkit.mainWindow()->show();
    return app.exec();
}

#include "qt_launcher.h"

#include "platform/runtime_error.h"

#include <QProcess>

void QtLauncher::openDocument(const QString& path)
{
    if (!QProcess::startDetached("xdg-open", {path}))
        throw RuntimeError(ErrorNumber::FileNotFound,
                           QString("File not found: no program could be started to open %1. "
                                   "Install xdg-utils (sudo apt install xdg-utils), or open the "
                                   "file by hand")
                               .arg(path));
}

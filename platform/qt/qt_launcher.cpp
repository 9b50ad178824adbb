// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_launcher.h"

#include "platform/qt/event_gate.h"
#include "platform/runtime_error.h"

#include <QProcess>

namespace {

// xdg-open's statuses for "no program to open it with" and "the program failed".
constexpr int NoToolFound = 3;
constexpr int ActionFailed = 4;

} // namespace

void QtLauncher::openDocument(const QString& path)
{
    // No parent and no delete while it runs: a QProcess destroyed with the window would kill
    // xdg-open and, where it waits for the viewer, the viewer with it.
    auto* opener = new QProcess;
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->start("xdg-open", {path});
    if (!opener->waitForStarted()) {
        delete opener;
        throw RuntimeError(ErrorNumber::FileNotFound,
                           QString("File not found: no program could be started to open %1. "
                                   "Install xdg-utils (sudo apt install xdg-utils), or open the "
                                   "file by hand")
                               .arg(path));
    }
    QObject::connect(opener, &QProcess::finished, &events_,
                     [this, opener, path](int status, QProcess::ExitStatus how) {
                         opener->deleteLater();
                         if (how != QProcess::NormalExit ||
                             (status != NoToolFound && status != ActionFailed) || !noViewer_)
                             return;
                         gate_.post(&events_, [handler = noViewer_, path] { handler(path); });
                     });
}

void QtLauncher::onNoViewer(const std::function<void(const QString& path)>& handler)
{
    noViewer_ = handler;
}

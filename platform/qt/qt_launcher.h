// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/launcher.h"

#include <QObject>

class EventGate;

// Opens documents with the desktop's own program for their type (xdg-open). xdg-open may wait
// for the viewer to close, so it runs on its own; when it ends saying that it found no program,
// the window hears of it through the gate. It is never stopped: the viewer outlives the window.
class QtLauncher : public Launcher {
public:
    explicit QtLauncher(EventGate& gate) : gate_(gate) {}
    void openDocument(const QString& path) override;
    void onNoViewer(const std::function<void(const QString& path)>& handler) override;

private:
    EventGate& gate_;
    QObject events_; // the source of the gate's events: none after the launcher has gone
    std::function<void(const QString&)> noViewer_;
};

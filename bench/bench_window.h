// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The real window on the real serial port, with message boxes that the benchmark plays: each
// box is counted, and while it is "open" it runs the benchmark's own action inside a nested
// event loop, as a modal box would.

#include "app/frmZephrin.h"
#include "bench_support.h"
#include "frontend/qt_platform.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <optional>

namespace bench {

class PlayedDialogs : public Dialogs {
public:
    // Runs while a box is open, with the box's prompt; the box closes when it returns.
    std::function<void(const QString& prompt)> whileOpen;
    QStringList prompts;
    Clock::time_point lastClosed;

    int msgBox(const QString& prompt, int style, const QString&) override
    {
        prompts << prompt;
        if (whileOpen)
            whileOpen(prompt);
        lastClosed = Clock::now();
        return (style & MsgBoxStyle::YesNo) ? MsgBoxAnswer::Yes : MsgBoxAnswer::Ok;
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    std::optional<int> chooseItem(const QString&, const QString&, const QStringList&) override
    {
        return std::nullopt;
    }
};

// QtPlatform with the played boxes in place of the real ones (made first, gone last).
struct PlayedDialogsOwner {
    PlayedDialogs dialogs;
};
struct WindowPlatform : PlayedDialogsOwner, QtPlatform {
    WindowPlatform() : QtPlatform(&dialogs) {}
};

// Reads and drops whatever the program has written to the box.
inline void drain(int masterFd)
{
    char bytes[4096];
    while (::read(masterFd, bytes, sizeof bytes) > 0) {
    }
}

// Writes all of `data` to the non-blocking pty master, pumping the window's event loop whenever
// the pty is full, so that the program reads as fast as it can.
inline void writePumping(int masterFd, const QByteArray& data)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::write(masterFd, data.constData() + sent,
                                  size_t(std::min<qsizetype>(data.size() - sent, 4096)));
        if (n > 0)
            sent += n;
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Pumps the event loop until `done` or the timeout; false on the timeout.
template <typename Done> bool pumpUntil(Done done, int timeoutMs)
{
    const auto start = Clock::now();
    while (!done()) {
        if (microsSince(start) > timeoutMs * 1000.0)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// The window as an operator who has used it before finds it: COM1 mapped to the pty's device and
// OTRSP chosen, so that start-up opens the port and sends the protocol's opening commands; then
// shown, and those commands read off the box's side.
struct SerialWindow {
    WindowPlatform platform;
    frmZephrin form{platform.bundle()};
    RichTextBox& pane = platform.toolkit.richTextBox("txtTerm");

    explicit SerialWindow(const Pty& pty)
    {
        platform.settings.saveSetting(AppName, Setting::SerialPortsSection, "COM1", pty.device);
        saveSetting(platform.settings, Setting::Port, "1");
        saveSetting(platform.settings, Setting::Protocol, "1");
        platform.gate.run([&] { form.Form_Load(); });
        platform.toolkit.mainWindow()->show();
        pumpUntil([] { return false; }, 200);
        drain(pty.master);
    }
};

} // namespace bench

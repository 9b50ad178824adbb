// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the whole program to its first window shown on an X server, beside a bare Qt
// program that shows an empty main window of the same size, interleaved in one run. Three kinds
// of start, each with a fresh XDG_CONFIG_HOME: the bare program; Zephrin with an empty settings
// store (its first window is the box "Please select a com port first"); Zephrin with COM1
// mapped to a pty and OTRSP stored (its first window is the main window). The time runs from
// spawning the process to the X server mapping the process's first top-level window (watched
// on the root window's substructure events, matched by _NET_WM_PID). The peak resident size is
// read from /proc/<pid>/status (VmHWM) a moment after, just before SIGTERM.
// Runs on $DISPLAY when it is set; otherwise starts its own Xvfb and stops it at the end.

#include "bench_support.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

extern char** environ;

namespace {

constexpr int Runs = 15;
constexpr int SettleMs = 300; // after the window is mapped, before peak memory is read

QByteArray propertyOf(xcb_connection_t* x, xcb_window_t window, xcb_atom_t property)
{
    const auto cookie =
        xcb_get_property(x, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
    if (!reply)
        return {};
    QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)),
                     xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

xcb_atom_t atom(xcb_connection_t* x, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, std::uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

// The X server under test: $DISPLAY, or an Xvfb of the benchmark's own.
struct Display {
    pid_t xvfb = -1;

    Display()
    {
        if (qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            throw std::runtime_error("pipe");
        const QByteArray fd = QByteArray::number(pipeFds[1]);
        const char* args[] = {"Xvfb",         "-displayfd", fd.constData(), "-screen", "0",
                              "1280x1024x24", "-nolisten",  "tcp",          nullptr};
        if (posix_spawnp(&xvfb, "Xvfb", nullptr, nullptr, const_cast<char**>(args), environ) != 0)
            throw std::runtime_error("cannot start Xvfb (Debian package xvfb)");
        ::close(pipeFds[1]);
        QByteArray number;
        char c = 0;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeFds[0]);
        if (number.isEmpty())
            throw std::runtime_error("Xvfb gave no display number");
        qputenv("DISPLAY", ":" + number);
    }
    ~Display()
    {
        if (xvfb > 0) {
            ::kill(xvfb, SIGTERM);
            ::waitpid(xvfb, nullptr, 0);
        }
    }
};

struct Run {
    double ms = 0;
    double peakMb = 0;
    QByteArray title;
    bool ok = false;
};

long peakKb(pid_t pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

class Watcher {
public:
    Watcher()
    {
        x_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(x_))
            throw std::runtime_error("cannot connect to the X server");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x_, root_, XCB_CW_EVENT_MASK, &mask);
        pidAtom_ = atom(x_, "_NET_WM_PID");
        nameAtom_ = atom(x_, "_NET_WM_NAME");
        xcb_flush(x_);
    }
    ~Watcher() { xcb_disconnect(x_); }

    // Starts `program` with `config` as its XDG_CONFIG_HOME and times it to its first window.
    Run start(const char* program, const QString& config)
    {
        std::vector<QByteArray> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0 &&
                std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
                env.emplace_back(*e);
        env.push_back("XDG_CONFIG_HOME=" + config.toLocal8Bit());
        env.push_back("QT_QPA_PLATFORM=xcb");
        std::vector<char*> envp;
        for (QByteArray& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const char* args[] = {program, nullptr};
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);

        Run run;
        pid_t pid = -1;
        const auto start = bench::Clock::now();
        if (posix_spawn(&pid, program, &files, nullptr, const_cast<char**>(args), envp.data()) != 0)
            throw std::runtime_error(std::string("cannot start ") + program);
        posix_spawn_file_actions_destroy(&files);
        while (!run.ok && bench::microsSince(start) < 30e6) {
            xcb_generic_event_t* event = xcb_poll_for_event(x_);
            if (!event) {
                pollfd p{xcb_get_file_descriptor(x_), POLLIN, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const double ms = bench::microsSince(start) / 1000;
                const QByteArray owner = propertyOf(x_, map->window, pidAtom_);
                if (!map->override_redirect && owner.size() == 4 &&
                    *reinterpret_cast<const std::uint32_t*>(owner.constData()) ==
                        std::uint32_t(pid)) {
                    run.ms = ms;
                    run.title = propertyOf(x_, map->window, nameAtom_);
                    run.ok = true;
                }
            }
            std::free(event);
        }
        ::usleep(SettleMs * 1000);
        run.peakMb = peakKb(pid) / 1024.0;
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 500; ++i) { // up to 5 s to end by itself
            if (::waitpid(pid, nullptr, WNOHANG) == pid)
                return run;
            ::usleep(10000);
        }
        std::printf("%s did not end within 5 s of SIGTERM; killed\n", program);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return run;
    }

private:
    xcb_connection_t* x_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE, nameAtom_ = XCB_ATOM_NONE;
};

void writeStoredPort(const QString& config, const QString& device)
{
    QDir(config).mkpath("Zephrin");
    QFile file(config + "/Zephrin/Zephrin.conf");
    file.open(QIODevice::WriteOnly);
    file.write(QString("[settings]\nport=1\nprotocol=1\n\n[serial ports]\nCOM1=%1\n")
                   .arg(device)
                   .toLocal8Bit());
}

} // namespace

int main()
{
    const Display display;
    Watcher watcher;
    const bench::Pty pty;
    char drained[4096];

    enum Kind { Bare, Empty, Stored };
    const std::array<const char*, 3> names = {"bare Qt window (baseline)",
                                              "Zephrin, empty store (first: box)",
                                              "Zephrin, port+protocol stored"};
    std::map<Kind, std::vector<Run>> runs;
    for (int round = 0; round < Runs + 1; ++round) {
        for (int k = 0; k < 3; ++k) {
            const auto kind = Kind((round + k) % 3); // each kind takes each place in turn
            const QTemporaryDir config;
            if (kind == Stored)
                writeStoredPort(config.path(), pty.device);
            const Run run = watcher.start(
                kind == Bare ? BARE_WINDOW_EXECUTABLE : ZEPHRIN_EXECUTABLE, config.path());
            while (::read(pty.master, drained, sizeof drained) > 0) {
            }
            if (!run.ok)
                std::printf("%s: no window within 30 s\n", names[kind]);
            if (round > 0) // the first round warms the caches
                runs[kind].push_back(run);
        }
    }

    std::printf("Start-up to the first window mapped, %d runs each, interleaved (DISPLAY=%s)\n",
                Runs, qgetenv("DISPLAY").constData());
    std::printf("%-36s %10s %8s %8s %12s %12s  %s\n", "program", "median ms", "min ms", "max ms",
                "peak MB med", "peak MB max", "first window");
    double bareMedian = 0;
    for (int k = 0; k < 3; ++k) {
        std::vector<double> ms, mb;
        for (const Run& r : runs[Kind(k)]) {
            ms.push_back(r.ms);
            mb.push_back(r.peakMb);
        }
        const double med = bench::median(ms);
        if (k == Bare)
            bareMedian = med;
        std::printf("%-36s %10.1f %8.1f %8.1f %12.1f %12.1f  \"%s\"", names[k], med,
                    *std::min_element(ms.begin(), ms.end()),
                    *std::max_element(ms.begin(), ms.end()), bench::median(mb),
                    *std::max_element(mb.begin(), mb.end()),
                    runs[Kind(k)].front().title.constData());
        if (k != Bare)
            std::printf("  %.2fx bare (target <= 1.3x, < 60 MB)", med / bareMedian);
        std::printf("\n");
    }
    return 0;
}

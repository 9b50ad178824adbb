// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-boxsim: a switch box on a pseudo-terminal, so that Zephrin can be tried without one.
// It prints the device path to open (first line), then every command it receives ("< ...")
// and every answer or event it gives ("> ..."). Answers go out at the pace of a 9600-baud line.
// Words on its standard input play the box's front panel and its power switch, for tests and
// demonstrations: "panel TX2" (or any focus word of its set) switches as the front panel does,
// "power [MS]" switches it off for MS milliseconds (default 500) and on again, as a USB box that
// lost power: its device goes away and comes back as a new one, at TX1, RX1, aux 0, events off.

#include "boxmodel/box_model.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopping = 0;

void stop(int)
{
    stopping = 1;
}

void usage()
{
    std::fprintf(stderr, "usage: zephrin-boxsim [--protocol otrsp|mk2r] [--link PATH] [--fast]\n"
                         "  --protocol  the command set the box speaks (default otrsp)\n"
                         "  --link      also make PATH a link to the device\n"
                         "  --fast      answer at once instead of at 9600-baud pace\n"
                         "standard input: panel WORD (TX1, TX2, RX1, RX2, RX1S, RX2S),\n"
                         "  power [MS] (off for MS milliseconds, default 500, then on)\n");
}

// Printable form of a command or answer for the log: control bytes as \xNN.
std::string shown(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r')
            continue;
        if (c < 32 || c >= 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

void sendPaced(int master, const std::string& answer, bool fast)
{
    // One character takes ten bit times: about 1.04 ms at 9600 baud.
    const timespec characterTime{0, 1041667};
    for (char c : answer) {
        while (::write(master, &c, 1) < 0 && errno == EAGAIN) {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        if (!fast)
            nanosleep(&characterTime, nullptr);
    }
}

// The box's side of a pseudo-terminal, and the link that names its device.
struct Device {
    int master = -1;
    int held = -1;
    std::string path;

    bool open(const std::string& link)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("zephrin-boxsim: cannot make a pseudo-terminal");
            return false;
        }
        path = ptsname(master);
        // Holding the device side open keeps the box alive while Zephrin closes and reopens it,
        // and raw mode keeps the line discipline from echoing answers back as commands.
        held = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(held, &raw);
        cfmakeraw(&raw);
        tcsetattr(held, TCSANOW, &raw);
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        if (link.empty())
            return true;
        ::unlink(link.c_str());
        if (::symlink(path.c_str(), link.c_str()) == 0)
            return true;
        std::fprintf(stderr, "zephrin-boxsim: cannot link %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }

    // The device goes, as a USB box's does when it loses power.
    void close(const std::string& link)
    {
        if (!link.empty())
            ::unlink(link.c_str());
        ::close(held);
        ::close(master);
    }
};

} // namespace

int main(int argc, char** argv)
{
    Protocol set = Protocol::Otrsp;
    std::string link;
    bool fast = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--protocol" && i + 1 < argc) {
            const auto named = protocolNamed(QString::fromLocal8Bit(argv[++i]));
            if (!named)
                return usage(), 2;
            set = *named;
        } else if (arg == "--link" && i + 1 < argc) {
            link = argv[++i];
        } else if (arg == "--fast") {
            fast = true;
        } else {
            return usage(), arg == "--help" ? 0 : 2;
        }
    }

    Device device;
    if (!device.open(link))
        return 1;
    std::printf("%s\n", device.path.c_str());
    std::fflush(stdout);

    std::signal(SIGINT, stop);
    std::signal(SIGTERM, stop);
    std::signal(SIGHUP, stop);
    BoxModel box(set);
    std::string line;
    std::string panel;     // what came on standard input since its last line end
    bool panelOpen = true; // standard input has not ended
    const auto say = [&](const std::string& text) {
        if (text.empty())
            return;
        std::printf("> %s\n", shown(text).c_str());
        std::fflush(stdout);
        sendPaced(device.master, text, fast);
    };
    while (!stopping) {
        pollfd p[2] = {{device.master, POLLIN, 0}, {panelOpen ? 0 : -1, POLLIN, 0}};
        if (::poll(p, 2, 500) <= 0)
            continue;
        char bytes[256];
        if (p[1].revents) {
            const ssize_t n = ::read(0, bytes, sizeof bytes);
            panelOpen = n > 0;
            for (ssize_t i = 0; i < n; ++i) {
                if (bytes[i] != '\n') {
                    panel += bytes[i];
                    continue;
                }
                const std::string word = std::exchange(panel, {});
                if (word.rfind("panel ", 0) == 0) {
                    std::printf("panel %s\n", word.substr(6).c_str());
                    say(box.panel(word.substr(6)));
                } else if (word.rfind("power", 0) == 0) {
                    const int offMs = word.size() > 6 ? std::atoi(word.c_str() + 6) : 500;
                    device.close(link);
                    std::printf("power off\n");
                    std::fflush(stdout);
                    const timespec off{offMs / 1000, (offMs % 1000) * 1000000L};
                    nanosleep(&off, nullptr);
                    box.powerCycle();
                    line.clear();
                    if (!device.open(link))
                        return 1;
                    std::printf("power on %s\n", device.path.c_str());
                }
                std::fflush(stdout);
            }
        }
        if (!p[0].revents)
            continue;
        const ssize_t n = ::read(device.master, bytes, sizeof bytes);
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                break;
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const char c = bytes[i];
            if (c == '\n')
                continue;
            if (c != '\r') {
                line += c;
                continue;
            }
            std::printf("< %s\n", shown(line).c_str());
            const std::string answer = box.handle(line);
            line.clear();
            say(answer);
            std::fflush(stdout);
        }
    }
    device.close(link);
    return 0;
}

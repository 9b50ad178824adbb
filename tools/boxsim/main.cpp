// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-boxsim: a switch box on a pseudo-terminal, so that Zephrin can be tried without one.
// It prints the device path to open (first line), then every command it receives ("< ...")
// and every answer it gives ("> ..."). Answers go out at the pace of a 9600-baud line.

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
                         "  --fast      answer at once instead of at 9600-baud pace\n");
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

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("zephrin-boxsim: cannot make a pseudo-terminal");
        return 1;
    }
    const std::string device = ptsname(master);
    // Holding the device side open keeps the box alive while Zephrin closes and reopens it,
    // and raw mode keeps the line discipline from echoing answers back as commands.
    const int held = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(held, &raw);
    cfmakeraw(&raw);
    tcsetattr(held, TCSANOW, &raw);
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);

    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(device.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "zephrin-boxsim: cannot link %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);

    std::signal(SIGINT, stop);
    std::signal(SIGTERM, stop);
    std::signal(SIGHUP, stop);
    BoxModel box(set);
    std::string line;
    while (!stopping) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0)
            continue;
        char bytes[256];
        const ssize_t n = ::read(master, bytes, sizeof bytes);
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
            if (!answer.empty()) {
                std::printf("> %s\n", shown(answer).c_str());
                sendPaced(master, answer, fast);
            }
            std::fflush(stdout);
        }
    }
    if (!link.empty())
        ::unlink(link.c_str());
    ::close(held);
    ::close(master);
    return 0;
}

// zephrin-server: the switch box on the network. It owns the box (a serial device, or the box
// model of zephrin-boxsim) and relays the encrypted commands of every connected Zephrin to it,
// sending back the box's state and answers.

#include "box_link.h"
#include "log.h"
#include "relay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The key Zephrin uses until the operator changes it ("Change Encryption Key").
constexpr const char* DefaultKey = "Zephrin";
constexpr quint16 DefaultPort = 9876;
constexpr const char* DefaultAddress = "127.0.0.1";
// A key file holds one line of text; anything this long is not a key file.
constexpr qint64 MaxKeyFileBytes = 4096;

int usageError(const QString& message)
{
    std::fprintf(stderr, "zephrin-server: %s\nSee zephrin-server --help.\n",
                 message.toLocal8Bit().constData());
    return 2;
}

int fatal(const QString& message)
{
    serverlog::warning("zephrin-server: " + message);
    return 1;
}

// The key: from the file, else from ZEPHRIN_KEY, else the default with a warning. Never from
// the command line, where every user sees it in `ps`.
// "192.168.1.0/24", "10.1.2.3" or "::1": the network, with every bit counted for an address
// alone. An IPv4 network written as IPv4-mapped IPv6 (::ffff:10.1.2.0/120) is the IPv4 one, as
// the clients' addresses are.
bool parseNetwork(const QString& text, QPair<QHostAddress, int>* network)
{
    QHostAddress address;
    int bits = -1;
    if (text.contains('/')) {
        *network = QHostAddress::parseSubnet(text);
        if (network->second < 0)
            return false;
        address = network->first;
        bits = network->second;
    } else if (!address.setAddress(text)) {
        return false;
    }
    const bool isIpv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    if (bits < 0)
        bits = isIpv4 ? 32 : 128;
    const QHostAddress plain = plainAddress(address);
    if (!isIpv4 && plain.protocol() == QAbstractSocket::IPv4Protocol && bits >= 96) {
        address = plain;
        bits -= 96;
    }
    *network = {address, bits};
    return true;
}

int positiveNumber(const QCommandLineParser& parser, const QCommandLineOption& option, bool* ok)
{
    const int number = parser.value(option).toInt(ok);
    *ok = *ok && number >= 1;
    return number;
}

bool readKey(const QString& keyFile, QString* key, QString* failure)
{
    if (!keyFile.isEmpty()) {
        QFile file(keyFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *failure = QString("cannot read the key file %1: %2. Put the key on the file's "
                               "first line and let only this user read it (chmod 600)")
                           .arg(keyFile, file.errorString());
            return false;
        }
        QByteArray text = file.read(MaxKeyFileBytes);
        const qsizetype lineEnd = text.indexOf('\n');
        if (lineEnd >= 0)
            text.truncate(lineEnd);
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.isEmpty()) {
            *failure = QString("the key file %1 holds no key on its first line. Write the same "
                               "key as in Zephrin's \"Change Encryption Key\" there")
                           .arg(keyFile);
            return false;
        }
        const QFile::Permissions others = QFile::ReadGroup | QFile::ReadOther;
        if (QFileInfo(keyFile).permissions() & others)
            serverlog::warning(QString("zephrin-server: warning: other users can read the key "
                                       "file %1; make it readable by this user only: chmod 600 %1")
                                   .arg(keyFile));
        *key = QString::fromUtf8(text);
        return true;
    }
    const QByteArray fromEnvironment = qgetenv("ZEPHRIN_KEY");
    if (!fromEnvironment.isEmpty()) {
        *key = QString::fromUtf8(fromEnvironment);
        return true;
    }
    serverlog::warning(
        QString("zephrin-server: warning: no key set, using the default key \"%1\". Set the same "
                "key as in Zephrin's \"Change Encryption Key\" with --key-file FILE (a file "
                "readable by this user only) or the environment variable ZEPHRIN_KEY")
            .arg(DefaultKey));
    *key = DefaultKey;
    return true;
}

// SIGINT and SIGTERM only write a byte; the event loop reads it and stops in good order.
int signalPipe[2] = {-1, -1};

void signalArrived(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

bool catchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = signalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zephrin-server");
    QCoreApplication::setApplicationVersion(PROJECT_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The switch box on the network: Zephrin anywhere on the network drives the box wired to "
        "this computer as over its own serial port. Every message is encrypted under a key "
        "shared with Zephrin, but not authenticated.\n"
        "The key is read from --key-file or the environment variable ZEPHRIN_KEY, never from "
        "the command line; without either, the default key \"Zephrin\".");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device("device",
                                    "The box's serial device (9600 8N1), such as "
                                    "/dev/serial/by-id/usb-...-port0. No default.",
                                    "path");
    const QCommandLineOption simulate(
        "simulate", "No box: simulate one speaking <set>, otrsp or mk2r. No default.", "set");
    const QCommandLineOption port("port",
                                  "TCP port to listen on (default 9876; 0 picks a free "
                                  "one and logs it).",
                                  "number", QString::number(DefaultPort));
    const QCommandLineOption listen(
        "listen",
        "Address to listen on (default 127.0.0.1; :: is every IPv6 and IPv4 address). Any other "
        "address lets the network in: name its clients with --allow, and put an SSH tunnel or a "
        "VPN in front of it across the internet.",
        "address", DefaultAddress);
    const QCommandLineOption keyFile("key-file",
                                     "File whose first line is the key (default: none; then "
                                     "ZEPHRIN_KEY, then \"Zephrin\").",
                                     "file");
    const QCommandLineOption allow(
        "allow",
        "Let only clients from this address or network in, such as 192.168.1.20 or "
        "192.168.1.0/24; repeat it for more. Others are closed at once and logged (default: "
        "any address).",
        "address[/bits]");
    const QCommandLineOption maxClients(
        "max-clients",
        QString("Clients connected at once; one more is closed at once and logged (default %1).")
            .arg(ClientLimits::DefaultMaxClients),
        "n", QString::number(ClientLimits::DefaultMaxClients));
    const QCommandLineOption maxRate(
        "max-rate",
        QString("Messages decrypted per client and second; past it, the client is not read "
                "until the next second (default %1).")
            .arg(ClientLimits::DefaultMaxRate),
        "n", QString::number(ClientLimits::DefaultMaxRate));
    const QCommandLineOption threads(
        "threads",
        QString("Threads decrypting received messages (default %1, one per core).")
            .arg(QThread::idealThreadCount()),
        "n", QString::number(QThread::idealThreadCount()));
    const QCommandLineOption logFile("log",
                                     "Also append every event and warning, with date and time, "
                                     "to this file, whatever --quiet says (default: none).",
                                     "file");
    const QCommandLineOption quiet("quiet", "Log no events (default: one line per event). "
                                            "Warnings and errors still go to standard error.");
    const QCommandLineOption split("split", "Test option: send each report in two writes with a "
                                            "short pause between them (default off).");
    const QCommandLineOption batch("batch",
                                   "Test option: hold reports until <n> go in one write; a "
                                   "partial batch goes after a second (default 1).",
                                   "n", "1");
    const QCommandLineOption garbage("garbage",
                                     "Test option: random text after each report (default off).");
    const QCommandLineOption closeAfter(
        "close-after", "Test option: close a client after <n> messages from it (default 0: never).",
        "n", "0");
    const QCommandLineOption mute("mute", "Test option: never report anything (default off).");
    parser.addOptions({device, simulate, port, listen, keyFile, allow, maxClients, maxRate, threads,
                       logFile, quiet, split, batch, garbage, closeAfter, mute});
    parser.process(app);

    if (!parser.positionalArguments().isEmpty())
        return usageError("unexpected argument " + parser.positionalArguments().first() +
                          "; the key goes in --key-file or ZEPHRIN_KEY");
    if (parser.isSet(device) == parser.isSet(simulate))
        return usageError("name the box: either --device PATH or --simulate otrsp|mk2r");
    Protocol commandSet = Protocol::Otrsp;
    if (parser.isSet(simulate)) {
        const auto named = protocolNamed(parser.value(simulate));
        if (!named)
            return usageError("--simulate takes otrsp or mk2r, not " + parser.value(simulate));
        commandSet = *named;
    }
    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber > 65535)
        return usageError("--port takes a TCP port number 0 to 65535, not " + parser.value(port));
    QHostAddress address;
    if (!address.setAddress(parser.value(listen)))
        return usageError("--listen takes an IP address such as 127.0.0.1 or 0.0.0.0, not " +
                          parser.value(listen));
    // "::" takes IPv4 clients too, as on most servers; they arrive as IPv4-mapped addresses.
    if (address == QHostAddress(QHostAddress::AnyIPv6))
        address = QHostAddress(QHostAddress::Any);
    QString failure;
    FaultOptions faults;
    faults.split = parser.isSet(split);
    faults.garbage = parser.isSet(garbage);
    faults.mute = parser.isSet(mute);
    faults.batch = parser.value(batch).toInt(&ok);
    if (!ok || faults.batch < 1)
        return usageError("--batch takes a number of reports, 1 or more");
    faults.closeAfter = parser.value(closeAfter).toInt(&ok);
    if (!ok || faults.closeAfter < 0)
        return usageError("--close-after takes a number of messages, 0 (never) or more");
    ClientLimits limits;
    for (const QString& text : parser.values(allow)) {
        QPair<QHostAddress, int> network;
        if (!parseNetwork(text, &network))
            return usageError("--allow takes an address or a network such as 192.168.1.20 or "
                              "192.168.1.0/24, not " +
                              text);
        limits.allow.append(network);
    }
    limits.maxClients = positiveNumber(parser, maxClients, &ok);
    if (!ok)
        return usageError("--max-clients takes a number of clients, 1 or more");
    limits.maxRate = positiveNumber(parser, maxRate, &ok);
    if (!ok)
        return usageError("--max-rate takes a number of messages a second, 1 or more");
    limits.threads = positiveNumber(parser, threads, &ok);
    if (!ok)
        return usageError("--threads takes a number of threads, 1 or more");
    serverlog::setQuiet(parser.isSet(quiet));
    if (parser.isSet(logFile) && !serverlog::appendTo(parser.value(logFile), &failure))
        return fatal(QString("cannot append to the log file %1: %2. Name a file in a directory "
                             "this user may write to")
                         .arg(parser.value(logFile), failure));

    QString key;
    if (!readKey(parser.value(keyFile), &key, &failure))
        return fatal(failure);
    if (!catchStopSignals())
        return fatal("cannot set up the signal handling; is the system out of descriptors?");
    QSocketNotifier stopSignal(signalPipe[0], QSocketNotifier::Read);
    int stoppedBy = 0;
    QObject::connect(&stopSignal, &QSocketNotifier::activated, [&] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) == 1)
            stoppedBy = static_cast<unsigned char>(number);
        QCoreApplication::quit();
    });

    std::unique_ptr<BoxLink> box;
    if (parser.isSet(device))
        box = std::make_unique<SerialBox>(parser.value(device));
    else
        box = std::make_unique<SimulatedBox>(commandSet);
    Relay relay(*box, key, faults, limits);
    if (!relay.listen(address, quint16(portNumber), &failure))
        return fatal(QString("cannot listen on %1 port %2: %3. Stop the program that uses the "
                             "port or choose another with --port")
                         .arg(parser.value(listen))
                         .arg(portNumber)
                         .arg(failure));
    if (!address.isLoopback() && limits.allow.isEmpty())
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer, and "
                    "any address may connect: name the clients with --allow ADDRESS[/BITS]. The "
                    "messages are encrypted but not authenticated: across the internet, put an "
                    "SSH tunnel or a VPN in front of the server")
                .arg(parser.value(listen)));
    else if (!address.isLoopback())
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer. The "
                    "messages are encrypted but not authenticated: across the internet, put an "
                    "SSH tunnel or a VPN in front of the server")
                .arg(parser.value(listen)));
    serverlog::event(QString("listening on %1 port %2 (%3)")
                         .arg(parser.value(listen))
                         .arg(relay.port())
                         .arg(parser.isSet(device)
                                  ? "box on " + parser.value(device)
                                  : "simulated " + parser.value(simulate) + " box"));

    const int status = app.exec();
    relay.shutdown();
    serverlog::event(
        QString("stopped%1").arg(stoppedBy ? QString(" by signal %1").arg(stoppedBy) : ""));
    return status;
}

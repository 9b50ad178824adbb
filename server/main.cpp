// zephrin-server: the switch box on the network. It owns the box (a serial device, or the box
// model of zephrin-boxsim) and relays the encrypted commands of every connected Zephrin to it,
// sending back the box's state and answers.

#include "box_link.h"
#include "log.h"
#include "options.h"
#include "relay.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The key Zephrin uses until the operator changes it ("Change Encryption Key").
constexpr const char* DefaultKey = "Zephrin";
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

    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::ShowHelp:
    case ParsedCommandLine::Outcome::ShowVersion:
        std::fputs(parsed.text.toLocal8Bit().constData(), stdout);
        return 0;
    case ParsedCommandLine::Outcome::UsageError: return usageError(parsed.text);
    case ParsedCommandLine::Outcome::Run: break;
    }
    const ServerOptions& options = parsed.options;
    QString failure;
    serverlog::setQuiet(options.quiet);
    if (!options.logFile.isEmpty() && !serverlog::appendTo(options.logFile, &failure))
        return fatal(QString("cannot append to the log file %1: %2. Name a file in a directory "
                             "this user may write to")
                         .arg(options.logFile, failure));

    QString key;
    if (!readKey(options.keyFile, &key, &failure))
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
    if (options.simulate)
        box = std::make_unique<SimulatedBox>(*options.simulate);
    else
        box = std::make_unique<SerialBox>(options.device);
    Relay relay(*box, key, options.limits, options.commandSets);
    if (!relay.listen(options.address, options.port, &failure))
        return fatal(QString("cannot listen on %1 port %2: %3. Stop the program that uses the "
                             "port or choose another with --port")
                         .arg(options.listenName)
                         .arg(options.port)
                         .arg(failure));
    if (!options.address.isLoopback() && options.limits.allow.isEmpty())
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer, and "
                    "any address may connect: name the clients with --allow ADDRESS[/BITS]. The "
                    "messages are encrypted but not authenticated: across the internet, put an "
                    "SSH tunnel or a VPN in front of the server")
                .arg(options.listenName));
    else if (!options.address.isLoopback())
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer. The "
                    "messages are encrypted but not authenticated: across the internet, put an "
                    "SSH tunnel or a VPN in front of the server")
                .arg(options.listenName));
    serverlog::event(QString("listening on %1 port %2 (%3)")
                         .arg(options.listenName)
                         .arg(relay.port())
                         .arg(options.simulate ? "simulated " + options.simulateName + " box"
                                               : "box on " + options.device));

    const int status = app.exec();
    relay.shutdown();
    serverlog::event(
        QString("stopped%1").arg(stoppedBy ? QString(" by signal %1").arg(stoppedBy) : ""));
    return status;
}

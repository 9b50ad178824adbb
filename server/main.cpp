// SPDX-License-Identifier: GPL-3.0-or-later
// zephrin-server: the switch box on the network. Its box session owns the box (a serial device,
// or the box model of zephrin-boxsim); the hub lets in the Zephrin windows and loggers whose
// commands the session takes, and sends back the box's state and answers.

#include "box_link.h"
#include "cipher/cipher_error.h"
#include "cipher/tls_key.h"
#include "log.h"
#include "options.h"
#include "band_table.h"
#include "box_session.h"
#include "hub.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The key Zephrin uses until the operator changes it ("Change Encryption Key").
constexpr const char* DefaultKey = "Zephrin";
// A key file holds one line of text; anything this long is not a key file.
constexpr qint64 MaxKeyFileBytes = 4096;

// Exit statuses, as LSB init scripts and systemd's RestartPreventExitStatus= read them.
constexpr int ExitFault = 1;
constexpr int ExitUsage = 2;
constexpr int ExitNotConfigured = 6;

int usageError(const QString& message, int status = ExitUsage)
{
    const char* priority = serverlog::errorsToJournal() ? "<3>" : "";
    std::fprintf(stderr, "%szephrin-server: %s\n%sSee zephrin-server --help.\n", priority,
                 message.toLocal8Bit().constData(), priority);
    return status;
}

int fatal(const QString& message)
{
    serverlog::error("zephrin-server: " + message);
    serverlog::stop();
    return ExitFault;
}

// Takes the variable out of the environment and wipes its text where the process started with
// it, which /proc/PID/environ shows to the user's other processes for as long as it runs.
void scrubEnvironment(const char* name)
{
    const std::size_t nameLength = std::strlen(name);
    char* entry = nullptr;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, name, nameLength) == 0 && (*variable)[nameLength] == '=')
            entry = *variable;
    ::unsetenv(name);
    if (entry)
        std::memset(entry, 0, std::strlen(entry));
}

// Where the key came from: a file (systemd's credential or --key-file) is read again on
// SIGHUP; the environment is read once and cleared, so that the key does not stay in
// /proc/PID/environ.
enum class KeySource { File, Environment, Default };

bool readKeyFile(const QString& keyFile, QString* key, QString* failure)
{
    const QString advice = "Put the key alone on the first line of a plain file and let only "
                           "this user read it (chmod 600)";
    struct stat info {};
    if (::stat(QFile::encodeName(keyFile).constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        *failure = QString("the key file %1 is no plain file (a FIFO, a device or a folder). %2")
                       .arg(keyFile, advice);
        return false;
    }
    QFile file(keyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *failure =
            QString("cannot read the key file %1: %2. %3").arg(keyFile, file.errorString(), advice);
        return false;
    }
    if (file.size() > MaxKeyFileBytes) {
        *failure = QString("the key file %1 holds more than %2 bytes, which is no key. %3")
                       .arg(keyFile)
                       .arg(MaxKeyFileBytes)
                       .arg(advice);
        return false;
    }
    QByteArray text = file.read(MaxKeyFileBytes);
    const qsizetype lineEnd = text.indexOf('\n');
    if (lineEnd >= 0)
        text.truncate(lineEnd);
    if (text.endsWith('\r'))
        text.chop(1);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(text);
    if (utf8.hasError()) {
        *failure = QString("the key file %1 is not UTF-8 text. Write the same key as in "
                           "Zephrin's \"Change Encryption Key\" there with a text editor")
                       .arg(keyFile);
        return false;
    }
    if (decoded.isEmpty()) {
        *failure = QString("the key file %1 holds no key on its first line. Write the same "
                           "key as in Zephrin's \"Change Encryption Key\" there")
                       .arg(keyFile);
        return false;
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        serverlog::warning(QString("zephrin-server: warning: other users can change the key "
                                   "file %1; let only this user write it: chmod 600 %1")
                               .arg(keyFile));
    else if (info.st_mode & (S_IRGRP | S_IROTH))
        serverlog::warning(QString("zephrin-server: warning: other users can read the key "
                                   "file %1; make it readable by this user only: chmod 600 %1")
                               .arg(keyFile));
    *key = decoded;
    return true;
}

// The key: from the credential "key" that systemd hands the service (LoadCredential=), else
// from --key-file, else from ZEPHRIN_KEY, else the default with a warning. Never from the
// command line, where every user sees it in `ps`. *keyFile becomes the file it was read from.
bool readKey(QString* keyFile, QString* key, KeySource* source, QString* failure)
{
    const QByteArray fromEnvironment = qgetenv("ZEPHRIN_KEY");
    scrubEnvironment("ZEPHRIN_KEY");
    const QString credentials = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (!credentials.isEmpty() && QFile::exists(credentials + "/key"))
        *keyFile = credentials + "/key";
    if (!keyFile->isEmpty()) {
        *source = KeySource::File;
        return readKeyFile(*keyFile, key, failure);
    }
    if (!fromEnvironment.isEmpty()) {
        *source = KeySource::Environment;
        *key = QString::fromUtf8(fromEnvironment);
        return true;
    }
    serverlog::warning(
        QString("zephrin-server: warning: no key set, using the default key \"%1\". Set the same "
                "key as in Zephrin's \"Change Encryption Key\" with --key-file FILE (a file "
                "readable by this user only), the environment variable ZEPHRIN_KEY, or, for the "
                "service, in /etc/zephrin/key")
            .arg(DefaultKey));
    *source = KeySource::Default;
    *key = DefaultKey;
    return true;
}

// SIGINT, SIGTERM and SIGHUP only write a byte; the event loop reads it and stops in good order,
// or reads the key again.
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
    ::sigaction(SIGHUP, &action, nullptr);
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
    case ParsedCommandLine::Outcome::NotConfigured:
        return usageError(parsed.text, ExitNotConfigured);
    case ParsedCommandLine::Outcome::Run: break;
    }
    const ServerOptions& options = parsed.options;
    QString failure;
    serverlog::setQuiet(options.quiet);
    if (!options.logFile.isEmpty() && !serverlog::appendTo(options.logFile, &failure))
        return fatal(QString("cannot append to the log file %1: %2. Name a file in a directory "
                             "this user may write to")
                         .arg(options.logFile, failure));

    // A core dump would hold the key.
    ::prctl(PR_SET_DUMPABLE, 0);
    QString key, keyFile = options.keyFile;
    KeySource keySource = KeySource::Default;
    if (!readKey(&keyFile, &key, &keySource, &failure))
        return fatal(failure);
    if (options.printPsk) {
        try {
            std::printf("%s\n", TlsPreSharedKey(key).toHex().constData());
            return 0;
        } catch (const CipherError& error) {
            return fatal(error.description());
        }
    }
    if (!catchStopSignals())
        return fatal("cannot set up the signal handling; is the system out of descriptors?");
    QSocketNotifier stopSignal(signalPipe[0], QSocketNotifier::Read);
    int stoppedBy = 0;
    Hub* running = nullptr;
    QObject::connect(&stopSignal, &QSocketNotifier::activated, [&] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) != 1)
            return;
        if (number != SIGHUP) {
            stoppedBy = static_cast<unsigned char>(number);
            QCoreApplication::quit();
        } else if (keySource != KeySource::File) {
            serverlog::event(QString("SIGHUP: the key %1 stays; a key in a file is read again "
                                     "on SIGHUP")
                                 .arg(keySource == KeySource::Environment
                                          ? "read once from ZEPHRIN_KEY"
                                          : "\"" + QString(DefaultKey) + "\""));
        } else if (QString again, why; !readKeyFile(keyFile, &again, &why)) {
            serverlog::warning("zephrin-server: SIGHUP: the key in use stays: " + why);
        } else if (running) {
            running->setKey(again);
            serverlog::event("SIGHUP: the key was read again from " + keyFile);
        }
    });

    // A bad band table is a mistake of the command line's: it stops the server before anything.
    std::optional<BandTable> bands = BandTable::standard();
    if (!options.bandsFile.isEmpty() && !(bands = BandTable::read(options.bandsFile, &failure)))
        return usageError("--bands " + failure);

    std::unique_ptr<BoxLink> box;
    if (options.simulate)
        box = std::make_unique<SimulatedBox>(*options.simulate);
    else
        box = std::make_unique<SerialBox>(options.device);
    BoxSession session(*box, options.commandSet);
    Hub hub(session, key, options.limits, options.tls);
    running = &hub;
    if (!hub.keepSaltsIn(options.stateFolder, &failure))
        return fatal(failure);
    if (!hub.listen(options.address, options.port, &failure))
        return fatal(QString("cannot listen on %1 port %2: %3. Stop the program that uses the "
                             "port or choose another with --port")
                         .arg(options.listenName)
                         .arg(options.port)
                         .arg(failure));
    if (!options.address.isLoopback() && options.limits.allow.isEmpty() && !options.tls)
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer, and "
                    "any address may connect: name the clients with --allow ADDRESS[/BITS]. The "
                    "messages are encrypted but not authenticated: across the internet, use "
                    "--tls, or put an SSH tunnel or a VPN in front of the server")
                .arg(options.listenName));
    else if (!options.address.isLoopback() && !options.tls)
        serverlog::warning(
            QString("zephrin-server: warning: listening on %1, not only on this computer. The "
                    "messages are encrypted but not authenticated: across the internet, use "
                    "--tls, or put an SSH tunnel or a VPN in front of the server")
                .arg(options.listenName));
    for (const QString& path : options.loggerPorts)
        if (!hub.addLoggerPort(path, &failure))
            return fatal(failure);
    for (const ServerOptions::Listener& at : options.loggerTcp)
        if (!hub.listenForLoggers(at.address, at.port, &failure))
            return fatal(QString("cannot listen for loggers on %1 port %2: %3")
                             .arg(at.address.toString())
                             .arg(at.port)
                             .arg(failure));
    for (int radio = 1; radio <= 2; ++radio)
        if (const ServerOptions::Rig& rig = options.rigs[radio - 1]; !rig.host.isEmpty())
            hub.followBand(radio, *bands, rig.host, rig.port, options.rigPollMs);
    serverlog::event(QString("listening on %1 port %2 (%3)")
                         .arg(options.listenName)
                         .arg(hub.port())
                         .arg(options.simulate ? "simulated " + options.simulateName + " box"
                                               : "box on " + options.device));

    const int status = app.exec();
    hub.shutdown();
    serverlog::event(
        QString("stopped%1").arg(stoppedBy ? QString(" by signal %1").arg(stoppedBy) : ""));
    serverlog::stop();
    return status;
}

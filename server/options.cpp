// SPDX-License-Identifier: GPL-3.0-or-later
#include "options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include "salt_file.h"

namespace {

const char* const LicenceNotice =
    "Copyright (C) 2026 The Zephrin authors\n"
    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// "192.168.1.0/24", "10.1.2.3" or "::1": the network, with every bit counted for an address
// alone. An IPv4 network written as IPv4-mapped IPv6 (::ffff:10.1.2.0/120) is the IPv4 one, as
// the clients' addresses are.
bool parseNetwork(const QString& text, QPair<QHostAddress, int>* network)
{
    QHostAddress address;
    int bits = -1;
    if (text.startsWith('/'))
        return false; // an address is needed before the bits
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

// "4532" on loopback, "192.168.1.5:4532", "[::1]:4532".
bool parseListener(const QString& text, ServerOptions::Listener* listener)
{
    const qsizetype colon = text.lastIndexOf(':');
    QString address = colon < 0 ? ServerOptions::DefaultAddress : text.left(colon);
    if (address.startsWith('[') && address.endsWith(']'))
        address = address.mid(1, address.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    listener->port = quint16(port);
    return ok && port <= 65535 && listener->address.setAddress(address);
}

// [host:]port, the host 127.0.0.1 unless named.
bool parseRig(const QString& text, ServerOptions::Rig* rig)
{
    const qsizetype colon = text.lastIndexOf(':');
    rig->host = colon < 0 ? ServerOptions::DefaultAddress : text.left(colon);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    rig->port = quint16(port);
    return ok && port >= 1 && port <= 65535 && !rig->host.isEmpty();
}

ParsedCommandLine usageError(const QString& text)
{
    return {.outcome = ParsedCommandLine::Outcome::UsageError, .options = {}, .text = text};
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "The switch box on the network: Zephrin anywhere on the network drives the box wired to "
        "this computer as over its own serial port. Every message is encrypted under a key "
        "shared with Zephrin, but not authenticated; with --tls, TLS authenticates both ends "
        "with that key.\n"
        "The key is read from systemd's credential \"key\" (LoadCredential=), else from "
        "--key-file, else from the environment variable ZEPHRIN_KEY, never from the command "
        "line; without any of them, the default key \"Zephrin\".\n"
        "Exit status: 0 stopped, 1 a fault at run time, 2 bad usage, 6 no box configured "
        "(an empty --device).");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption device("device",
                                    "The box's serial device (9600 8N1), such as "
                                    "/dev/serial/by-id/usb-...-port0. No default.",
                                    "path");
    const QCommandLineOption simulate(
        "simulate", "No box: simulate one speaking <set>, otrsp or mk2r. No default.", "set");
    const QCommandLineOption protocol(
        "protocol",
        "The box's command set: otrsp or mk2r (default otrsp; --simulate names it). Only whole "
        "lines of it reach the box; a line of the other set is translated where the box's set "
        "has its counterpart.",
        "set", "otrsp");
    const QCommandLineOption port("port",
                                  "TCP port to listen on (default 9876; 0 picks a free "
                                  "one and logs it).",
                                  "number", QString::number(ServerOptions::DefaultPort));
    const QCommandLineOption listen(
        "listen",
        "Address to listen on (default 127.0.0.1; :: is every IPv6 and IPv4 address). Any other "
        "address lets the network in: name its clients with --allow, and use --tls (or an SSH "
        "tunnel or a VPN) across the internet.",
        "address", ServerOptions::DefaultAddress);
    const QCommandLineOption keyFile("key-file",
                                     "File whose first line is the key, unless systemd hands "
                                     "the key over (default: none; then ZEPHRIN_KEY, then "
                                     "\"Zephrin\").",
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
    const QCommandLineOption maxPerAddress(
        "max-per-address",
        "Connections from one address at once; one more is closed at once and logged (default "
        "0: no cap, as clients through an SSH tunnel all come from 127.0.0.1).",
        "n", "0");
    const QCommandLineOption loginTimeout(
        "login-timeout",
        QString("Seconds a connection may stay without sending a command (default %1).")
            .arg(ClientLimits::DefaultLoginTimeoutSeconds),
        "seconds", QString::number(ClientLimits::DefaultLoginTimeoutSeconds));
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
    const QCommandLineOption stateDir(
        "state-dir",
        "Folder of the server's memory of accepted messages, so that none can be replayed after "
        "a restart (default: systemd's StateDirectory, else ~/.local/state/zephrin).",
        "folder");
    const QCommandLineOption logFile("log",
                                     "Also append every event and warning, with date and time, "
                                     "to this file, whatever --quiet says (default: none).",
                                     "file");
    const QCommandLineOption quiet("quiet", "Log no events (default: one line per event). "
                                            "Warnings and errors still go to standard error.");
    const QCommandLineOption loggerPort(
        "logger-port",
        "Make a serial port for a contest logger: a pty that a link at <path> names (for Wine, "
        "link ~/.wine/dosdevices/com5 to it). The logger's commands reach the box like a "
        "client's; its queries are answered to it alone. Repeat it for more loggers.",
        "path");
    const QCommandLineOption loggerTcp(
        "logger-tcp",
        "Take a logger's plain command lines on TCP at [address:]port (default address "
        "127.0.0.1; any other only with --allow). Plain text: for this computer or a trusted "
        "network only. Repeatable.",
        "[address:]port");
    const QCommandLineOption rig1(
        "rig1",
        "Follow radio 1's band from Hamlib's rigctld at [host:]port (default host 127.0.0.1): "
        "when it changes band, radio 1's aux output takes the band's value (--bands).",
        "[host:]port");
    const QCommandLineOption rig2("rig2", "The same for radio 2.", "[host:]port");
    const QCommandLineOption rigPoll(
        "rig-poll", "Ask each rigctld for its radio's frequency every <ms> milliseconds, 50 or more "
                    "(default 250).",
        "ms", QString::number(ServerOptions::DefaultRigPollMs));
    const QCommandLineOption bands(
        "bands",
        "The band table: one band a line, its name, lower and upper edge in Hz and the aux value "
        "for radio 1 and for radio 2; \"outside keep\" or \"outside off\" for a frequency "
        "outside every band (default: 160 m to 6 m, BCD band data, keep).",
        "file");
    const QCommandLineOption tls(
        "tls", "Speak TLS 1.2 on the port, authenticated by a key derived from the shared key, "
               "and nothing else: for any network but this computer (default: the encrypted "
               "messages).");
    const QCommandLineOption printPsk(
        "print-psk", "Print the TLS key derived from the shared key in hex, for openssl s_client "
                     "-psk, and stop.");
    parser.addOptions({device, simulate, protocol, port, listen, keyFile, allow, maxClients,
                       maxPerAddress, loginTimeout, maxRate, threads, stateDir, logFile, quiet,
                       loggerPort, loggerTcp, rig1, rig2, rigPoll, bands, tls, printPsk});

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return {.outcome = ParsedCommandLine::Outcome::ShowHelp,
                .options = {},
                .text = parser.helpText()};
    if (parser.isSet(version))
        return {.outcome = ParsedCommandLine::Outcome::ShowVersion,
                .options = {},
                .text = QCoreApplication::applicationName() + ' ' +
                        QCoreApplication::applicationVersion() + '\n' + LicenceNotice};
    if (!parser.positionalArguments().isEmpty())
        return usageError("unexpected argument " + parser.positionalArguments().first() +
                          "; the key goes in --key-file or ZEPHRIN_KEY");
    if (parser.isSet(printPsk)) {
        ParsedCommandLine printing;
        printing.options.printPsk = true;
        printing.options.keyFile = parser.value(keyFile);
        return printing;
    }
    // An empty --device names no box: the service runs with --device "${ZEPHRIN_DEVICE}".
    const bool deviceNamed = parser.isSet(device) && !parser.value(device).isEmpty();
    if (parser.isSet(device) && !deviceNamed && !parser.isSet(simulate))
        return {.outcome = ParsedCommandLine::Outcome::NotConfigured,
                .options = {},
                .text = "no box is configured: --device names no device. Set ZEPHRIN_DEVICE in "
                        "/etc/default/zephrin-server to the box's serial device for the "
                        "service, or name it with --device PATH"};
    if (deviceNamed == parser.isSet(simulate))
        return usageError("name the box: either --device PATH or --simulate otrsp|mk2r");

    ParsedCommandLine parsed;
    ServerOptions& options = parsed.options;
    options.device = parser.value(device);
    if (parser.isSet(simulate)) {
        options.simulate = protocolNamed(parser.value(simulate));
        if (!options.simulate)
            return usageError("--simulate takes otrsp or mk2r, not " + parser.value(simulate));
        options.simulateName = parser.value(simulate);
    }
    const QString setName = parser.value(protocol);
    if (setName.compare("both", Qt::CaseInsensitive) == 0)
        return usageError("--protocol both is no more: a box speaks one set. Name it with "
                          "--protocol otrsp or --protocol mk2r; lines of the other set are "
                          "translated for it");
    const auto named = protocolNamed(setName);
    if (!named)
        return usageError("--protocol takes otrsp or mk2r, not " + setName);
    options.commandSet = *named;
    if (options.simulate) {
        if (parser.isSet(protocol) && options.commandSet != *options.simulate)
            return usageError("--protocol " + setName + " is not the simulated box's " +
                              options.simulateName);
        options.commandSet = *options.simulate;
    }
    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber > 65535)
        return usageError("--port takes a TCP port number 0 to 65535, not " + parser.value(port));
    options.port = quint16(portNumber);
    options.listenName = parser.value(listen);
    if (!options.address.setAddress(options.listenName))
        return usageError("--listen takes an IP address such as 127.0.0.1 or 0.0.0.0, not " +
                          options.listenName);
    // "::" takes IPv4 clients too, as on most servers; they arrive as IPv4-mapped addresses.
    if (options.address == QHostAddress(QHostAddress::AnyIPv6))
        options.address = QHostAddress(QHostAddress::Any);
    if (options.address.protocol() == QAbstractSocket::IPv6Protocol &&
        plainAddress(options.address).protocol() == QAbstractSocket::IPv4Protocol)
        return usageError("--listen takes an IPv4 address as such: " +
                          plainAddress(options.address).toString() + ", not " + options.listenName);
    options.keyFile = parser.value(keyFile);
    options.stateFolder = parser.isSet(stateDir) ? parser.value(stateDir) : defaultStateFolder();
    for (const QString& text : parser.values(allow)) {
        QPair<QHostAddress, int> network;
        if (!parseNetwork(text, &network))
            return usageError("--allow takes an address or a network such as 192.168.1.20 or "
                              "192.168.1.0/24, not " +
                              text);
        options.limits.allow.append(network);
    }
    options.limits.maxClients = positiveNumber(parser, maxClients, &ok);
    if (!ok)
        return usageError("--max-clients takes a number of clients, 1 or more");
    options.limits.maxPerAddress = parser.value(maxPerAddress).toInt(&ok);
    if (!ok || options.limits.maxPerAddress < 0)
        return usageError("--max-per-address takes a number of connections, 0 (no cap) or more");
    options.limits.loginTimeoutSeconds = positiveNumber(parser, loginTimeout, &ok);
    if (!ok)
        return usageError("--login-timeout takes a number of seconds, 1 or more");
    options.limits.maxRate = positiveNumber(parser, maxRate, &ok);
    if (!ok)
        return usageError("--max-rate takes a number of messages a second, 1 or more");
    options.limits.threads = positiveNumber(parser, threads, &ok);
    const int mostThreads = 4 * QThread::idealThreadCount();
    if (!ok || options.limits.threads > mostThreads)
        return usageError(QString("--threads takes a number of threads, 1 to %1 (four for each "
                                  "core)")
                              .arg(mostThreads));
    options.logFile = parser.value(logFile);
    options.quiet = parser.isSet(quiet);
    options.tls = parser.isSet(tls);
    options.loggerPorts = parser.values(loggerPort);
    for (const QString& text : parser.values(loggerTcp)) {
        ServerOptions::Listener listener;
        if (!parseListener(text, &listener))
            return usageError("--logger-tcp takes [address:]port such as 4532 or "
                              "192.168.1.5:4532, not " +
                              text);
        // Plain text on the network: only for the clients the operator names.
        if (!listener.address.isLoopback() && options.limits.allow.isEmpty())
            return usageError("--logger-tcp " + text +
                              " takes plain text from the network: name the loggers' computers "
                              "with --allow, or leave the address out for this computer alone");
        options.loggerTcp.push_back(listener);
    }
    for (int radio = 0; radio < 2; ++radio) {
        const QCommandLineOption& rig = radio == 0 ? rig1 : rig2;
        if (parser.isSet(rig) && !parseRig(parser.value(rig), &options.rigs[radio]))
            return usageError(QString("--rig%1 takes [host:]port such as 4532 or radio-pi:4532, "
                                      "not %2")
                                  .arg(radio + 1)
                                  .arg(parser.value(rig)));
    }
    options.rigPollMs = parser.value(rigPoll).toInt(&ok);
    if (!ok || options.rigPollMs < ServerOptions::LeastRigPollMs)
        return usageError(QString("--rig-poll takes a number of milliseconds, %1 or more")
                              .arg(ServerOptions::LeastRigPollMs));
    options.bandsFile = parser.value(bands);
    return parsed;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server's command line, read into plain values that the server is started from.

#include "boxprotocol/command_set.h"
#include "client_limits.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

struct ServerOptions {
    static constexpr quint16 DefaultPort = 9876;
    static constexpr const char* DefaultAddress = "127.0.0.1";

    QString device;                    // the box's serial device; empty for a simulated box
    std::optional<Protocol> simulate;  // the simulated box's command set
    Protocol commandSet = Protocol::Otrsp; // what the box speaks: only its lines reach it
    QString simulateName;              // as the operator wrote it
    quint16 port = DefaultPort;
    QHostAddress address;
    QString listenName; // as the operator wrote it
    QString keyFile;
    QString stateFolder;
    ClientLimits limits;
    QString logFile;
    bool quiet = false;
    // The windows' port speaks TLS with the key's pre-shared key instead of the messages.
    bool tls = false;
    // Print the pre-shared key in hex and stop: for openssl s_client -psk.
    bool printPsk = false;
    // Links to the ptys that loggers open as their serial port.
    QStringList loggerPorts;
    // Where loggers connect with plain TCP.
    struct Listener {
        QHostAddress address;
        quint16 port = 0;
    };
    std::vector<Listener> loggerTcp;
    // Each radio's rigctld, whose band its aux output follows; an empty host for none.
    struct Rig {
        QString host;
        quint16 port = 0;
    };
    static constexpr int DefaultRigPollMs = 250;
    static constexpr int LeastRigPollMs = 50;
    Rig rigs[2];
    int rigPollMs = DefaultRigPollMs;
    QString bandsFile; // empty: the standard table
};

struct ParsedCommandLine {
    // NotConfigured: the box is named by an empty --device, as the service's unit names it
    // before ZEPHRIN_DEVICE is set in /etc/default/zephrin-server.
    enum class Outcome { Run, ShowHelp, ShowVersion, UsageError, NotConfigured };
    Outcome outcome = Outcome::Run;
    ServerOptions options;
    QString text; // the help, the version, or what is wrong with the command line
};

// arguments begin with the program's name, as argv does.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The server proper: clients on TCP, each sending encrypted commands for the box, and loggers
// sending plain ones; every client that has spoken gets the state reports as encrypted messages,
// and each source the box's answers to its own queries.

#include "box_link.h"
#include "cipher/key_pool.h"
#include "intake.h"
#include "linecode/message_stream.h"
#include "logger_link.h"
#include "salt_file.h"
#include "seen_salts.h"
#include "thread_runner.h"

#include "boxprotocol/command_set.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <array>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>

// Who may connect and how much work one client may cause.
struct ClientLimits {
    static constexpr int DefaultMaxClients = 8;
    static constexpr int DefaultMaxRate = 50;
    static constexpr int DefaultLoginTimeoutSeconds = 10;

    // Networks whose clients may connect; empty: any.
    QList<QPair<QHostAddress, int>> allow;
    int maxClients = DefaultMaxClients;
    // Connections from one address at once; 0: no cap (clients through an SSH tunnel all come
    // from 127.0.0.1).
    int maxPerAddress = 0;
    // A connection that has sent no command in this time is closed.
    int loginTimeoutSeconds = DefaultLoginTimeoutSeconds;
    // Messages decrypted per client and second (each one a 10000-iteration key derivation).
    int maxRate = DefaultMaxRate;
    // Worker threads decrypting received messages.
    int threads = 1;
};

// The address a client is known by: an IPv4 client of a socket listening on IPv6 arrives as
// ::ffff:a.b.c.d, and is the IPv4 address a.b.c.d for --allow and the log.
QHostAddress plainAddress(const QHostAddress& address);

// True when the client's plain address is in one of the networks, or none is named. An IPv6
// network takes the IPv4 clients whose mapped address it holds (::/0 takes every client).
bool isAllowed(const QList<QPair<QHostAddress, int>>& allow, const QHostAddress& client);

class Relay {
public:
    // Only whole lines of the given command sets reach the box.
    Relay(BoxLink& box, QString key, const ClientLimits& limits, std::vector<Protocol> commandSets);
    ~Relay();

    // False, with the reason, when the address cannot be listened on.
    bool listen(const QHostAddress& address, quint16 port, QString* reason);
    quint16 port() const { return server_.serverPort(); }
    // From now on messages are read, and reports written, under this key.
    void setKey(const QString& key);
    // Remembers the salts of accepted messages in this folder too, and takes those it holds.
    bool keepSaltsIn(const QString& folder, QString* failure);
    // Stops listening and closes every connection after what is queued for it has gone.
    void shutdown();

    // A logger's serial port: a pty that a link at the path names. False, with the reason, when
    // it cannot be made.
    bool addLoggerPort(const QString& linkPath, QString* failure);
    // Loggers on plain TCP; false, with the reason, when the address cannot be listened on.
    bool listenForLoggers(const QHostAddress& address, quint16 port, QString* reason);

private:
    // Whatever sends command lines for the box: an encrypted client or a logger. Each source's
    // text is gathered in a line of its own until its carriage return: no other source's text
    // comes between, and only a whole command goes to the box.
    struct Source {
        int id = 0;
        QString name; // "client 3 (127.0.0.1)", as the log shows it
        QByteArray line;
        bool lineTooLong = false;
        QElapsedTimer lastRefusal; // lines refused are logged at most once a second
        int refusedSince = 0;
        int linesThisSecond = 0;       // logged, and counted past the bound
        int inFlight = 0;              // its messages being decrypted, its text on its way
        int decryptionsThisSecond = 0; // against --max-rate
        bool throttled = false;        // not read nor decrypted until the next second
        bool throttledBefore = false;  // throttled in the second before: logged then
    };

    // One connected client. A QObject so that it can outlive its own signals by deleteLater.
    struct Client : QObject, Source {
        QTcpSocket* socket = nullptr;
        QHostAddress address;
        // It has sent a command that went to the box: it knows the key and may keep its place.
        bool proven = false;
        QTimer login;
        QElapsedTimer connected;
        bool toldState = false; // the box's state was reported to it on joining
        MessageStream incoming{MessageStream::Reader::Server};
        QTimer tailQuiet;
        bool spoken = false; // reports go only to clients that have sent something
        bool gone = false;
        // The client closed its side; what it sent before is still carried out.
        bool hungUp = false;
        bool closing = false; // the server is stopping
    };

    // A logger: plain command lines in, the box's answers to its own queries out; no reports.
    struct Logger : Source {
        std::unique_ptr<LoggerLink> link;
        bool gone = false; // hung up; what it sent before is still carried out
    };

    // A client is read while its queue has room; one read adds at most this many bytes, a few
    // messages, beyond Intake::MaxQueuedPerSource.
    static constexpr qint64 ReadChunkBytes = 256;
    static constexpr int RateWindowMs = 1000;
    // Longer than any command; a line longer than this is no command.
    static constexpr qsizetype MaxCommandBytes = 64;
    static constexpr int RefusalLogMs = 1000;
    static constexpr int MaxClientLinesPerSecond = 20;
    // "Salted__" and the salt.
    static constexpr qsizetype HeaderBytes = 16;
    // The Base64 of a header and the longest command line.
    static constexpr qsizetype MaxMessageCharacters = (HeaderBytes + MaxCommandBytes + 2) / 3 * 4;
    // Whole messages of a client that hung up that are still carried out.
    static constexpr qsizetype MaxMessagesAfterHangUp = 4;
    // Reports and answers waiting for a client that does not read them.
    static constexpr qint64 MaxUnsentBytes = qint64(64) * 1024;

    void accept();
    bool makeRoom();
    void readFrom(Client& client);
    void readAll();
    void takeMessage(Client& client, const QByteArray& message);
    Intake::Admission admit(int clientId, const QByteArray& message);
    void applyDecrypted(int clientId, const QByteArray& message, const QString& text,
                        const QString& failure);
    void newSecond();
    static bool peerHasHungUp(const Client& client);
    void hungUp(Client& client);
    void retireIfDone(Client& client);
    void takeText(Source& source, const QString& text);
    void takeLine(Source& source);
    Source* source(int id);
    std::vector<Source*> sources();
    void clientEvent(Source& source, const QString& line);
    bool withholdOpening(Source& from, const QByteArray& line);
    void toBox(Source& from, const QByteArray& line);
    void feedBox();
    void takeAnswer(const QByteArray& burst);
    void answered();
    void deliver(int sourceId, const QByteArray& answer);
    void addLogger(std::unique_ptr<LoggerLink> link);
    void acceptLogger(QTcpServer& listener);
    void readLogger(int id);
    void loggerGone(int id);
    void retireLoggerIfDone(int id);
    // Sent to every client that listens, or to the one client `to`.
    void report(const QByteArray& text, const QString& what, int to = 0);
    void sendReports();
    std::vector<Client*> listeners() const;
    // 1 the transmit focus, 2 the receive focus, 3 and 4 a radio's aux; 0 for a box's answer.
    static int stateOf(const QByteArray& report);
    void drop(Client& client);

    BoxLink& box_;
    // Read by the decrypting threads, changed on the event loop.
    mutable std::mutex keyMutex_;
    QString key_;
    QString key() const;
    ClientLimits limits_;
    QTcpServer server_;
    Intake intake_;
    // Declared after the intake, so that its jobs have ended before the intake goes.
    ThreadRunner decryptRunner_{limits_.threads};
    SeenSalts acceptedSalts_;
    SaltFile saltFile_;
    std::unordered_set<quint64> saltsInFlight_; // at most the intake's messages in flight
    QTimer rateWindow_;
    struct WaitingReport {
        int state = 0;
        QByteArray text;
        QString what; // as the log calls it
        int to = 0;   // one client's, or 0 for every client's
    };
    std::deque<WaitingReport> waitingReports_;
    static constexpr std::size_t MaxWaitingReports = 64;
    // Keys for the reports, derived ahead on a thread of their own.
    KeyPool reportKeys_;
    ThreadRunner keyRunner_{1};
    std::map<int, Client*> clients_;
    int nextClientId_ = 1;
    std::vector<Protocol> commandSets_;

    // Whole lines for the box, from every source, in the order they were taken. While the box
    // answers a query, the lines behind it wait: its answer is the asker's alone.
    struct BoxLine {
        int source = 0;
        QByteArray line;
    };
    std::deque<BoxLine> toBox_;
    static constexpr std::size_t MaxWaitingLines = 64;
    struct OpenQuery {
        int source = 0;
        QByteArray answer;
    };
    std::optional<OpenQuery> query_;
    // An answer ends at its carriage return, or when the box has been silent this long.
    QTimer answerQuiet_;
    static constexpr int AnswerQuietMs = 100;
    // Longer than any answer of a box.
    static constexpr qsizetype MaxAnswerBytes = 256;
    // The state the box was last put in or said it is in, as the window's tokens: the transmit
    // focus, the receive focus and each radio's aux, by stateOf() - 1.
    std::array<QByteArray, 4> known_;
    // With a logger beside them, a client's aux switched off in this time after it connected is
    // the window's opening, not an operator's command.
    static constexpr int OpeningGraceMs = 1000;
    bool loggersShare_ = false;
    std::map<int, std::unique_ptr<Logger>> loggers_;
    std::vector<std::unique_ptr<QTcpServer>> loggerListeners_;
    int loggerPorts_ = 0;
};

#pragma once

// The server proper: clients on TCP, each sending encrypted commands for the box, and every
// client that has spoken getting the state reports and the box's answers as encrypted messages.

#include "box_link.h"
#include "message_stream.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <map>

// Faults that a test can ask for in what the server sends.
struct FaultOptions {
    bool split = false;   // each write in two, with SplitPauseMs between them
    int batch = 1;        // reports held until this many can go in one write
    bool garbage = false; // random text after each report
    int closeAfter = 0;   // close a client after this many messages from it (0: never)
    bool mute = false;    // send nothing at all
};

class Relay {
public:
    Relay(BoxLink& box, const QString& key, const FaultOptions& faults);
    ~Relay();

    // False, with the reason, when the address cannot be listened on.
    bool listen(const QHostAddress& address, quint16 port, QString* reason);
    quint16 port() const { return server_.serverPort(); }
    // Stops listening and closes every connection after what is queued for it has gone.
    void shutdown();

private:
    // One connected client. A QObject so that it can outlive its own signals by deleteLater.
    struct Client : QObject {
        int id = 0;
        QTcpSocket* socket = nullptr;
        MessageStream incoming;
        QTimer tailQuiet;
        bool spoken = false; // reports go only to clients that have sent something
        bool gone = false;
        int messagesReceived = 0;
        bool closing = false;
        QByteArray held; // reports waiting for a full batch
        int heldReports = 0;
        QTimer batchFlush;
        QByteArray splitRest; // the second half of a split write and what queued behind it
        QTimer splitPause;
    };

    static constexpr qint64 ReadChunkBytes = 16 * 1024;
    // Longer than any command; what the box's line holds beyond this is no command we report.
    static constexpr qsizetype MaxCommandBytes = 64;
    static constexpr int SplitPauseMs = 30;
    // A partial batch still goes out after this long, so no report is held for ever.
    static constexpr int BatchFlushMs = 1000;

    void accept();
    void readFrom(Client& client);
    void handleMessage(Client& client, const QByteArray& message);
    void toBox(const QByteArray& text);
    void report(const QByteArray& text, const QString& what);
    void deliver(Client& client, const QByteArray& message);
    void flush(Client& client);
    void write(Client& client, const QByteArray& bytes);
    void closeWhenSent(Client& client);
    void drop(Client& client);

    BoxLink& box_;
    QString key_;
    FaultOptions faults_;
    QTcpServer server_;
    std::map<int, Client*> clients_;
    int nextClientId_ = 1;
    QByteArray boxLine_; // the box's current line, as far as we have written it
    bool boxLineTooLong_ = false;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The encrypted messages of the network connections. A transport turns one connection's bytes
// into text for its source: cut into messages, checked, refused when sent before, decrypted on
// worker threads; and writes the server's reports and answers to it as messages. The codec is
// what the connections share: the key, the memory of accepted salts, the intake that takes the
// connections' messages in turn, and the keys derived ahead for what the server sends.

#include "boxprotocol/command_set.h"
#include "cipher/key_pool.h"
#include "intake.h"
#include "linecode/message_stream.h"
#include "salt_file.h"
#include "seen_salts.h"
#include "source.h"
#include "thread_runner.h"
#include "transport.h"

#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_set>

class MessageTransport;

class MessageCodec : public Transports {
public:
    // threads: workers decrypting received messages. maxRate: messages decrypted per connection
    // and second (each one a 10000-iteration key derivation).
    MessageCodec(QString key, int threads, int maxRate);
    ~MessageCodec() override;
    MessageCodec(const MessageCodec&) = delete;
    MessageCodec& operator=(const MessageCodec&) = delete;

    std::unique_ptr<Transport> open(int id, QTcpSocket* socket, Source& source) override;
    // From now on messages are read, and sent, under this key.
    void setKey(const QString& key) override;
    // Remembers the salts of accepted messages in this folder too, and takes those it holds.
    bool keepSaltsIn(const QString& folder, QString* failure) override;
    // One message for every connection that listens, encrypted once.
    void report(const QByteArray& text, Output output) override
    {
        send(text, "state report", 0, output);
    }
    // Sends the text as one message to connection `to`, or to every connection that listens
    // (0). Messages wait for a key derived ahead, in order; a newer report of the same output
    // replaces an older one that still waits, and goes behind what was queued since.
    void send(const QByteArray& text, const QString& what, int to = 0,
              std::optional<Output> output = std::nullopt);
    // Once a second: the rate window, and connections whose peer hung up unseen.
    void newSecond() override;
    bool anyListening() const;

private:
    friend class MessageTransport;
    struct Waiting {
        QByteArray text;
        QString what; // as the log calls it
        int to = 0;
        std::optional<Output> output;
    };
    static constexpr std::size_t MaxWaiting = 64;

    QString key() const;
    // A salt that may not come again: of a message accepted, or sent.
    void remember(quint64 salt);
    Intake::Admission admit(int id, const QByteArray& message);
    void applyDecrypted(int id, const QByteArray& message, const QString& text,
                        const QString& failure);
    void sendWaiting();
    void readAll();

    // Read by the decrypting threads, changed on the event loop.
    mutable std::mutex keyMutex_;
    QString key_;
    int maxRate_;
    Intake intake_;
    // Declared after the intake, so that its jobs have ended before the intake goes.
    ThreadRunner decryptRunner_;
    SeenSalts acceptedSalts_;
    SaltFile saltFile_;
    std::unordered_set<quint64> saltsInFlight_; // at most the intake's messages in flight
    std::map<int, MessageTransport*> transports_;
    std::deque<Waiting> waiting_;
    KeyPool sendKeys_;
    ThreadRunner keyRunner_{1};
};

class MessageTransport : public Transport {
public:
    // A client is read while its queue has room; one read adds at most this many bytes, a few
    // messages, beyond Intake::MaxQueuedPerSource.
    static constexpr qint64 ReadChunkBytes = 256;
    // The Base64 of a header and the longest command line.
    static constexpr qsizetype MaxMessageCharacters =
        messageformat::base64Length(messageformat::HeaderBytes + Source::MaxCommandBytes);
    // Whole messages of a client that hung up that are still carried out.
    static constexpr qsizetype MaxMessagesAfterHangUp = 4;
    // Reports and answers waiting for a client that does not read them.
    static constexpr qint64 MaxUnsentBytes = qint64(64) * 1024;

    // Takes the socket; the source is given the text of its messages.
    MessageTransport(MessageCodec& codec, int id, QTcpSocket* socket, Source& source);
    ~MessageTransport() override;
    MessageTransport(const MessageTransport&) = delete;
    MessageTransport& operator=(const MessageTransport&) = delete;

    // One of its messages completed a command line of the box's set: it knows the key.
    bool proven() const override { return proven_; }
    // Proven and there: it gets the reports.
    bool listening() const { return proven_ && !closing_ && !hungUp_ && !done_; }
    // Its source ended a line: the messages that carried it are remembered as accepted when it
    // was a command; when it was none, that counts against a connection not yet proven.
    void lineEnded(bool command) override;
    // Something in flight or waiting for it: it is speaking, not idle.
    bool busy() const override;
    void abort() override;
    void close() override;
    // Encrypted under a key derived ahead, as all the codec sends.
    void send(const QByteArray& text, const QString& what) override
    {
        codec_.send(text, what, id_);
    }
    // Its MaxStrikes-th message that no operator sends strikes it out; it is closed.
    static constexpr int MaxStrikes = 3;

private:
    friend class MessageCodec;

    void read();
    void takeMessage(const QByteArray& message);
    void hungUp();
    bool peerHasHungUp() const;
    void doneIfFinished();
    void write(const QByteArray& message);
    void strike(const QString& what);

    MessageCodec& codec_;
    int id_;
    QTcpSocket* socket_;
    Source& source_;
    MessageStream incoming_{MessageStream::Reader::Server};
    QTimer tailQuiet_;
    bool proven_ = false;
    int strikes_ = 0;
    // The salts of the messages that carried the line its source has not ended yet.
    std::vector<quint64> lineSalts_;
    bool hungUp_ = false;  // the client closed its side; what it sent before is carried out
    bool closing_ = false; // the server is stopping
    bool done_ = false;
    int inFlight_ = 0;              // its messages being decrypted
    int decryptionsThisSecond_ = 0; // against the rate
    bool throttled_ = false;        // not read nor decrypted until the next second
    bool throttledBefore_ = false;  // throttled in the second before: logged then
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "links.h"

#include "cipher/encrypted_text.h"
#include "cipher/tls_key.h"
#include "operator_error.h"
#include "platform/serial_port.h"
#include "platform/socket.h"
#include "platform/workers.h"

void SerialLink::send(const QString& text)
{
    port_.output(text);
}

struct NetworkLink::Arrival {
    struct Decryption {
        QString message;
        Report report;
    };
    std::vector<Decryption> reports; // each written by its own worker
    int undecrypted = 0;
};

NetworkLink::NetworkLink(Socket& socket, Workers& workers, const QString& key)
    : socket_(socket), workers_(workers), key_(key),
      keys_([&workers](std::function<void()> job, std::function<void()> done) {
          workers.startLater(KeyPool::RefillDelayMs, std::move(job), std::move(done));
      })
{
}

void NetworkLink::send(const QString& text)
{
    socket_.sendData(secure_ ? text : keys_.encrypt(text, key_));
}

void NetworkLink::connectTo(const QString& host, int port, bool secure)
{
    secure_ = secure;
    if (!secure)
        return socket_.connectTo(host, port);
    if (preSharedKeyFor_ == key_ && !deriving_)
        return socket_.connectSecurely(host, port, preSharedKey_);
    waitingToConnect_ = {host, port};
    preparePreSharedKey();
}

void NetworkLink::preparePreSharedKey()
{
    if (deriving_ || (preSharedKeyFor_ == key_ && !preSharedKey_.isEmpty()))
        return;
    deriving_ = true;
    // A derivation that fails leaves the key empty: the handshake fails and says so.
    auto derived = std::make_shared<QByteArray>();
    workers_.start(
        [derived, key = key_] {
            try {
                *derived = TlsPreSharedKey(key);
            } catch (const CipherError&) {
            }
        },
        [this, derived, key = key_] {
            deriving_ = false;
            preSharedKey_ = *derived;
            preSharedKeyFor_ = key;
            if (key != key_)
                return preparePreSharedKey(); // the key changed meanwhile
            if (waitingToConnect_) {
                const auto [host, port] = *std::exchange(waitingToConnect_, std::nullopt);
                socket_.connectSecurely(host, port, preSharedKey_);
            }
        });
}

bool NetworkLink::isUp() const
{
    return socket_.state() == Socket::Connected;
}

void NetworkLink::prepareKeys()
{
    if (!secure_) // TLS derives no key per message
        keys_.prepare(key_);
}

void NetworkLink::close()
{
    socket_.close();
    waitingToConnect_.reset();
    reports_.clear();
    lines_.clear();
    lineTail_.clear();
    arrivals_.clear();
    inFlight_ = 0;
    ++connection_;
}

void NetworkLink::takeReports(bool dataEvent)
{
    const int room = MaxReportsInFlight - inFlight_;
    if (room <= 0)
        return; // read again once reports have been handed on
    // Whole reports of an earlier read go first; the socket is read again once all have started.
    if (!hasWholeReport())
        read();
    QStringList messages;
    while (hasWholeReport() && messages.size() < room)
        messages << nextReport();
    // A flood is handed on a few reports at a time, so that the window's own events come in
    // between.
    for (qsizetype first = 0; first < messages.size() || (first == 0 && dataEvent);
         first += ReportsPerArrival)
        decrypt(messages.mid(first, ReportsPerArrival));
}

void NetworkLink::read()
{
    const QByteArray data = socket_.getData().toLatin1();
    if (!secure_)
        return void(reports_.append(data));
    lineTail_ += data;
    for (qsizetype end = lineTail_.indexOf('\r'); end >= 0 || lineTail_.size() >= MaxLineBytes;
         end = lineTail_.indexOf('\r')) {
        const qsizetype length = end >= 0 ? std::min(end + 1, MaxLineBytes) : MaxLineBytes;
        lines_.push_back(lineTail_.left(length));
        lineTail_.remove(0, length);
    }
}

QString NetworkLink::nextReport()
{
    if (!secure_)
        return QString::fromLatin1(reports_.takeNext());
    QByteArray line = std::move(lines_.front());
    lines_.pop_front();
    return QString::fromLatin1(line);
}

void NetworkLink::decrypt(const QStringList& messages)
{
    const auto next = std::make_shared<Arrival>();
    next->reports.resize(messages.size());
    next->undecrypted = int(messages.size());
    arrivals_.push_back(next);
    inFlight_ += int(messages.size());
    for (qsizetype i = 0; i < messages.size(); ++i) {
        Arrival::Decryption* decryption = &next->reports[i];
        decryption->message = messages[i];
        workers_.start(
            [decryption, next, key = key_, secure = secure_] {
                if (secure) {
                    decryption->report.text = decryption->message; // TLS has decrypted it
                    return;
                }
                try {
                    decryption->report.text = DecryptText(decryption->message, key);
                } catch (const CipherError& failure) {
                    decryption->report.failure = operatorError(failure);
                }
            },
            [this, next, connection = connection_] {
                if (connection != connection_)
                    return;
                --next->undecrypted;
                handOn();
                takeReports(false);
            });
    }
    if (messages.isEmpty())
        handOn();
}

void NetworkLink::handOn()
{
    while (!arrivals_.empty() && arrivals_.front()->undecrypted == 0) {
        const std::shared_ptr<Arrival> arrival = arrivals_.front();
        arrivals_.pop_front();
        inFlight_ -= int(arrival->reports.size());
        std::vector<Report> reports;
        reports.reserve(arrival->reports.size());
        for (Arrival::Decryption& decryption : arrival->reports)
            reports.push_back(std::move(decryption.report));
        if (onArrival)
            onArrival(reports);
    }
}

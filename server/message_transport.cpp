// SPDX-License-Identifier: GPL-3.0-or-later
#include "message_transport.h"

#include "cipher/cipher_error.h"
#include "cipher/encrypted_text.h"
#include "log.h"

#include <poll.h>

using serverlog::shown;

namespace {

// Commands and typed keys are printable ASCII, carriage return or backspace. Anything else is
// what a message under another key decrypts to.
bool isPlainText(const QString& text)
{
    for (const QChar c : text)
        if (c != '\r' && c != '\b' && (c.unicode() < 0x20 || c.unicode() > 0x7E))
            return false;
    return true;
}

} // namespace

MessageCodec::MessageCodec(QString key, int threads, int maxRate)
    : key_(std::move(key)), maxRate_(maxRate),
      intake_(
          threads,
          [this](std::function<void()> job, std::function<void()> done) {
              decryptRunner_.run(std::move(job), std::move(done));
          },
          [this](const QByteArray& message) {
              return DecryptText(QString::fromLatin1(message), this->key());
          },
          [this](int id, const QByteArray& message, const QString& text, const QString& failure) {
              applyDecrypted(id, message, text, failure);
          }),
      decryptRunner_(threads),
      sendKeys_([this](std::function<void()> job, std::function<void()> done) {
          keyRunner_.runLater(KeyPool::RefillDelayMs, std::move(job), std::move(done));
      })
{
    sendKeys_.onReady = [this] { sendWaiting(); };
    sendKeys_.prepare(key_);
    intake_.admit = [this](int id, const QByteArray& message) { return admit(id, message); };
    intake_.onProgress = [this] { readAll(); };
}

MessageCodec::~MessageCodec() = default;

std::unique_ptr<Transport> MessageCodec::open(int id, QTcpSocket* socket, Source& source)
{
    return std::make_unique<MessageTransport>(*this, id, socket, source);
}

QString MessageCodec::key() const
{
    const std::lock_guard lock(keyMutex_);
    return key_;
}

void MessageCodec::setKey(const QString& key)
{
    {
        const std::lock_guard lock(keyMutex_);
        key_ = key;
    }
    sendKeys_.prepare(key);
}

bool MessageCodec::keepSaltsIn(const QString& folder, QString* failure)
{
    return saltFile_.open(folder, acceptedSalts_, failure);
}

void MessageCodec::remember(quint64 salt)
{
    acceptedSalts_.remember(salt);
    saltFile_.append(salt);
}

void MessageCodec::readAll()
{
    std::vector<MessageTransport*> open;
    for (const auto& [id, transport] : transports_)
        open.push_back(transport);
    for (MessageTransport* transport : open)
        if (transports_.contains(transport->id_))
            transport->read();
}

void MessageCodec::newSecond()
{
    std::vector<MessageTransport*> gone;
    for (const auto& [id, transport] : transports_) {
        transport->throttledBefore_ = transport->throttled_;
        transport->throttled_ = false;
        transport->decryptionsThisSecond_ = 0;
        if (!transport->hungUp_ && !transport->closing_ && transport->peerHasHungUp())
            gone.push_back(transport);
    }
    for (MessageTransport* transport : gone)
        if (transports_.contains(transport->id_))
            transport->hungUp();
    readAll();
}

bool MessageCodec::anyListening() const
{
    return std::any_of(transports_.begin(), transports_.end(),
                       [](const auto& entry) { return entry.second->listening(); });
}

Intake::Admission MessageCodec::admit(int id, const QByteArray& message)
{
    const auto found = transports_.find(id);
    if (found == transports_.end() || found->second->closing_ || found->second->done_)
        return Intake::Admission::Drop;
    MessageTransport& from = *found->second;
    const quint64 salt = saltOf(message);
    if (acceptedSalts_.contains(salt) || saltsInFlight_.contains(salt)) {
        from.source_.log(QString("%1: a message sent before was sent again (its salt was seen "
                                 "before): a replay, dropped and not sent to the box")
                             .arg(from.source_.name()));
        from.strike("a replay");
        return Intake::Admission::Drop;
    }
    if (from.decryptionsThisSecond_ >= maxRate_) {
        if (!from.throttled_ && !from.throttledBefore_)
            serverlog::event(QString("%1 sends more than %2 messages a second: throttled, "
                                     "not read until the next second (--max-rate)")
                                 .arg(from.source_.name())
                                 .arg(maxRate_));
        from.throttled_ = true;
        return Intake::Admission::Hold;
    }
    ++from.decryptionsThisSecond_;
    ++from.inFlight_;
    saltsInFlight_.insert(salt);
    return Intake::Admission::Start;
}

void MessageCodec::applyDecrypted(int id, const QByteArray& message, const QString& text,
                                  const QString& failure)
{
    const quint64 salt = saltOf(message);
    saltsInFlight_.erase(salt);
    const auto found = transports_.find(id);
    if (found == transports_.end())
        return;
    MessageTransport& from = *found->second;
    Source& source = from.source_;
    --from.inFlight_;
    if (from.closing_)
        return;
    if (!failure.isEmpty()) {
        source.log(QString("%1: message not decrypted: %2").arg(source.name(), failure));
        from.strike("a message not decrypted");
    } else if (!isPlainText(text)) {
        source.log(QString("%1: message is no plain text, the client's key probably differs "
                           "from this server's; not sent to the box")
                       .arg(source.name()));
        from.strike("no plain text");
    } else {
        // Its salt is remembered when a line it carried ends as a command, before that command
        // goes to the box.
        from.lineSalts_.push_back(salt);
        source.log(QString("%1: text received \"%2\"").arg(source.name(), shown(text.toLatin1())));
        source.takeText(text.toLatin1());
        if (transports_.contains(id) && source.hasUnfinishedLine() && from.lineSalts_.empty())
            from.lineSalts_.push_back(salt);
    }
    if (transports_.contains(id))
        from.doneIfFinished();
}

void MessageCodec::send(const QByteArray& text, const QString& what, int to,
                        std::optional<Output> output)
{
    if (to == 0 && !anyListening()) {
        serverlog::event(QString("%1 \"%2\": no client to send it to").arg(what, shown(text)));
        return;
    }
    // A report of an output still waiting is old news; the new one goes behind what was queued
    // since, so that it overtakes no answer.
    if (output && to == 0)
        std::erase_if(waiting_, [&](const Waiting& w) { return w.to == 0 && w.output == output; });
    waiting_.push_back({text, what, to, output});
    if (waiting_.size() > MaxWaiting) {
        serverlog::event(QString("%1 \"%2\" dropped: more than %3 reports wait for keys")
                             .arg(waiting_.front().what, shown(waiting_.front().text))
                             .arg(MaxWaiting));
        waiting_.pop_front();
    }
    sendWaiting();
}

// What the server sends waits for a key derived ahead: no derivation runs on the event loop.
void MessageCodec::sendWaiting()
{
    while (!waiting_.empty()) {
        const Waiting& next = waiting_.front();
        std::optional<QString> encrypted;
        try {
            encrypted = sendKeys_.encryptWithReadyKey(QString::fromLatin1(next.text), key());
        } catch (const CipherError& error) {
            serverlog::event(QString("%1 \"%2\" not encrypted, not sent: %3")
                                 .arg(next.what, shown(next.text), error.description()));
            waiting_.pop_front();
            continue;
        }
        if (!encrypted)
            return; // again when a key is ready
        const Waiting sent = std::move(waiting_.front());
        waiting_.pop_front();
        std::vector<MessageTransport*> to;
        for (const auto& [id, transport] : transports_)
            if (transport->listening() && (sent.to == 0 || sent.to == id))
                to.push_back(transport);
        const QByteArray message = encrypted->toLatin1();
        // Sent back by anyone, it is a replay.
        remember(saltOf(message));
        for (MessageTransport* transport : to)
            transport->write(message);
        serverlog::event(QString("%1 \"%2\" sent to %3 client(s)")
                             .arg(sent.what, shown(sent.text))
                             .arg(to.size()));
    }
}

MessageTransport::MessageTransport(MessageCodec& codec, int id, QTcpSocket* socket,
                                   Source& source)
    : codec_(codec), id_(id), socket_(socket), source_(source)
{
    codec_.transports_[id_] = this;
    // Qt reads no further ahead than this, so a client that is not read is held back by TCP;
    // the stream and the intake hold the rest to their own bounds.
    socket_->setReadBufferSize(MessageStream::MaxUnfinishedBytes);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    tailQuiet_.setSingleShot(true);
    tailQuiet_.setTimerType(Qt::PreciseTimer);
    QObject::connect(socket_, &QTcpSocket::readyRead, [this] { read(); });
    QObject::connect(socket_, &QTcpSocket::disconnected, [this] { hungUp(); });
    QObject::connect(&tailQuiet_, &QTimer::timeout, [this] {
        const QByteArray tail = incoming_.takeTail();
        if (!tail.isEmpty())
            takeMessage(tail);
        codec_.intake_.pump();
    });
}

MessageTransport::~MessageTransport()
{
    codec_.transports_.erase(id_);
    codec_.intake_.forget(id_);
    QObject::disconnect(socket_, nullptr, nullptr, nullptr);
    socket_->abort();
    socket_->deleteLater();
}

void MessageTransport::abort()
{
    if (std::exchange(done_, true))
        return;
    socket_->abort();
    if (onDone)
        onDone();
}

void MessageTransport::close()
{
    closing_ = true;
    socket_->flush();
    socket_->disconnectFromHost();
}

// A client that is not read (throttled, or its queue full) would not be seen to hang up until
// its backlog had been read and decrypted: the socket says so at once, whatever it still holds.
bool MessageTransport::peerHasHungUp() const
{
    pollfd socket{int(socket_->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&socket, 1, 0) > 0 && (socket.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void MessageTransport::read()
{
    if (done_ || hungUp_)
        return;
    if (closing_) {
        socket_->readAll(); // what comes after the close is not carried out
        return;
    }
    Intake& intake = codec_.intake_;
    if ((throttled_ || !intake.hasRoom(id_)) && peerHasHungUp())
        return hungUp();
    bool readSome = false;
    while (!throttled_ && intake.hasRoom(id_) && socket_->bytesAvailable() > 0) {
        readSome = true;
        if (!incoming_.append(socket_->read(ReadChunkBytes))) {
            serverlog::event(QString("%1 sent more than %2 bytes of unfinished text, no whole "
                                     "message: disconnected")
                                 .arg(source_.name())
                                 .arg(MessageStream::MaxUnfinishedBytes));
            return abort();
        }
        if (const qsizetype dropped = incoming_.takeDroppedCount())
            source_.log(QString("%1: %2 bytes before a message prefix dropped")
                            .arg(source_.name())
                            .arg(dropped));
        while (incoming_.hasComplete())
            takeMessage(incoming_.takeNext());
    }
    // The quiet that makes an unpadded last message whole is the client's own: other clients'
    // reads leave its timer alone.
    if (readSome) {
        if (socket_->bytesAvailable() == 0 && incoming_.tailMayBeComplete())
            tailQuiet_.start(MessageStream::TailQuietMs);
        else
            tailQuiet_.stop();
    }
    intake.pump();
    doneIfFinished();
}

void MessageTransport::takeMessage(const QByteArray& message)
{
    using messageformat::HeaderBytes;
    if (!isWellFormedMessage(message)) {
        source_.log(QString("%1: %2 characters that are no encrypted text dropped")
                        .arg(source_.name())
                        .arg(message.size()));
        return strike("no encrypted text");
    }
    if (message.size() > MaxMessageCharacters) {
        source_.log(QString("%1: a message of %2 characters, longer than any command line, "
                            "dropped")
                        .arg(source_.name())
                        .arg(message.size()));
        return strike("a message longer than any command line");
    }
    // openssl enc -d refuses a header that is not "Salted__"; and a header with no text after it
    // carries no command, yet its salt would take a place in the memory of salts.
    const qsizetype textBytes = message.size() / 4 * 3 - message.count('=') - HeaderBytes;
    const QByteArray magic = QByteArray::fromBase64(
        message.left(messageformat::base64Length(messageformat::MagicBytes)));
    if (!magic.startsWith(messageformat::Magic) || textBytes <= 0) {
        const QString what = textBytes <= 0 ? "without text" : "with a damaged header";
        source_.log(QString("%1: a message %2 dropped").arg(source_.name(), what));
        return strike("a message " + what);
    }
    codec_.intake_.enqueue(id_, message);
}

void MessageTransport::hungUp()
{
    if (done_)
        return;
    if (closing_) {
        abort();
        return;
    }
    if (std::exchange(hungUp_, true))
        return;
    // What it sent before it hung up is carried out, a few whole messages at most (a client may
    // send one command and close at once); the rest is dropped, so that a client that floods and
    // leaves does not keep the server busy after it has gone.
    if (!incoming_.append(socket_->readAll()))
        incoming_.clear();
    while (incoming_.hasComplete())
        takeMessage(incoming_.takeNext());
    const QByteArray tail = incoming_.takeTail();
    if (!tail.isEmpty())
        takeMessage(tail);
    const qsizetype unread = socket_->bytesAvailable();
    socket_->readAll(); // what else it sent is not carried out
    const qsizetype dropped =
        codec_.intake_.keepFirst(id_, std::max<qsizetype>(0, MaxMessagesAfterHangUp - inFlight_));
    if (dropped > 0 || unread > 0)
        serverlog::event(QString("%1 hung up: %2 of its messages and %3 bytes dropped unread")
                             .arg(source_.name())
                             .arg(dropped)
                             .arg(unread));
    tailQuiet_.stop();
    codec_.intake_.pump();
    doneIfFinished();
}

// Once what a client sent before it hung up has been carried out, its connection goes, and
// what the kernel still holds of it with it.
void MessageTransport::doneIfFinished()
{
    if (done_ || !hungUp_ || inFlight_ > 0 || !codec_.intake_.isEmpty(id_))
        return;
    done_ = true;
    socket_->abort();
    if (onDone)
        onDone();
}

bool MessageTransport::busy() const
{
    return inFlight_ > 0 || !codec_.intake_.isEmpty(id_);
}

void MessageTransport::lineEnded(bool command)
{
    if (command) {
        for (const quint64 salt : lineSalts_)
            codec_.remember(salt);
        if (!std::exchange(proven_, true) && onProven)
            onProven();
    }
    lineSalts_.clear();
    if (!command)
        strike("a line that is no command");
}

// A connection that has not proven the key and sends what no operator sends has a few
// chances; then it is closed.
void MessageTransport::strike(const QString& what)
{
    if (proven_ || done_ || closing_ || ++strikes_ < MaxStrikes)
        return;
    serverlog::event(QString("%1 sent %2 messages that no operator sends (the last: %3): "
                             "disconnected")
                         .arg(source_.name())
                         .arg(MaxStrikes)
                         .arg(what));
    if (onStruckOut)
        onStruckOut();
    abort();
}

void MessageTransport::write(const QByteArray& message)
{
    socket_->write(message);
    if (socket_->bytesToWrite() > MaxUnsentBytes) {
        serverlog::event(QString("%1 does not read what it is sent: more than %2 bytes wait for "
                                 "it; disconnected")
                             .arg(source_.name())
                             .arg(MaxUnsentBytes));
        abort();
    }
}

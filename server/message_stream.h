#pragma once

// Cuts one client's incoming bytes into encrypted messages. A message is one encrypted text with
// nothing around it, so the only boundary is the prefix that every encrypted text begins with:
//
// - Spaces and line ends never belong to a message and are skipped (`openssl enc -a -A` ends
//   its output with a line feed).
// - Text before a prefix is dropped once the prefix has arrived.
// - A message is complete when the next prefix begins. The last message of the buffered text
//   is complete when it ends in Base64 padding ('=' occurs only at the end) and its length is a
//   multiple of 4. Without padding it may be complete when its length is a multiple of 4 and at
//   least the 24 characters of the 16-byte header; the owner then waits TailQuietMs for more
//   bytes and takes it whole if none came. A piece that cannot yet be whole is never taken.
// - Unfinished text (the last message, or text without any prefix) is bounded by
//   MaxUnfinishedBytes; beyond it the client is to be dropped.

#include <QByteArray>
#include <QList>

class MessageStream {
public:
    // A command is a few dozen characters; 64 KiB of unfinished text is no client of ours.
    static constexpr qsizetype MaxUnfinishedBytes = qsizetype(64) * 1024;
    // How long an unpadded last message may wait for more bytes before it counts as whole.
    static constexpr int TailQuietMs = 20;

    // Adds bytes as read from the socket; false when the unfinished text exceeds the bound.
    bool append(const QByteArray& bytes);
    // The messages completed so far, oldest first, taken out of the stream.
    QList<QByteArray> takeComplete();
    // True when the last message has the length of a whole unpadded message.
    bool tailMayBeComplete() const;
    // The last message, taken whole because no more bytes came for it.
    QByteArray takeTail();
    // How many bytes before a prefix were dropped since the last call.
    qsizetype takeDroppedCount();

private:
    void cut();

    QByteArray unfinished_;
    QList<QByteArray> complete_;
    qsizetype dropped_ = 0;
};

// True when the piece has the form of an encrypted text: the prefix, Base64 characters with
// padding only at the end, a length that is a multiple of 4 and at least the header's.
bool isWellFormedMessage(const QByteArray& piece);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Cuts the bytes of one connection into encrypted messages. A message is one encrypted text with
// nothing around it, so the only boundary is the prefix that every encrypted text begins with.
// Both ends cut alike:
//
// - Text before a prefix is no message and is dropped.
// - A message is complete when the next prefix begins.
// - Unfinished text is bounded by MaxUnfinishedBytes.
//
// They differ in what they trust of the other end, and in what a stuck peer costs them:
//
// - The server reads commands from any client: `openssl enc -a -A` ends its output with a line
//   feed, so spaces and line ends are skipped; text without a prefix is held, as it may end in
//   the first characters of one. The last message is complete when it ends in Base64 padding
//   ('=' occurs only at the end) and its length is a multiple of 4. Without padding it may be
//   complete when its length is a multiple of 4 and at least the 24 characters of the 16-byte
//   header; the server then waits TailQuietMs for more bytes and takes it whole if none came.
//   Unfinished text past the bound means the client is to be dropped.
// - The window reads reports from its server, which writes whole messages: an arrival without
//   a prefix is dropped whole, and the last message is complete as soon as its length is a
//   multiple of 4 and at least the header's; it is held for the next arrival otherwise. A held
//   piece past the bound is no server's and is dropped.

#include <QByteArray>
#include <deque>

class MessageStream {
public:
    enum class Reader { Server, Window };

    // A command is a few dozen characters; 64 KiB of unfinished text is no peer of ours.
    static constexpr qsizetype MaxUnfinishedBytes = qsizetype(64) * 1024;
    // How long an unpadded last message may wait at the server for more bytes before it counts
    // as whole.
    static constexpr int TailQuietMs = 20;

    explicit MessageStream(Reader reader) : reader_(reader) {}

    // Adds bytes as read from the socket; false when the unfinished text exceeds the bound.
    bool append(const QByteArray& bytes);
    bool hasComplete() const { return !complete_.empty(); }
    // The oldest complete message, taken out of the stream.
    QByteArray takeNext();
    // True when the last message has the length of a whole unpadded message.
    bool tailMayBeComplete() const;
    // The last message, taken whole because no more bytes came for it.
    QByteArray takeTail();
    // How many bytes before a prefix were dropped since the last call.
    qsizetype takeDroppedCount();
    // Forgets the unfinished text: its rest will not come.
    void dropUnfinished() { unfinished_.clear(); }
    void clear();

private:
    void cut();

    Reader reader_;
    QByteArray unfinished_;
    std::deque<QByteArray> complete_;
    qsizetype dropped_ = 0;
};

// True when the piece has the form of an encrypted text: the prefix, Base64 characters with
// padding only at the end, a length that is a multiple of 4 and at least the header's.
bool isWellFormedMessage(const QByteArray& piece);

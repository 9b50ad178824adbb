// SPDX-License-Identifier: GPL-3.0-or-later
#include "message_stream.h"

#include "message_format.h"

namespace {

const QByteArray Prefix(EncryptedTextPrefix);
using messageformat::ShortestMessageLength;

bool isSkipped(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isBase64Character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

} // namespace

bool MessageStream::append(const QByteArray& bytes)
{
    if (reader_ == Reader::Window)
        unfinished_ += bytes;
    else
        for (const char c : bytes)
            if (!isSkipped(c))
                unfinished_ += c;
    cut();
    return unfinished_.size() <= MaxUnfinishedBytes;
}

void MessageStream::cut()
{
    const qsizetype first = unfinished_.indexOf(Prefix);
    if (first < 0) {
        // The server holds it: it may end in the first characters of a prefix.
        if (reader_ == Reader::Window) {
            dropped_ += unfinished_.size();
            unfinished_.clear();
        }
        return;
    }
    if (first > 0) {
        dropped_ += first;
        unfinished_.remove(0, first);
    }
    qsizetype next;
    while ((next = unfinished_.indexOf(Prefix, Prefix.size())) > 0) {
        complete_.push_back(unfinished_.left(next));
        unfinished_.remove(0, next);
    }
    const bool whole = reader_ == Reader::Window
                           ? unfinished_.size() % 4 == 0 && unfinished_.size() >= ShortestMessageLength
                           : unfinished_.endsWith('=') && unfinished_.size() % 4 == 0;
    if (whole)
        complete_.push_back(std::exchange(unfinished_, {}));
    else if (reader_ == Reader::Window && unfinished_.size() > MaxUnfinishedBytes)
        unfinished_.clear();
}

QByteArray MessageStream::takeNext()
{
    if (complete_.empty())
        return {};
    QByteArray message = std::move(complete_.front());
    complete_.pop_front();
    return message;
}

bool MessageStream::tailMayBeComplete() const
{
    return unfinished_.startsWith(Prefix) && unfinished_.size() >= ShortestMessageLength &&
           unfinished_.size() % 4 == 0;
}

QByteArray MessageStream::takeTail()
{
    return tailMayBeComplete() ? std::exchange(unfinished_, {}) : QByteArray();
}

qsizetype MessageStream::takeDroppedCount()
{
    return std::exchange(dropped_, 0);
}

void MessageStream::clear()
{
    unfinished_.clear();
    complete_.clear();
    dropped_ = 0;
}

bool isWellFormedMessage(const QByteArray& piece)
{
    if (!piece.startsWith(Prefix) || piece.size() < ShortestMessageLength || piece.size() % 4 != 0)
        return false;
    qsizetype end = piece.size();
    for (int pad = 0; pad < 2 && piece[end - 1] == '='; ++pad)
        --end;
    for (qsizetype i = 0; i < end; ++i)
        if (!isBase64Character(piece[i]))
            return false;
    return true;
}

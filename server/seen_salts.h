// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The salts of the messages the server accepted. Every real message carries a fresh random
// 8-byte salt, so a salt seen again is a message sent again: a replay.

#include "linecode/message_format.h"

#include <QByteArray>
#include <QtEndian>
#include <unordered_set>
#include <vector>

class SeenSalts {
public:
    // A station sends a few commands a second: this is days of operating, in about 4 MB.
    static constexpr std::size_t Capacity = 100'000;

    SeenSalts() { remembered_.reserve(Capacity); }

    bool contains(quint64 salt) const { return remembered_.contains(salt); }

    // Remembers the salt; beyond Capacity the oldest one is forgotten.
    void remember(quint64 salt)
    {
        if (!remembered_.insert(salt).second)
            return;
        if (order_.size() < Capacity) {
            order_.push_back(salt);
            return;
        }
        remembered_.erase(order_[oldest_]);
        order_[oldest_] = salt;
        oldest_ = (oldest_ + 1) % Capacity;
    }

    std::size_t size() const { return remembered_.size(); }

    // The salts remembered, oldest first.
    std::vector<quint64> inOrder() const
    {
        std::vector<quint64> salts(order_.begin() + std::ptrdiff_t(oldest_), order_.end());
        salts.insert(salts.end(), order_.begin(), order_.begin() + std::ptrdiff_t(oldest_));
        return salts;
    }

private:
    std::unordered_set<quint64> remembered_;
    std::vector<quint64> order_; // a ring: order_[oldest_] is the next to go once full
    std::size_t oldest_ = 0;
};

// The salt of a well-formed message: the bytes after "Salted__" in its header.
inline quint64 saltOf(const QByteArray& message)
{
    static_assert(messageformat::SaltBytes == sizeof(quint64));
    const QByteArray header = QByteArray::fromBase64(
        message.left(messageformat::base64Length(messageformat::HeaderBytes)));
    if (header.size() < messageformat::HeaderBytes)
        return 0;
    return qFromBigEndian<quint64>(header.constData() + messageformat::MagicBytes);
}

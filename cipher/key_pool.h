// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Keys derived before they are needed. Each message has a fresh random salt and so a key
// derivation of its own (10000 PBKDF2 rounds, milliseconds), while the encryption proper takes
// microseconds. A pool draws salts and derives their keys on a worker while nothing is being
// sent; a message then takes one ready salt and key, and both are wiped once it is encrypted.

#include "encrypted_text.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class KeyPool {
public:
    // Runs job on a worker thread, then done on the pool's own thread.
    using Runner = std::function<void(std::function<void()> job, std::function<void()> done)>;
    static constexpr int DefaultSize = 4;
    // How long a runner lets pass before it derives: long enough for the message just sent to be
    // decrypted at the other end without a derivation here beside it, when both share a machine
    // or this one has other work.
    static constexpr int RefillDelayMs = 25;

    explicit KeyPool(Runner runner, int size = DefaultSize,
                     crypto::Primitives& platform = crypto::libcrypto());
    // Ready keys are wiped; those still being derived are wiped when their job ends.
    ~KeyPool();
    KeyPool(const KeyPool&) = delete;
    KeyPool& operator=(const KeyPool&) = delete;

    // Fills the pool for this key; what it held for another key is wiped.
    void prepare(const QString& key);
    // The encrypted text of text under key, with a ready salt and key when the pool has one for
    // this key, otherwise derived here and now. Either way the pool is filled again.
    QString encrypt(const QString& text, const QString& key);
    // The same with a ready salt and key only: none when the pool has none for this key yet, and
    // then onReady is called once it has.
    std::optional<QString> encryptWithReadyKey(const QString& text, const QString& key);
    std::function<void()> onReady;
    int ready() const;

private:
    struct State;
    static void refill(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
};

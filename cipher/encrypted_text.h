// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The encrypted text of every network message: one line of Base64 of "Salted__", an 8-byte
// random salt and the AES-256 counter-mode ciphertext of the text's UTF-8 bytes. It is the
// salted format of `openssl enc -aes-256-ctr -pbkdf2 -md sha512 -iter 10000 -a -A`, with the
// key as the pass phrase, so that command reads and writes it too.

#include "linecode/message_format.h"
#include "platform/crypto_primitives.h"

#include <QByteArray>
#include <QString>

// Raises CipherError with the engine's text when the engine fails.
QString EncryptText(const QString& text, const QString& key,
                    crypto::Primitives& platform = crypto::libcrypto());

// Takes anything: text that is not Base64, lacks the header or was made under another key gives
// meaningless text, never an error. Only an engine failure raises, as EncryptText does.
QString DecryptText(const QString& text, const QString& key,
                    crypto::Primitives& platform = crypto::libcrypto());

// A random salt and the key material derived from it: enough to encrypt exactly one message.
class PreparedKey {
public:
    PreparedKey(QByteArray salt, QByteArray material, crypto::Primitives& platform);
    PreparedKey(PreparedKey&& other) noexcept;
    PreparedKey& operator=(PreparedKey&&) = delete;
    PreparedKey(const PreparedKey&) = delete;
    PreparedKey& operator=(const PreparedKey&) = delete;
    ~PreparedKey();

    const QByteArray& salt() const { return salt_; }
    QByteArray& material() { return material_; }

private:
    QByteArray salt_;
    QByteArray material_; // the AES key, then the initial counter block
    crypto::Primitives& platform_;
};

// Draws a salt and derives its key material under key. Raises CipherError when the
// random source or the library fails.
PreparedKey PrepareKey(const QString& key, crypto::Primitives& platform = crypto::libcrypto());

// The encrypted text of text under a prepared salt and key: the same text EncryptText writes.
// The prepared key is wiped, whatever happens.
QString EncryptPrepared(const QString& text, PreparedKey prepared,
                        crypto::Primitives& platform = crypto::libcrypto());

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The pre-shared key of the TLS link, derived from the operator's key text. Both ends derive it
// once each time they read the key, never per connection.

#include "platform/crypto_primitives.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace tlskey {

inline constexpr const char* Salt = "zephrin tls psk";
// Far slower to guess than the messages' key: a recorded handshake lets a key be tried offline.
inline constexpr std::uint64_t Iterations = 200'000;
inline constexpr std::size_t KeyBytes = 32;

} // namespace tlskey

// PBKDF2-HMAC-SHA-512 of the key's UTF-8 bytes under the fixed salt. Raises CipherError when the
// library fails.
QByteArray TlsPreSharedKey(const QString& key, crypto::Primitives& platform = crypto::libcrypto());

// SPDX-License-Identifier: GPL-3.0-or-later
#include "tls_key.h"

#include "cipher_error.h"

#include <cstring>

QByteArray TlsPreSharedKey(const QString& key, crypto::Primitives& platform)
{
    const QByteArray text = key.toUtf8();
    QByteArray derived(qsizetype(tlskey::KeyBytes), '\0');
    crypto::Kdf* kdf = nullptr;
    crypto::Status status = 0;
    try {
        status = platform.openKdf(kdf);
    } catch (const crypto::Unsupported& missing) {
        throw CipherError(CipherError::Kind::EngineFailed, missing.what());
    }
    if (!crypto::failed(status))
        status = platform.deriveKey(
            kdf, reinterpret_cast<const unsigned char*>(text.constData()), text.size(),
            reinterpret_cast<const unsigned char*>(tlskey::Salt), std::strlen(tlskey::Salt),
            tlskey::Iterations, reinterpret_cast<unsigned char*>(derived.data()),
            tlskey::KeyBytes);
    if (kdf)
        platform.closeKdf(kdf);
    if (crypto::failed(status)) {
        platform.wipe(derived.data(), derived.size());
        const QString reason = platform.statusMessage(status);
        throw CipherError(CipherError::Kind::EngineFailed,
                          "The TLS key cannot be derived: " +
                              (reason.isEmpty() ? QString::number(status) : reason));
    }
    return derived;
}

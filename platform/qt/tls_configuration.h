// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The TLS link as both ends set it up in Qt: TLS 1.2, no certificate, and the link's suites that
// the TLS library offers (none when it offers none of them).

#include "platform/tls_link.h"

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

inline QSslConfiguration tlsLinkConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // Qt offers pre-shared keys in TLS 1.3 only behind an environment switch.
    configuration.setProtocol(QSsl::TlsV1_2);
    // The key authenticates both ends; there is no certificate to verify.
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    QList<QSslCipher> ciphers;
    for (const char* name : tlslink::CipherSuites)
        if (const QSslCipher cipher(QString::fromLatin1(name)); !cipher.isNull())
            ciphers << cipher;
    configuration.setCiphers(ciphers);
    return configuration;
}

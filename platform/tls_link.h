// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What both ends of the TLS link name alike: TLS 1.2, its suites and the client's identity. The
// pre-shared key itself is derived from the operator's key text (cipher/tls_key.h).

namespace tlslink {

// The identity a window names in its handshake.
inline constexpr const char* Identity = "zephrin";
// TLS 1.2's suites with ephemeral ECDH beside the pre-shared key, so that a key found later opens
// no recorded session; the first one is preferred.
inline constexpr const char* CipherSuites[] = {
    "ECDHE-PSK-CHACHA20-POLY1305", "ECDHE-PSK-AES256-CBC-SHA384", "ECDHE-PSK-AES128-CBC-SHA256"};

} // namespace tlslink

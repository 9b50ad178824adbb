// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The shape of an encrypted network message, as the cipher writes it and the framing cuts it:
// one line of Base64 of the header ("Salted__" and an 8-byte random salt) and the ciphertext.

#include <QtGlobal>

namespace messageformat {

constexpr char Magic[] = "Salted__";
constexpr qsizetype MagicBytes = 8;
constexpr qsizetype SaltBytes = 8;
constexpr qsizetype HeaderBytes = MagicBytes + SaltBytes;

// The Base64 length of so many bytes, padding included.
constexpr qsizetype base64Length(qsizetype bytes)
{
    return (bytes + 2) / 3 * 4;
}

// The header alone: the shortest message there is.
constexpr qsizetype ShortestMessageLength = base64Length(HeaderBytes);

} // namespace messageformat

// Every encrypted text begins so: the Base64 of "Salted__" and the top bits of the salt.
constexpr const char* EncryptedTextPrefix = "U2FsdGVkX1";

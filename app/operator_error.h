// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cipher/cipher_error.h"
#include "platform/runtime_error.h"

// A cipher failure as operators know it: the engine's number, or the one for a range outside the
// data.
inline RuntimeError operatorError(const CipherError& e)
{
    return {e.kind() == CipherError::Kind::OutOfRange ? ErrorNumber::SubscriptOutOfRange
                                                      : ErrorNumber::CipherFailure,
            e.description()};
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <stdexcept>

// A failure of the cipher: the crypto library refused a step (the engine's own text says which),
// or a caller asked for bytes outside the data it gave.
class CipherError : public std::runtime_error {
public:
    enum class Kind { EngineFailed, OutOfRange };

    CipherError(Kind kind, const QString& description)
        : std::runtime_error(description.toStdString()), kind_(kind), description_(description)
    {
    }

    Kind kind() const { return kind_; }
    const QString& description() const { return description_; }

private:
    Kind kind_;
    QString description_;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The error trap every handler installs on entry: a failure ends the handler with one
// information box "VB6 runtime error (<label>): <number> - <description>"; what the handler did
// before the failure stays done.

#include "frmZephrin.h"
#include "operator_error.h"

inline QString errorPrefix(const QString& label)
{
    return QString("VB6 runtime error (%1): ").arg(label);
}

template <typename Body> void frmZephrin::trapped(const QString& label, Body&& body)
{
    int number = 0;
    QString description;
    try {
        body();
        return;
    } catch (const RuntimeError& e) {
        number = e.number();
        description = e.description();
    } catch (const CipherError& e) {
        number = operatorError(e).number();
        description = e.description();
    } catch (const std::exception& e) {
        // Not expected from the platform; reported instead of ending the program.
        number = ErrorNumber::InternalError;
        description = QString("Internal error: %1").arg(QString::fromLocal8Bit(e.what()));
    }
    msgBox(errorPrefix(label) + QString::number(number) + " - " + description,
           MsgBoxStyle::Information);
}

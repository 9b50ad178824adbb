// SPDX-License-Identifier: GPL-3.0-or-later
#include "text_numbers.h"

#include "platform/runtime_error.h"

#include <QRegularExpression>

static bool readHex(const QString& digits, double& value)
{
    bool ok = false;
    const qlonglong n = digits.toLongLong(&ok, 16);
    if (ok)
        value = static_cast<double>(n);
    return ok;
}

double numericValue(const QString& text)
{
    const QString t = text.trimmed();
    double value = 0;
    bool ok = false;
    if (t.startsWith("&H", Qt::CaseInsensitive))
        ok = readHex(t.mid(2), value);
    else {
        value = t.toDouble(&ok);
        // QString::toDouble also takes "inf" and "nan", which are no numbers to an operator.
        if (ok && !t.contains(QRegularExpression("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$")))
            ok = false;
    }
    if (!ok)
        throw RuntimeError(ErrorNumber::TypeMismatch, "Type mismatch");
    return value;
}

double leadingNumber(const QString& text)
{
    static const QRegularExpression number(
        "^[ \\t]*([+-]?[ \\t]*(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?)");
    const auto match = number.match(text);
    if (!match.hasMatch())
        return 0;
    QString digits = match.captured(1);
    digits.remove(' ').remove('\t');
    return digits.toDouble();
}

bool readsAsNumber(const QString& text, double number)
{
    try {
        return numericValue(text) == number;
    } catch (const RuntimeError&) {
        return false;
    }
}

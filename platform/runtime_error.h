// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <stdexcept>

// A run-time failure with the number and description that an operator sees in a handler's
// error box: "<prefix><number> - <description>".
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number), description_(description)
    {
    }

    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

// Error numbers that operators of the original program know.
namespace ErrorNumber {
constexpr int SubscriptOutOfRange = 9;
constexpr int TypeMismatch = 13;
constexpr int InternalError = 51;
constexpr int FileNotFound = 53;
constexpr int PathFileAccess = 75;
constexpr int InvalidPropertyValue = 380;
constexpr int PortAlreadyOpen = 8005;
constexpr int DeviceMissing = 8002;
constexpr int DeviceUnavailable = 8010;
constexpr int LineSettingsRefused = 8015;
constexpr int PortNotOpen = 8018;
constexpr int WrongSocketState = 40006;
constexpr int CipherFailure = -2147221504;
} // namespace ErrorNumber

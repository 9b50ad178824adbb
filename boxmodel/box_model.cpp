// SPDX-License-Identifier: GPL-3.0-or-later
#include "box_model.h"

std::string BoxModel::handle(const std::string& command)
{
    return set_ == Protocol::Mk2r ? mk2r(command) : otrsp(command);
}

std::string BoxModel::otrsp(const std::string& command)
{
    const QByteArrayView token(command);
    if (token == queryCommand(Query::Tx, set_).toLatin1())
        return "TX" + std::to_string(tx_) + "\r";
    if (token == queryCommand(Query::Rx, set_).toLatin1())
        return "RX" + rx_ + "\r";
    if (token == queryCommand(Query::Firmware, set_).toLatin1())
        return std::string("FW") + Version + "\r";
    // Any other query, a bare "?" included, comes back whole.
    if (token.startsWith('?'))
        return command + "\r";
    if (setsReceiveFocus(set_, token)) {
        rx_ = command.substr(2);
        return {};
    }
    // A box without reverse stereo, as this one, plays it as stereo.
    if (token == "RX1R" || token == "RX2R") {
        rx_ = command.substr(2, 1) + "S";
        return {};
    }
    const auto change = readCommand(set_, token);
    if (change && change->focus == FocusAction::TxFocus1)
        tx_ = 1;
    else if (change && change->focus == FocusAction::TxFocus2)
        tx_ = 2;
    // Aux commands change nothing that can be asked; unknown commands are ignored.
    return {};
}

std::string BoxModel::mk2r(const std::string& command)
{
    // The version is the one thing an MK2R box answers; every command it takes is silent.
    if (QByteArrayView(command) == queryCommand(Query::Firmware, set_).toLatin1())
        return std::string("MK2R simulator version ") + Version + "\r";
    if (readCommand(set_, QByteArrayView(command)))
        return {};
    return "E" + command + "\r";
}

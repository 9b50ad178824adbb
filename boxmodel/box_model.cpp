// SPDX-License-Identifier: GPL-3.0-or-later
#include "box_model.h"

std::string BoxModel::handle(const std::string& command)
{
    return set_ == Protocol::Mk2r ? mk2r(command) : otrsp(command);
}

std::string BoxModel::panel(const std::string& word)
{
    const auto change = readStateChange(QByteArrayView(word));
    if (!change || change->output == Output::Aux1 || change->output == Output::Aux2 ||
        stateLine(set_, *change) != QByteArray::fromStdString(word))
        return {};
    return take(*change);
}

std::string BoxModel::take(StateChange change)
{
    switch (change.output) {
    case Output::Transmit: tx_ = change.value; break;
    case Output::Receive: rx_ = Receive(change.value); break;
    case Output::Aux1:
    case Output::Aux2: aux_[change.output == Output::Aux1 ? 0 : 1] = change.value; return {};
    }
    const bool on = change.output == Output::Transmit ? txEvents_ : rxEvents_;
    return set_ == Protocol::Otrsp && on ? "$" + event(change.output) : std::string();
}

// The state of an output as the box answers its query, with the carriage return.
std::string BoxModel::event(Output output) const
{
    int value = 0;
    switch (output) {
    case Output::Transmit: value = tx_; break;
    case Output::Receive: value = int(rx_); break;
    case Output::Aux1:
    case Output::Aux2:
        // No fixed width: "AUX14", "AUX115".
        return "AUX" + std::string(output == Output::Aux1 ? "1" : "2") +
               std::to_string(aux_[output == Output::Aux1 ? 0 : 1]) + "\r";
    }
    return stateLine(set_, {output, value}).toStdString() + "\r";
}

std::string BoxModel::otrsp(const std::string& command)
{
    const QByteArrayView token(command);
    if (token == queryCommand(Query::Tx, set_).toLatin1())
        return event(Output::Transmit);
    if (token == queryCommand(Query::Rx, set_).toLatin1())
        return event(Output::Receive);
    if (token == "?AUX1" || token == "?AUX2")
        return event(token == "?AUX1" ? Output::Aux1 : Output::Aux2);
    if (token == "?NAME")
        return std::string("NAME") + Name + "\r";
    if (token == queryCommand(Query::Firmware, set_).toLatin1())
        return std::string("FW") + Version + "\r";
    // Any other query, a bare "?" included, comes back whole.
    if (token.startsWith('?'))
        return command + "\r";
    // Switching events on reports the state at once.
    if (token == "ETX1" || token == "ETX0") {
        txEvents_ = token == "ETX1";
        return txEvents_ ? "$" + event(Output::Transmit) : std::string();
    }
    if (token == "ERX1" || token == "ERX0") {
        rxEvents_ = token == "ERX1";
        return rxEvents_ ? "$" + event(Output::Receive) : std::string();
    }
    if (!isCommandLine(set_, token))
        return {};
    // Unknown commands are ignored; a box without reverse stereo plays it as stereo.
    const auto change = readStateChange(token);
    return change ? take(*change) : std::string();
}

std::string BoxModel::mk2r(const std::string& command)
{
    // The version is the one thing an MK2R box answers; every command it takes is silent.
    if (QByteArrayView(command) == queryCommand(Query::Firmware, set_).toLatin1())
        return std::string("MK2R simulator version ") + Version + "\r";
    if (const auto change = readCommand(set_, QByteArrayView(command))) {
        take(*readStateChange(QByteArrayView(command)));
        return {};
    }
    return "E" + command + "\r";
}

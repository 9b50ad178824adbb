// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_set.h"

namespace {
constexpr Lamp S = Lamp::Same, L = Lamp::Lit, D = Lamp::Dark;

// By FocusAction: both sets' commands for one action have the same effect on the lamps.
constexpr LampEffect lampEffects[] = {
    /* RxFocus1 */ {S, S, L, D, D},
    /* RxFocus2 */ {S, S, D, L, D},
    /* RxFocusS */ {S, S, D, D, L},
    /* TxFocus1 */ {L, D, S, S, S},
    /* TxFocus2 */ {D, L, S, S, S},
};

// Reverse stereo, the aux and footswitch queries, the box's name, a ping, and the switch events.
constexpr const char* otrspWords[] = {
    "RX2S", "RX1R", "RX2R", "?AUX1", "?AUX2", "?NAME", "?",    "?CR0",  "ETX0",
    "ETX1", "ERX0", "ERX1", "ECR00", "ECR01", "?ETX",  "?ERX", "?ECR0",
};

const CommandSet otrsp{
    .protocol = Protocol::Otrsp,
    .name = "otrsp",
    .focus = {"RX1", "RX2", "RX1S", "TX1", "TX2"},
    .auxVerb = "AUX",
    .queries = {"?RX", "?TX", "?FW"},
    .opening = {"?TX", "?RX", "AUX100", "AUX200"},
    .focusUnknownAfterChoice = false,
    .stereoForms = {"RX1S", "RX2S"},
    .otherWords = otrspWords,
    .auxAnyWidth = true,
    .vendorLead = 'V',
};

const CommandSet mk2r{
    .protocol = Protocol::Mk2r,
    .name = "mk2r",
    .focus = {"FR1", "FR2", "FRS", "FT1", "FT2"},
    .auxVerb = "AS",
    .queries = {nullptr, nullptr, "V"},
    .opening = {"AS100", "AS200", nullptr, nullptr},
    .focusUnknownAfterChoice = true,
    .stereoForms = {"FRS", nullptr},
    .otherWords = {},
    .auxAnyWidth = false,
    .vendorLead = 0,
};

constexpr int MaxAuxOutput = 15;
constexpr int MaxAuxValue = 255;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isUpperOrDigit(char c)
{
    return (c >= 'A' && c <= 'Z') || isDigit(c);
}

// The verb, the port, and a value of one to three digits up to 255.
bool isAnyWidthAux(QByteArrayView verb, QByteArrayView line)
{
    if (!line.startsWith(verb) || line.size() < verb.size() + 2 || line.size() > verb.size() + 4)
        return false;
    const char port = line[verb.size()];
    if (port != '1' && port != '2')
        return false;
    int value = 0;
    for (const char c : line.sliced(verb.size() + 1)) {
        if (!isDigit(c))
            return false;
        value = value * 10 + (c - '0');
    }
    return value <= MaxAuxValue;
}

// The lead, then one or more upper-case letters and digits.
bool isVendorWord(char lead, QByteArrayView word)
{
    if (word.size() < 2 || word[0] != lead)
        return false;
    for (const char c : word.sliced(1))
        if (!isUpperOrDigit(c))
            return false;
    return true;
}

bool isReceive(FocusAction action)
{
    return action == FocusAction::RxFocus1 || action == FocusAction::RxFocus2 ||
           action == FocusAction::RxFocusS;
}
} // namespace

const CommandSet& commandSet(Protocol protocol)
{
    return protocol == Protocol::Mk2r ? mk2r : otrsp;
}

std::optional<Protocol> protocolNamed(const QString& name)
{
    for (const Protocol protocol : {Protocol::Otrsp, Protocol::Mk2r})
        if (name.compare(commandSet(protocol).name, Qt::CaseInsensitive) == 0)
            return protocol;
    return std::nullopt;
}

const LampEffect& lampEffect(FocusAction action)
{
    return lampEffects[static_cast<int>(action)];
}

QString commandFor(FocusAction action, Protocol protocol)
{
    return commandSet(protocol).focus[static_cast<int>(action)];
}

QString auxCommand(Protocol protocol, int radio, int output)
{
    return QString("%1%2%3")
        .arg(commandSet(protocol).auxVerb)
        .arg(radio)
        .arg(output, 2, 10, QChar('0'));
}

QString queryCommand(Query query, Protocol protocol)
{
    return commandSet(protocol).queries[static_cast<int>(query)];
}

QStringList openingCommands(Protocol protocol)
{
    QStringList commands;
    for (const char* command : commandSet(protocol).opening)
        if (command)
            commands << command;
    return commands;
}

std::optional<BoxChange> readCommand(Protocol protocol, QByteArrayView token)
{
    const CommandSet& set = commandSet(protocol);
    for (const FocusAction action : FocusActions)
        if (token == set.focus[static_cast<int>(action)])
            return BoxChange{.focus = action};
    // The verb, the radio, and the output in two digits: 00 is all off.
    const QByteArrayView verb(set.auxVerb);
    if (token.size() != verb.size() + 3 || !token.startsWith(verb))
        return std::nullopt;
    const char radio = token[verb.size()];
    const char tens = token[verb.size() + 1];
    const char units = token[verb.size() + 2];
    if ((radio != '1' && radio != '2') || tens < '0' || tens > '9' || units < '0' || units > '9')
        return std::nullopt;
    const int output = (tens - '0') * 10 + (units - '0');
    if (output > MaxAuxOutput)
        return std::nullopt;
    return BoxChange{.focus = std::nullopt, .radio = radio - '0', .output = output};
}

std::optional<BoxChange> readToken(QByteArrayView token)
{
    if (auto change = readCommand(Protocol::Otrsp, token))
        return change;
    return readCommand(Protocol::Mk2r, token);
}

std::optional<StateChange> readStateChange(QByteArrayView line)
{
    if (const auto change = readToken(line)) {
        if (!change->focus)
            return StateChange{change->radio == 1 ? Output::Aux1 : Output::Aux2, change->output};
        switch (*change->focus) {
        case FocusAction::TxFocus1: return StateChange{Output::Transmit, 1};
        case FocusAction::TxFocus2: return StateChange{Output::Transmit, 2};
        case FocusAction::RxFocus1: return StateChange{Output::Receive, int(Receive::Radio1)};
        case FocusAction::RxFocus2: return StateChange{Output::Receive, int(Receive::Radio2)};
        case FocusAction::RxFocusS: return StateChange{Output::Receive, int(Receive::Stereo1)};
        }
    }
    for (const char* stereo : {"RX1R", "RX2S", "RX2R"})
        if (line == stereo)
            return StateChange{Output::Receive,
                               int(line[2] == '1' ? Receive::Stereo1 : Receive::Stereo2)};
    if (!isAnyWidthAux(otrsp.auxVerb, line))
        return std::nullopt;
    const QByteArrayView verb(otrsp.auxVerb);
    const int value = line.sliced(verb.size() + 1).toByteArray().toInt() & MaxAuxOutput;
    return StateChange{line[verb.size()] == '1' ? Output::Aux1 : Output::Aux2, value};
}

QByteArray stateLine(Protocol protocol, StateChange change)
{
    const CommandSet& set = commandSet(protocol);
    const auto focus = [&](FocusAction action) {
        return QByteArray(set.focus[static_cast<int>(action)]);
    };
    switch (change.output) {
    case Output::Transmit:
        return focus(change.value == 2 ? FocusAction::TxFocus2 : FocusAction::TxFocus1);
    case Output::Receive:
        switch (Receive(change.value)) {
        case Receive::Radio1: return focus(FocusAction::RxFocus1);
        case Receive::Radio2: return focus(FocusAction::RxFocus2);
        case Receive::Stereo1: return focus(FocusAction::RxFocusS);
        case Receive::Stereo2:
            return set.stereoForms[1] ? QByteArray(set.stereoForms[1]) : focus(FocusAction::RxFocusS);
        }
        break;
    case Output::Aux1:
    case Output::Aux2: break;
    }
    return auxCommand(protocol, change.output == Output::Aux1 ? 1 : 2, change.value).toLatin1();
}

QByteArray reportToken(Protocol protocol, StateChange change)
{
    if (change.output == Output::Receive && Receive(change.value) == Receive::Stereo2)
        change.value = int(Receive::Stereo1);
    return stateLine(protocol, change);
}

std::optional<QByteArray> lineForBox(Protocol box, QByteArrayView line)
{
    if (isCommandLine(box, line))
        return line.toByteArray();
    const Protocol other = box == Protocol::Otrsp ? Protocol::Mk2r : Protocol::Otrsp;
    if (!isCommandLine(other, line))
        return std::nullopt;
    if (const auto change = readStateChange(line))
        return stateLine(box, *change);
    return std::nullopt;
}

bool isQueryLine(QByteArrayView line)
{
    if (line.startsWith('?'))
        return true;
    for (const Protocol protocol : {Protocol::Otrsp, Protocol::Mk2r})
        for (const char* query : commandSet(protocol).queries)
            if (query && line == query)
                return true;
    return false;
}

ReplyFocus readReply(const QString& reply)
{
    ReplyFocus focus;
    for (const FocusAction tx : {FocusAction::TxFocus1, FocusAction::TxFocus2})
        if (!focus.tx && reply.contains(commandFor(tx, Protocol::Otrsp)))
            focus.tx = tx;
    // A stereo form names a radio too, so it is looked for first.
    for (const char* stereo : otrsp.stereoForms)
        if (!focus.rx && reply.contains(stereo))
            focus.rx = FocusAction::RxFocusS;
    for (const FocusAction rx : {FocusAction::RxFocus1, FocusAction::RxFocus2})
        if (!focus.rx && reply.contains(commandFor(rx, Protocol::Otrsp)))
            focus.rx = rx;
    return focus;
}

bool isCommandLine(Protocol protocol, QByteArrayView line)
{
    const CommandSet& set = commandSet(protocol);
    if (readCommand(protocol, line))
        return true;
    for (const char* query : set.queries)
        if (query && line == query)
            return true;
    for (const char* word : set.otherWords)
        if (line == word)
            return true;
    if (set.auxAnyWidth && isAnyWidthAux(set.auxVerb, line))
        return true;
    return set.vendorLead &&
           (isVendorWord(set.vendorLead, line) ||
            (line.startsWith('?') && isVendorWord(set.vendorLead, line.sliced(1))));
}

bool setsReceiveFocus(Protocol protocol, QByteArrayView command)
{
    for (const char* stereo : commandSet(protocol).stereoForms)
        if (stereo && command == stereo)
            return true;
    const auto change = readCommand(protocol, command);
    return change && change->focus && isReceive(*change->focus);
}

#include "commands.h"

namespace {
constexpr Lamp S = Lamp::Same, L = Lamp::Lit, D = Lamp::Dark;

// Both protocols' commands for one action have the same effect on the lamps.
const FocusCommand focusTable[] = {
    /* RxFocus1 */ {"RX1", "FR1", {S, S, L, D, D}},
    /* RxFocus2 */ {"RX2", "FR2", {S, S, D, L, D}},
    /* RxFocusS */ {"RX1S", "FRS", {S, S, D, D, L}},
    /* TxFocus1 */ {"TX1", "FT1", {L, D, S, S, S}},
    /* TxFocus2 */ {"TX2", "FT2", {D, L, S, S, S}},
};
} // namespace

const FocusCommand& focusCommand(FocusAction action)
{
    return focusTable[static_cast<int>(action)];
}

QString commandFor(FocusAction action, Protocol protocol)
{
    const FocusCommand& command = focusCommand(action);
    return protocol == Protocol::Mk2r ? command.mk2r : command.otrsp;
}

QString auxCommand(Protocol protocol, int radio, int output)
{
    const char* verb = protocol == Protocol::Mk2r ? "AS" : "AUX";
    return QString("%1%2%3").arg(verb).arg(radio).arg(output, 2, 10, QChar('0'));
}

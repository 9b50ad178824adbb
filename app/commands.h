#pragma once

#include <QString>

// The command sets of the switch box. Every command leaves with one carriage return after it.

constexpr QChar CarriageReturn = QChar(13);

enum class Protocol { Otrsp = 1, Mk2r = 2 };

// What a focus command does to the five lamps.
enum class Lamp { Same, Lit, Dark };

struct LampEffect {
    Lamp focus1, focus2, rx1, rx2, rxS;
};

enum class FocusAction { RxFocus1, RxFocus2, RxFocusS, TxFocus1, TxFocus2 };

struct FocusCommand {
    const char* otrsp;
    const char* mk2r;
    LampEffect effect;
};

const FocusCommand& focusCommand(FocusAction action);

// The protocol's command for a focus action: "RX1" or "FR1", and so on.
QString commandFor(FocusAction action, Protocol protocol);

// Aux output n (1 to 15) of radio r on, or all of that radio's outputs off when n is 0:
// "AUX1nn" in OTRSP, "AS1nn" in MK2R.
QString auxCommand(Protocol protocol, int radio, int output);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The box's two command sets, OTRSP and MK2R, as one table: the commands the window sends, what
// they do to the lamps, the queries, the commands a protocol choice opens with, the tokens a
// state report carries and how the box's replies are read. The window, zephrin-server and the
// simulator all read the box through these rows.

#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

// Every command leaves with one carriage return after it.
constexpr QChar CarriageReturn = QChar(13);

enum class Protocol { Otrsp = 1, Mk2r = 2 };

// What a focus command does to the five lamps.
enum class Lamp { Same, Lit, Dark };

struct LampEffect {
    Lamp focus1, focus2, rx1, rx2, rxS;
};

enum class FocusAction { RxFocus1, RxFocus2, RxFocusS, TxFocus1, TxFocus2 };
constexpr FocusAction FocusActions[] = {FocusAction::TxFocus1, FocusAction::TxFocus2,
                                        FocusAction::RxFocus1, FocusAction::RxFocus2,
                                        FocusAction::RxFocusS};

enum class Query { Rx, Tx, Firmware };

// One command set's row.
struct CommandSet {
    Protocol protocol;
    const char* name;     // as options name it: "otrsp", "mk2r"
    const char* focus[5]; // by FocusAction
    const char* auxVerb;  // followed by the radio and the output in two digits
    // By Query; none where the set cannot ask.
    const char* queries[3];
    // Sent when the protocol is chosen: OTRSP asks for the focus, whose answers light the
    // lamps; both switch every aux output off.
    const char* opening[4];
    // The set cannot be asked for the focus, so nothing is known of it after a choice.
    bool focusUnknownAfterChoice;
    // The forms in which the box says it plays both radios, each with its own focus.
    const char* stereoForms[2];
    // The set's other words as its documents define them: what a logger or an operator may send
    // besides the window's own commands and queries.
    std::span<const char* const> otherWords;
    // An aux value of one to three digits up to 255 ("AUX14", "AUX104"), not exactly two up to
    // 15 ("AS104").
    bool auxAnyWidth;
    // The lead letter of vendor settings, such as "VMONO1", and of their queries ("?VMONO");
    // none where the set has none.
    char vendorLead;
};

const CommandSet& commandSet(Protocol protocol);

// The set that options call by this name, in any case; none for another name.
std::optional<Protocol> protocolNamed(const QString& name);

// The effect of a focus action on the lamps; both sets' commands for it have the same.
const LampEffect& lampEffect(FocusAction action);

// The protocol's command for a focus action: "RX1" or "FR1", and so on.
QString commandFor(FocusAction action, Protocol protocol);

// Aux output n (1 to 15) of radio r on, or all of that radio's outputs off when n is 0:
// "AUX1nn" in OTRSP, "AS1nn" in MK2R.
QString auxCommand(Protocol protocol, int radio, int output);

// The set's command for a query, or empty text where the set has none.
QString queryCommand(Query query, Protocol protocol);

QStringList openingCommands(Protocol protocol);

// The state that one exact command leaves the box in.
struct BoxChange {
    std::optional<FocusAction> focus;
    int radio = 0; // for an aux command: 1 or 2, with its output 0 (all off) to 15
    int output = 0;
};

// Reads one exact token of the set ("TX1", "FRS", "AUX107", "AS215"); anything else, a longer or
// a partial text included, is no change.
std::optional<BoxChange> readCommand(Protocol protocol, QByteArrayView token);

// A state report, or a command, read as a token of either set.
std::optional<BoxChange> readToken(QByteArrayView token);

// The box's four outputs that a command sets, each kept on its own.
enum class Output { Transmit, Receive, Aux1, Aux2 };

// The receive focus as a box holds it. Reverse stereo is stereo to a box without it, and to the
// window, whose one stereo lamp stands for both stereo forms.
enum class Receive { Radio1 = 1, Radio2, Stereo1, Stereo2 };

// What a line leaves one output at: the transmitting radio (1 or 2), a Receive, or an aux value
// (0 to 15, as a box keeps the low 4 bits of "AUX116" and "AUX1255").
struct StateChange {
    Output output;
    int value;
};

// Reads a command of either set that sets an output ("TX2", "FRS", "AUX14", "AS107"), or a box's
// answer or event without its "$" ("RX2S", "AUX115"); none for anything else.
std::optional<StateChange> readStateChange(QByteArrayView line);

// The set's line that puts an output at a value: "RX2S", "FRS", "AUX104", "AS215".
QByteArray stateLine(Protocol protocol, StateChange change);

// The same as a state report reads it in the window's tokens: both stereo forms are "RX1S".
QByteArray reportToken(Protocol protocol, StateChange change);

// The line that a box of set `box` takes for a line of either set: the line itself when it is
// the set's own; for a focus, stereo or aux line of the other set, its counterpart ("FT2" is
// "TX2", "AS105" "AUX105", "FRS" "RX1S"); none for a line without one (an OTRSP query to an MK2R
// box) or no command at all.
std::optional<QByteArray> lineForBox(Protocol box, QByteArrayView line);

// True for a line that the box answers: an OTRSP query ("?TX", "?NAME", a bare "?") or MK2R's
// version query.
bool isQueryLine(QByteArrayView line);

// An OTRSP box reports its focus as the commands that would set it, anywhere in what it sent:
// the transmit focus and the receive focus that the text names, each at most once.
struct ReplyFocus {
    std::optional<FocusAction> tx, rx;
};
ReplyFocus readReply(const QString& reply);

// True when the line, without its carriage return, is a command of the set: one of the window's
// own, or another that the set's documents define. What else a client sends is no command.
bool isCommandLine(Protocol protocol, QByteArrayView line);

// True for a receive-focus command of the set, the box's own stereo forms included.
bool setsReceiveFocus(Protocol protocol, QByteArrayView command);

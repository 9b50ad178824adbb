// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing and opening the serial port, what the box sends back, and the terminal pane.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "text_numbers.h"

// The Port menu's tick on the chosen entry only.
void frmZephrin::checkPortEntry(MenuEntry* chosen)
{
    for (MenuEntry* entry : mnuPortsCom)
        entry->setChecked(entry == chosen);
    mnuTCPPort1->setChecked(mnuTCPPort1 == chosen);
    mnuTCPPort2->setChecked(mnuTCPPort2 == chosen);
}

void frmZephrin::selectComPort(int number)
{
    trapped(QString("com%1_click").arg(number), [&] {
        mode = "1";
        port = QString::number(number);
        // Re-selecting the open port closes and reopens it. No entry is ticked while no port is
        // open, also when this one fails to open.
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        for (MenuEntry* entry : mnuPortsCom)
            entry->setChecked(false);
        MSComm1.setCommPort(number);
        MSComm1.setPortOpen(true);
        store(Setting::Port, port);
        checkPortEntry(mnuPortsCom[number - 1]);
        MSComm1.setSettings("9600,N,8,1");
    });
}

namespace {
constexpr QChar Backspace = QChar(8);
constexpr QChar LineFeed = QChar(10);
constexpr int PaneLimit = 16000;
constexpr int PaneTrim = 4096;
} // namespace

// ShowData carries on after a failure: it reports it and goes on with the next step, so the
// rest of the text is still shown.
template <typename Step> void frmZephrin::resumeNext(Step&& step)
{
    trapped("ShowData", std::forward<Step>(step));
}

void frmZephrin::ShowData(RichTextBox& Term, QString& Data)
{
    int size = 0;
    resumeNext([&] {
        size = int(Term.text().size());
        if (size > PaneLimit) {
            // As many whole trims as it takes, in one step, however large the last piece was.
            const int trims = (size - PaneLimit + PaneTrim - 1) / PaneTrim;
            Term.setText(Term.text().mid(qsizetype(trims) * PaneTrim));
            size = int(Term.text().size());
        }
    });
    resumeNext([&] { Term.setSelStart(size); });
    resumeNext([&] {
        // A backspace at the start takes the pane's last character instead (the size is not
        // taken again, so several of them still take only that one).
        bool takesPaneCharacter = false;
        Data = applyBackspaces(Data, takesPaneCharacter);
        if (takesPaneCharacter) {
            Term.setSelStart(size - 1);
            Term.setSelLength(1);
        }
    });
    resumeNext([&] { Data.remove(LineFeed); });
    resumeNext([&] { Data.replace(QString(CarriageReturn), QString(CarriageReturn) + LineFeed); });
    resumeNext([&] { Term.setSelText(Data); });
    resumeNext([&] { Term.setSelStart(int(Term.text().size())); });
}

QString frmZephrin::applyBackspaces(const QString& text, bool& takesCharacterBefore)
{
    QString applied;
    applied.reserve(text.size());
    for (const QChar c : text) {
        if (c != Backspace)
            applied += c;
        else if (!applied.isEmpty())
            applied.chop(1);
        else
            takesCharacterBefore = true;
    }
    return applied;
}

QString frmZephrin::stripCRLF(const QString& strToStrip)
{
    QString stripped;
    stripped.reserve(strToStrip.size());
    for (const QChar c : strToStrip)
        if (c != CarriageReturn && c != LineFeed)
            stripped += c;
    return stripped;
}

// An OTRSP box reports its focus as the commands that would set it.
void frmZephrin::setLampsFromReply(const QString& reply)
{
    const ReplyFocus focus = readReply(reply);
    if (focus.tx)
        applyLamps(lampEffect(*focus.tx));
    if (focus.rx)
        applyLamps(lampEffect(*focus.rx));
}

void frmZephrin::txtTerm_Change()
{
    trapped("txtTerm_change", [&] {
        const auto chosen = chosenProtocol();
        if (chosen == Protocol::Otrsp)
            return setLampsFromReply(stripCRLF(buffer));
        if (chosen != Protocol::Mk2r)
            return;
        const QString reply = stripCRLF(buffer);
        if (reply.startsWith('E'))
            protocolErrorBox("MK2R Protocol Error.", "MK2R Protocol Error");
        else if (reply.startsWith('?'))
            protocolErrorBox("OTRSP Protocol Error.", "OTRSP Protocol Error");
        else
            return;
        buffer = "";
        txtTerm->setText("");
    });
}

void frmZephrin::txtTerm_KeyPress(int KeyAscii)
{
    trapped("txtTerm_KeyPress", [&] {
        // Each key goes to the box at once, by itself: Enter as its carriage return.
        if (CommandLink* link = chosenLink())
            link->send(QString(QChar(KeyAscii)));
        if (chosenProtocol() == Protocol::Otrsp)
            setLampsFromReply(stripCRLF(buffer));
    });
}

void frmZephrin::protocolErrorBox(const QString& prompt, const QString& title)
{
    // A box at the wrong speed makes errors of most pieces: what arrived while a protocol-error
    // box was open is shown and applied, but raises no box of its own.
    if (pieceHeldByErrorBox)
        return;
    msgBox(prompt, MsgBoxStyle::Information, title);
    heldByErrorBox = MSComm1.inBufferCount();
}

void frmZephrin::MSComm1_OnComm()
{
    trapped("mscomm1_oncomm", [&] {
        if (MSComm1.commEvent() != SerialPort::EventReceive)
            return;
        buffer = MSComm1.input();
        pieceHeldByErrorBox = heldByErrorBox > 0;
        heldByErrorBox = std::max(0, heldByErrorBox - int(buffer.size()));
        ShowData(*txtTerm, buffer);
        if (buffer == "E")
            protocolErrorBox("MK2R protocol error.", "MK2R Protocol Error");
        else if (buffer.contains('?'))
            protocolErrorBox("OTRSP protocol error.", "OTRSP Protocol Error");
        pieceHeldByErrorBox = false;
    });
}

// Choosing and opening the serial port, what the box sends back, and the terminal pane.

#include "frmZephrin.h"
#include "handler_trap.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "text_numbers.h"

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
        // Re-selecting the open port closes and reopens it.
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        MSComm1.setCommPort(number);
        MSComm1.setPortOpen(true);
        saveSetting(settings, Setting::Port, port);
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
            Term.setText(Term.text().mid(PaneTrim));
            size = int(Term.text().size());
        }
    });
    resumeNext([&] { Term.setSelStart(size); });
    resumeNext([&] {
        for (qsizetype i = Data.indexOf(Backspace); i >= 0; i = Data.indexOf(Backspace)) {
            if (i == 0) {
                // A backspace at the start takes the pane's last character; the size is not
                // taken again, so several of them still take only that one.
                Term.setSelStart(size - 1);
                Term.setSelLength(1);
                Data.remove(0, 1);
            } else {
                Data.remove(i - 1, 2);
            }
        }
    });
    resumeNext([&] { Data.remove(LineFeed); });
    resumeNext([&] { Data.replace(QString(CarriageReturn), QString(CarriageReturn) + LineFeed); });
    resumeNext([&] { Term.setSelText(Data); });
    resumeNext([&] { Term.setSelStart(int(Term.text().size())); });
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
    if (reply.contains("TX1"))
        applyLamps(focusCommand(FocusAction::TxFocus1).effect);
    else if (reply.contains("TX2"))
        applyLamps(focusCommand(FocusAction::TxFocus2).effect);

    if (reply.contains("RX1S") || reply.contains("RX2S"))
        applyLamps(focusCommand(FocusAction::RxFocusS).effect);
    else if (reply.contains("RX1"))
        applyLamps(focusCommand(FocusAction::RxFocus1).effect);
    else if (reply.contains("RX2"))
        applyLamps(focusCommand(FocusAction::RxFocus2).effect);
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
            msgBox("MK2R Protocol Error.", MsgBoxStyle::Information, "MK2R Protocol Error");
        else if (reply.startsWith('?'))
            msgBox("OTRSP Protocol Error.", MsgBoxStyle::Information, "OTRSP Protocol Error");
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
        if (chosenLink() == Link::Serial)
            writeSerial(QString(QChar(KeyAscii)));
        if (chosenProtocol() == Protocol::Otrsp)
            setLampsFromReply(stripCRLF(buffer));
    });
}

void frmZephrin::MSComm1_OnComm()
{
    trapped("mscomm1_oncomm", [&] {
        if (MSComm1.commEvent() != SerialPort::EventReceive)
            return;
        buffer = MSComm1.input();
        ShowData(*txtTerm, buffer);
        if (buffer == "E")
            msgBox("MK2R protocol error.", MsgBoxStyle::Information, "MK2R Protocol Error");
        else if (buffer.contains('?'))
            msgBox("OTRSP protocol error.", MsgBoxStyle::Information, "OTRSP Protocol Error");
    });
}

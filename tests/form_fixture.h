// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/frmZephrin.h"
#include "fakes.h"

#include <gtest/gtest.h>

// A form on a platform of fakes.
class FormTest : public ::testing::Test, protected FakePlatform {
protected:
    frmZephrin form{bundle()};

    // The program always starts the form before the operator can click anything.
    void SetUp() override
    {
        form.Form_Load();
        boxes().clear();
    }

    FakeControl& menu(const QString& name) { return ui.menuEntry(name); }
    FakeControl& lamp(const QString& name) { return ui.shape(name); }
    FakeControl& button(const QString& name) { return ui.button(name); }
    FakeRichTextBox& term() { return ui.richTextBox("txtTerm"); }
    std::vector<ShownBox>& boxes() { return ui.dialog.boxes; }

    // Exactly one box was shown since the last check, with this text, style and title.
    void expectOneBox(const QString& prompt, int style = MsgBoxStyle::Information,
                      const QString& title = {})
    {
        ASSERT_EQ(ui.dialog.prompts(), QStringList{prompt});
        EXPECT_EQ(boxes()[0].style, style);
        EXPECT_EQ(boxes()[0].title, title);
        boxes().clear();
    }

    // COM3 open, the given protocol chosen, and nothing recorded yet.
    void openCom3(const QString& protocol)
    {
        menu("mnuPortsCom3").click();
        form.protocol = protocol;
        serial.writes.clear();
        boxes().clear();
    }

    // Lamps as a string of five letters, in the order focus1 focus2 rx1 rx2 rxS: L lit, d dark.
    static constexpr const char* LampNames[] = {"shpFocus1", "shpFocus2", "shpRx1", "shpRx2",
                                                "shpRxS"};
    QString lamps()
    {
        QString s;
        for (const char* name : LampNames)
            s += lamp(name).lit() ? 'L' : 'd';
        return s;
    }
    void setLamps(const QString& pattern)
    {
        for (int i = 0; i < 5; ++i)
            lamp(LampNames[i]).style =
                pattern[i] == 'L' ? FillStyle::Solid : FillStyle::Transparent;
    }
    // The off entry and the fifteen output entries of a radio's aux menu, in order.
    static QStringList radioEntries(int radio)
    {
        QStringList names{QString("mnuAuxR%1Off").arg(radio)};
        for (int n = 1; n <= 15; ++n)
            names << QString("mnuAux%1%2On").arg(radio).arg(n, 2, 10, QChar('0'));
        return names;
    }
    QStringList checkedIn(const QStringList& names)
    {
        QStringList on;
        for (const QString& n : names)
            if (menu(n).isChecked)
                on << n;
        return on;
    }
};

// A focus button, its command in OTRSP and in MK2R, and the lamps after it, starting all dark
// and starting all lit.
struct FocusCase {
    const char *button, *otrsp, *mk2r, *lampsFromDark, *lampsFromLit;
};

inline const FocusCase focusCases[] = {
    {"RxFocus1", "RX1", "FR1", "ddLdd", "LLLdd"},  {"RxFocus2", "RX2", "FR2", "dddLd", "LLdLd"},
    {"RxFocusS", "RX1S", "FRS", "ddddL", "LLddL"}, {"TxFocus1", "TX1", "FT1", "Ldddd", "LdLLL"},
    {"TxFocus2", "TX2", "FT2", "dLddd", "dLLLL"},
};

inline QString cr(const QString& command)
{
    return command + QChar(13);
}

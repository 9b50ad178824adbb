// SPDX-License-Identifier: GPL-3.0-or-later
// The operator's names for the thirty aux outputs: the captions of their menu entries, kept in
// the settings store.

#include "form_layout.h"
#include "frmZephrin.h"
#include "handler_trap.h"

namespace {
QString auxNameKey(int radio, int output)
{
    return QString("aux%1%2").arg(radio).arg(output, 2, 10, QChar('0'));
}
} // namespace

void frmZephrin::renameClick(int radio, int output)
{
    trapped(QString("aux%1%2_rename").arg(radio).arg(output, 2, 10, QChar('0')), [&] {
        MenuEntry* entry = auxOnEntry(radio, output);
        const auto name = ui.dialogs().inputBox("Enter new name for " + entry->caption() + " menu.",
                                                "Rename Menu", {});
        if (!name || name->isEmpty())
            return;
        entry->setCaption(*name);
        store(Setting::AuxNamesSection, auxNameKey(radio, output), *name);
    });
}

void frmZephrin::mnuResetAux_Click()
{
    trapped("ResetAux_click", [&] {
        if (msgBox("Reset all AUX menus to default?", MsgBoxStyle::YesNo, "Rename AUX Menus") ==
            MsgBoxAnswer::Yes)
            renameAux();
    });
}

void frmZephrin::renameAux()
{
    trapped("rename_Aux", [&] {
        std::vector<std::pair<QString, QString>> names;
        for (int radio : {1, 2})
            for (int output = 1; output <= 15; ++output) {
                const QString name = defaultAuxCaption(radio, output);
                auxOnEntry(radio, output)->setCaption(name);
                names.emplace_back(auxNameKey(radio, output), name);
            }
        storeAll(Setting::AuxNamesSection, names);
    });
}

// The stored names, unless the first is missing: then all thirty defaults, stored.
void frmZephrin::restoreAuxNames()
{
    if (settings.getSetting(AppName, Setting::AuxNamesSection, auxNameKey(1, 1)).isEmpty())
        return renameAux();
    for (int radio : {1, 2})
        for (int output = 1; output <= 15; ++output)
            auxOnEntry(radio, output)
                ->setCaption(settings.getSetting(AppName, Setting::AuxNamesSection,
                                                 auxNameKey(radio, output)));
}

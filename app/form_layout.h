// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <vector>

// The design of the main window: every control and menu entry with its name, caption,
// place and size. The toolkit builds the real window from it; the form finds its controls by
// these names.

constexpr int TwipsPerPixel = 15;
constexpr int ClientWidthTwips = 6465;
constexpr int ClientHeightTwips = 2175;

enum class ControlKind { CommandButton, Label, TextBox, RichTextBox, Circle };

struct ControlLayout {
    const char* name;
    ControlKind kind;
    const char* caption;          // "&" marks the access key
    int left, top, width, height; // twips
    int tabIndex;                 // -1: takes no keyboard focus
    const char* toolTip;
};

struct MenuEntryLayout {
    QString name;
    QString caption;
    bool separatorBefore = false;
};

struct MenuLayout {
    QString name;
    QString caption;
    std::vector<MenuEntryLayout> entries;
};

const std::vector<ControlLayout>& formControls();
const std::vector<MenuLayout>& formMenus();

constexpr const char* FormCaption = "Zephrin";

// Default caption of aux output n (1 to 15) of radio r (1 or 2): "Aux101 On" ... "Aux215 On".
QString defaultAuxCaption(int radio, int output);

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

// The window's controls as the program's logic sees them. Each kind offers only what the
// handlers use; the real widgets live in frontend/, fakes in tests.

using ClickHandler = std::function<void()>;

class MenuEntry {
public:
    virtual ~MenuEntry() = default;
    virtual bool checked() const = 0;
    virtual void setChecked(bool on) = 0;
    virtual QString caption() const = 0;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setToolTip(const QString& tip) = 0;
    virtual void onClick(ClickHandler handler) = 0;
};

class CommandButton {
public:
    virtual ~CommandButton() = default;
    virtual void onClick(ClickHandler handler) = 0;
};

class Label {
public:
    virtual ~Label() = default;
    virtual QString caption() const = 0;
    virtual void setCaption(const QString& caption) = 0;
};

// A lamp: lit when its fill style is solid, dark when transparent.
namespace FillStyle {
constexpr int Solid = 0;
constexpr int Transparent = 1;
} // namespace FillStyle

// Colour values with red in the lowest byte.
namespace Colour {
constexpr std::uint32_t Green = 0x0000FF00;
constexpr std::uint32_t Yellow = 0x0000FFFF;
constexpr std::uint32_t Red = 0x000000FF;
constexpr std::uint32_t Cyan = 0x00FFFF00;
} // namespace Colour

class Shape {
public:
    virtual ~Shape() = default;
    virtual int fillStyle() const = 0;
    virtual void setFillStyle(int style) = 0;
    virtual std::uint32_t fillColor() const = 0;
    virtual void setFillColor(std::uint32_t colour) = 0;
    // What a screen reader hears of the lamp after its name, where "lit" or "dark" would not
    // tell what it means.
    virtual void setStateText(const QString& text) = 0;
};

class TextBox {
public:
    virtual ~TextBox() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual bool visible() const = 0;
    virtual void setVisible(bool visible) = 0;
    virtual void setBackColor(std::uint32_t colour) = 0;
};

// The terminal pane. Every change of its text, whoever makes it, raises the change handler
// before the changing call returns. The key handler sees the character code of a typed key
// (0 to 255) before the pane applies the key itself.
class RichTextBox {
public:
    virtual ~RichTextBox() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual int selStart() const = 0;
    virtual void setSelStart(int position) = 0;
    virtual int selLength() const = 0;
    virtual void setSelLength(int length) = 0;
    // Replaces the selection, or inserts at the caret when nothing is selected.
    virtual void setSelText(const QString& text) = 0;
    virtual void onChange(ClickHandler handler) = 0;
    virtual void onKeyPress(std::function<void(int keyAscii)> handler) = 0;
};

// The main window itself; positions in twips.
class FormWindow {
public:
    virtual ~FormWindow() = default;
    virtual double left() const = 0;
    virtual void setLeft(double twips) = 0;
    virtual double top() const = 0;
    virtual void setTop(double twips) = 0;
    // Raised when the operator closes the window.
    virtual void onUnload(ClickHandler handler) = 0;
};

namespace MsgBoxStyle {
constexpr int OkOnly = 0;
constexpr int YesNo = 4;
constexpr int Stop = 16;
constexpr int Exclamation = 48;
constexpr int Information = 64;
} // namespace MsgBoxStyle

namespace MsgBoxAnswer {
constexpr int Ok = 1;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace MsgBoxAnswer

// Modal message and input boxes. An empty title shows the application title.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual int msgBox(const QString& prompt, int style, const QString& title) = 0;
    // Nothing when the operator cancels; an empty answer is an answer.
    virtual std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                            const QString& defaultText) = 0;
    // The index of the item the operator chose; nothing when cancelled.
    virtual std::optional<int> chooseItem(const QString& prompt, const QString& title,
                                          const QStringList& items) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual QString title() const = 0;
    virtual void setTitle(const QString& title) = 0;
    // The directory of the program file, without a trailing separator.
    virtual QString path() const = 0;
    // Ends the program at once, without the window's closed event.
    virtual void end() = 0;
};

// Finds the controls that the form's layout declares, by name.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    virtual MenuEntry& menuEntry(const QString& name) = 0;
    virtual CommandButton& button(const QString& name) = 0;
    virtual Label& label(const QString& name) = 0;
    virtual Shape& shape(const QString& name) = 0;
    virtual TextBox& textBox(const QString& name) = 0;
    virtual RichTextBox& richTextBox(const QString& name) = 0;
    virtual FormWindow& window() = 0;
    virtual Application& application() = 0;
    virtual Dialogs& dialogs() = 0;
};

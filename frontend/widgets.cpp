// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets.h"

#include "platform/controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextBlock>

namespace {

// What a screen reader learns of a lamp. AT-SPI knows no indicator role, and carries a change
// of the checked state and of the description, not of a value without a value interface.
class LampAccessible : public QAccessibleWidget {
public:
    explicit LampAccessible(LampWidget* lamp) : QAccessibleWidget(lamp, QAccessible::CheckBox) {}
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = state.readOnly = true;
        state.checked = static_cast<LampWidget*>(widget())->lit();
        return state;
    }
};

QAccessibleInterface* lampAccessible(const QString&, QObject* object)
{
    auto* lamp = dynamic_cast<LampWidget*>(object);
    return lamp ? new LampAccessible(lamp) : nullptr;
}

} // namespace

LampWidget::LampWidget(const QString& name, QWidget* parent)
    : QWidget(parent), fillStyle_(FillStyle::Transparent), fillColor_(Colour::Green)
{
    static const bool factoryInstalled = (QAccessible::installFactory(lampAccessible), true);
    Q_UNUSED(factoryInstalled);
    setAccessibleName(name);
    setAccessibleDescription("dark");
}

bool LampWidget::lit() const
{
    return fillStyle_ == FillStyle::Solid;
}

void LampWidget::setStateText(const QString& text)
{
    stateText_ = text;
    stateChanged(lit());
}

// The state is the lamp's description, which every screen reader reads after its name.
void LampWidget::stateChanged(bool wasLit)
{
    update();
    setAccessibleDescription(stateText_.isEmpty() ? (lit() ? "lit" : "dark") : stateText_);
    if (lit() == wasLit)
        return;
    QAccessible::State checked;
    checked.checked = true;
    QAccessibleStateChangeEvent event(this, checked);
    QAccessible::updateAccessibility(&event);
}

QColor LampWidget::toQColor(std::uint32_t colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void LampWidget::setFillStyle(int style)
{
    const bool wasLit = lit();
    fillStyle_ = style;
    stateChanged(wasLit);
}

void LampWidget::setFillColor(std::uint32_t colour)
{
    fillColor_ = colour;
    update();
}

void LampWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = std::min(width(), height()) - 1;
    const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter,
                        diameter);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(lit() ? QBrush(toQColor(fillColor_)) : Qt::NoBrush);
    painter.drawEllipse(circle);
}

CaptionButton::CaptionButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent)
{
}

bool CaptionButton::event(QEvent* event)
{
    if (event->type() != QEvent::Shortcut || static_cast<QShortcutEvent*>(event)->isAmbiguous())
        return QPushButton::event(event);
    // A held key does not repeat the command, as it would 18 times a second. Qt keeps the id of
    // the access key's grab to itself, and the shortcut map hands a button only its own grabs:
    // the first press tells it.
    setShortcutAutoRepeat(static_cast<QShortcutEvent*>(event)->shortcutId(), false);
    // Qt answers its access key with an animated click that acts a tenth of a second later.
    if (focusPolicy() & Qt::TabFocus)
        setFocus(Qt::ShortcutFocusReason);
    click();
    return true;
}

void CaptionButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect area = rect().adjusted(2, 1, -2, -1);
    painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                         isEnabled(), caption, QPalette::ButtonText);
}

TerminalPane::TerminalPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAnywhere);
    // The pane is rewritten for hours on end: an undo history would only grow.
    setUndoRedoEnabled(false);
    // Read-only to Qt and to a screen reader: typed keys go to the box first, and the pane
    // applies them itself (keyPressEvent), so the caret, selection and copy are all it lets Qt do.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QMimeData* TerminalPane::createMimeDataFromSelection() const
{
    // The text as received, with plain line breaks instead of the pane's stand-ins.
    QString copied = text_.mid(selStart(), selLength());
    copied.replace("\r\n", "\n").replace('\r', '\n');
    auto* data = new QMimeData;
    data->setText(copied);
    return data;
}

QString TerminalPane::screenForm(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown) {
        const ushort code = c.unicode();
        if (code == 13)
            c = QChar('\n');
        else if ((code < 32 && code != 9) || (code >= 0x7F && code < 0xA0))
            c = QChar(0xB7); // other control bytes show as a middle dot
    }
    return shown;
}

// A line feed keeps its place in the pane as a space too small to see: the carriage return
// before it already shows the line break.
void TerminalPane::insertScreenForm(QTextCursor& cursor, const QString& text)
{
    static const QTextCharFormat hidden = [] {
        QTextCharFormat format;
        format.setFontPointSize(1);
        format.setForeground(Qt::transparent);
        return format;
    }();
    const QTextCharFormat normal;
    qsizetype start = 0;
    for (qsizetype lf = text.indexOf('\n'); lf >= 0; lf = text.indexOf('\n', start)) {
        cursor.insertText(screenForm(text.mid(start, lf - start)), normal);
        cursor.insertText(" ", hidden);
        start = lf + 1;
    }
    cursor.insertText(screenForm(text.mid(start)), normal);
}

void TerminalPane::replace(int from, int length, const QString& text)
{
    text_.replace(from, length, text);
    QTextCursor cursor(document());
    cursor.setPosition(from);
    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
    insertScreenForm(cursor, text);
    QTextCursor caret = textCursor();
    caret.setPosition(from + text.size());
    setTextCursor(caret);
    if (changed)
        changed();
}

void TerminalPane::setText(const QString& text)
{
    if (!text.isEmpty() && text.size() < text_.size() && text_.endsWith(text)) {
        // The pane keeps its newest text, as when it trims: only the start goes.
        QTextCursor cursor(document());
        cursor.setPosition(int(text_.size() - text.size()), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        text_ = text;
    } else {
        text_ = text;
        document()->clear();
        QTextCursor cursor(document());
        insertScreenForm(cursor, text);
    }
    setTextCursor(QTextCursor(document()));
    if (changed)
        changed();
}

int TerminalPane::selStart() const
{
    return textCursor().selectionStart();
}

void TerminalPane::setSelStart(int position)
{
    // A position before the start or past the end is taken as the nearest end of the text.
    QTextCursor caret = textCursor();
    caret.setPosition(std::clamp(position, 0, static_cast<int>(text_.size())));
    setTextCursor(caret);
}

int TerminalPane::selLength() const
{
    const QTextCursor caret = textCursor();
    return caret.selectionEnd() - caret.selectionStart();
}

void TerminalPane::setSelLength(int length)
{
    QTextCursor caret = textCursor();
    const int start = caret.selectionStart();
    caret.setPosition(start);
    caret.setPosition(std::clamp(start + length, start, static_cast<int>(text_.size())),
                      QTextCursor::KeepAnchor);
    setTextCursor(caret);
}

void TerminalPane::setSelText(const QString& text)
{
    replace(selStart(), selLength(), text);
}

void TerminalPane::applyKey(int keyAscii)
{
    const int start = selStart();
    const int length = selLength();
    if (keyAscii == 8) {
        if (length > 0)
            replace(start, length, {});
        else if (start >= 2 && text_.mid(start - 2, 2) == "\r\n")
            replace(start - 2, 2, {});
        else if (start >= 1)
            replace(start - 1, 1, {});
    } else if (keyAscii == 13) {
        replace(start, length, "\r\n");
    } else if (keyAscii >= 32 || keyAscii == 9) {
        replace(start, length, QString(QChar(keyAscii)));
    }
}

void TerminalPane::keyPressEvent(QKeyEvent* event)
{
    // Ctrl+Tab and Ctrl+Shift+Tab leave the pane, as Tab and Shift+Tab do.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
        (event->modifiers() & Qt::ControlModifier)) {
        setTabChangesFocus(true); // for this key only
        focusNextPrevChild(event->key() == Qt::Key_Tab &&
                           !(event->modifiers() & Qt::ShiftModifier));
        setTabChangesFocus(false);
        return;
    }
    if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::SelectAll)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    int keyAscii = -1;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        keyAscii = 13;
    else if (event->key() == Qt::Key_Backspace)
        keyAscii = 8;
    else if (event->text().size() == 1 && event->text().at(0).unicode() <= 255 &&
             event->key() != Qt::Key_Delete && event->text().at(0).unicode() != 127)
        keyAscii = event->text().at(0).unicode();
    if (keyAscii < 0) {
        // Keys that make no character only move the caret or scroll.
        if (event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))
            return;
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: QPlainTextEdit::keyPressEvent(event); break;
        default: break;
        }
        return;
    }
    if (keyPressed)
        keyPressed(keyAscii);
    applyKey(keyAscii);
}

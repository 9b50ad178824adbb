// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>

// An indicator lamp: a circle's outline, filled with its colour when the fill style is solid.
// A screen reader finds a read-only check box, checked while the lamp is lit, that says its
// state after its name: "lit" or "dark", or the words the program gives it.
class LampWidget : public QWidget {
public:
    LampWidget(const QString& name, QWidget* parent);

    int fillStyle() const { return fillStyle_; }
    void setFillStyle(int style);
    std::uint32_t fillColor() const { return fillColor_; }
    void setFillColor(std::uint32_t colour);
    bool lit() const;
    void setStateText(const QString& text);

    // The colour value (red in the lowest byte) as a Qt colour.
    static QColor toQColor(std::uint32_t colour);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void stateChanged(bool wasLit);

    int fillStyle_;
    std::uint32_t fillColor_;
    QString stateText_;
};

// A push button whose caption wraps onto a second line when the button is narrow. Its access
// key clicks it at once, once a press: an operator switching radios by keyboard waits for no
// animation, and a held key sends the command once.
class CaptionButton : public QPushButton {
public:
    CaptionButton(const QString& caption, QWidget* parent);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
};

// The terminal pane. It holds its text exactly as the program wrote it (carriage return and
// line feed pairs included, one position per character) and shows it one screen character per
// text character: a carriage return as the line break, a line feed as an invisible space,
// other control characters as a middle dot. Typed keys go to the key handler first, then the pane
// applies them itself.
class TerminalPane : public QPlainTextEdit {
public:
    explicit TerminalPane(QWidget* parent);

    QString text() const { return text_; }
    void setText(const QString& text);
    int selStart() const;
    void setSelStart(int position);
    int selLength() const;
    void setSelLength(int length);
    void setSelText(const QString& text);

    std::function<void()> changed;
    std::function<void(int)> keyPressed;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData*) override {}
    bool canInsertFromMimeData(const QMimeData*) const override { return false; }

private:
    void replace(int from, int length, const QString& text);
    void applyKey(int keyAscii);
    static QString screenForm(const QString& text);
    static void insertScreenForm(QTextCursor& cursor, const QString& text);

    QString text_;
};

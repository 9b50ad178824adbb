// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/controls.h"

#include <QString>
#include <map>
#include <memory>
#include <stdexcept>

class EventGate;
class QMainWindow;
class QWidget;
class ZephrinWindow;

// The real window, built from the form's layout, and its controls behind the toolkit interface.
// Every control event reaches the form through the event gate. Message and input boxes are the
// real ones unless other dialogs are given (tests record them instead).
class QtToolkit : public Toolkit {
public:
    explicit QtToolkit(EventGate& gate, Dialogs* dialogs = nullptr);
    ~QtToolkit() override;

    MenuEntry& menuEntry(const QString& name) override { return find(menuEntries_, name); }
    CommandButton& button(const QString& name) override { return find(buttons_, name); }
    Label& label(const QString& name) override { return find(labels_, name); }
    Shape& shape(const QString& name) override { return find(shapes_, name); }
    TextBox& textBox(const QString& name) override { return find(textBoxes_, name); }
    RichTextBox& richTextBox(const QString& name) override { return find(richTextBoxes_, name); }
    FormWindow& window() override { return *formWindow_; }
    Application& application() override { return *application_; }
    Dialogs& dialogs() override { return injectedDialogs_ ? *injectedDialogs_ : *dialogs_; }

    QMainWindow* mainWindow() const;
    // For a program asked to end: the boxes open are cancelled and no other box opens.
    void endDialogs();

private:
    template <typename T>
    static T& find(const std::map<QString, std::unique_ptr<T>>& controls, const QString& name)
    {
        const auto it = controls.find(name);
        if (it == controls.end())
            throw std::logic_error("the window has no control named " + name.toStdString());
        return *it->second;
    }

    std::unique_ptr<ZephrinWindow> window_;
    std::map<QString, std::unique_ptr<MenuEntry>> menuEntries_;
    std::map<QString, std::unique_ptr<CommandButton>> buttons_;
    std::map<QString, std::unique_ptr<Label>> labels_;
    std::map<QString, std::unique_ptr<Shape>> shapes_;
    std::map<QString, std::unique_ptr<TextBox>> textBoxes_;
    std::map<QString, std::unique_ptr<RichTextBox>> richTextBoxes_;
    std::unique_ptr<FormWindow> formWindow_;
    std::unique_ptr<Application> application_;
    std::unique_ptr<Dialogs> dialogs_;
    Dialogs* injectedDialogs_;
};

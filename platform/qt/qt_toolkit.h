#pragma once

#include "platform/controls.h"

#include <QString>
#include <map>
#include <memory>

class QMainWindow;
class QWidget;
class ZephrinWindow;

// The real window, built from the form's layout, and its controls behind the toolkit interface.
// Every control event reaches the form through the event gate.
class QtToolkit : public Toolkit {
public:
    QtToolkit();
    ~QtToolkit() override;

    MenuEntry& menuEntry(const QString& name) override;
    CommandButton& button(const QString& name) override;
    Label& label(const QString& name) override;
    Shape& shape(const QString& name) override;
    TextBox& textBox(const QString& name) override;
    RichTextBox& richTextBox(const QString& name) override;
    FormWindow& window() override;
    Application& application() override;
    Dialogs& dialogs() override;

    QMainWindow* mainWindow() const;

private:
    template <typename T>
    T& find(const std::map<QString, std::unique_ptr<T>>& controls, const QString& name) const;

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
};

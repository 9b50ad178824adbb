// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_toolkit.h"

#include "app/form_layout.h"
#include "platform/qt/event_gate.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <optional>
#include <stdexcept>

namespace {

QRect pixels(const ControlLayout& c)
{
    return QRect(c.left / TwipsPerPixel, c.top / TwipsPerPixel, c.width / TwipsPerPixel,
                 c.height / TwipsPerPixel);
}

// Every event of the window runs through the gate, so that port and socket events wait for it.
std::function<void()> gated(EventGate& gate, std::function<void()> handler)
{
    return [&gate, handler = std::move(handler)] { gate.run(handler); };
}

QIcon windowIcon()
{
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 48, 64));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(0, 0, 32, 32, 6, 6);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(QColor(0, 255, 0));
    painter.drawEllipse(QRectF(4, 10, 11, 11));
    painter.setBrush(QColor(255, 255, 0));
    painter.drawEllipse(QRectF(17, 10, 11, 11));
    return QIcon(picture);
}

// A menu entry shows a check mark only while it is checked, and only its handler sets it.
class QtMenuEntry : public MenuEntry {
public:
    QtMenuEntry(QAction* action, EventGate& gate) : action_(action), gate_(gate) {}
    bool checked() const override { return checked_; }
    void setChecked(bool on) override
    {
        checked_ = on;
        action_->setCheckable(on);
        action_->setChecked(on);
    }
    QString caption() const override { return action_->text(); }
    void setCaption(const QString& caption) override { action_->setText(caption); }
    void setToolTip(const QString& tip) override { action_->setToolTip(tip); }
    void onClick(ClickHandler handler) override
    {
        QObject::connect(action_, &QAction::triggered,
                         [this, h = gated(gate_, std::move(handler))](bool) {
                             setChecked(checked_); // undo the toggle Qt makes on a click
                             h();
                         });
    }

private:
    QAction* action_;
    EventGate& gate_;
    bool checked_ = false;
};

class QtButton : public CommandButton {
public:
    QtButton(QPushButton* button, EventGate& gate) : button_(button), gate_(gate) {}
    void onClick(ClickHandler handler) override
    {
        QObject::connect(button_, &QPushButton::clicked, gated(gate_, std::move(handler)));
    }

private:
    QPushButton* button_;
    EventGate& gate_;
};

class QtLabel : public Label {
public:
    explicit QtLabel(QLabel* label) : label_(label) {}
    QString caption() const override { return label_->text(); }
    void setCaption(const QString& caption) override { label_->setText(caption); }

private:
    QLabel* label_;
};

class QtShape : public Shape {
public:
    explicit QtShape(LampWidget* lamp) : lamp_(lamp) {}
    int fillStyle() const override { return lamp_->fillStyle(); }
    void setFillStyle(int style) override { lamp_->setFillStyle(style); }
    std::uint32_t fillColor() const override { return lamp_->fillColor(); }
    void setFillColor(std::uint32_t colour) override { lamp_->setFillColor(colour); }
    void setStateText(const QString& text) override { lamp_->setStateText(text); }

private:
    LampWidget* lamp_;
};

class QtTextBox : public TextBox {
public:
    explicit QtTextBox(QLineEdit* edit) : edit_(edit) {}
    QString text() const override { return edit_->text(); }
    void setText(const QString& text) override
    {
        edit_->setText(text);
        edit_->setCursorPosition(0);
    }
    bool visible() const override { return !edit_->isHidden(); }
    void setVisible(bool visible) override { edit_->setVisible(visible); }
    void setBackColor(std::uint32_t colour) override
    {
        QPalette palette = edit_->palette();
        palette.setColor(QPalette::Base, LampWidget::toQColor(colour));
        palette.setColor(QPalette::Text, Qt::black);
        edit_->setPalette(palette);
    }

private:
    QLineEdit* edit_;
};

class QtRichTextBox : public RichTextBox {
public:
    QtRichTextBox(TerminalPane* pane, EventGate& gate) : pane_(pane), gate_(gate) {}
    QString text() const override { return pane_->text(); }
    void setText(const QString& text) override { pane_->setText(text); }
    int selStart() const override { return pane_->selStart(); }
    void setSelStart(int position) override { pane_->setSelStart(position); }
    int selLength() const override { return pane_->selLength(); }
    void setSelLength(int length) override { pane_->setSelLength(length); }
    void setSelText(const QString& text) override { pane_->setSelText(text); }
    void onChange(ClickHandler handler) override
    {
        pane_->changed = gated(gate_, std::move(handler));
    }
    void onKeyPress(std::function<void(int)> handler) override
    {
        pane_->keyPressed = [this, handler = std::move(handler)](int keyAscii) {
            gate_.run([&] { handler(keyAscii); });
        };
    }

private:
    TerminalPane* pane_;
    EventGate& gate_;
};

class QtApplication : public Application {
public:
    explicit QtApplication(ZephrinWindow* window) : window_(window) {}
    QString title() const override { return title_; }
    void setTitle(const QString& title) override { title_ = title; }
    QString path() const override { return QCoreApplication::applicationDirPath(); }
    void end() override;

private:
    ZephrinWindow* window_;
    QString title_ = FormCaption;
};

// What a screen reader names the controls that show no caption, and what it adds where a
// caption alone says too little.
struct Spoken {
    const char *control, *name, *description;
};
constexpr Spoken spokenControls[] = {
    {"shpFocus1", "TX Focus 1 lamp", nullptr},
    {"shpFocus2", "TX Focus 2 lamp", nullptr},
    {"shpRx1", "RX Focus 1 lamp", nullptr},
    {"shpRx2", "RX Focus 2 lamp", nullptr},
    {"shpRxS", "RX Focus Stereo lamp", nullptr},
    {"shpNetStat", "Network lamp", nullptr},
    {"txtTerm", "Terminal", "What the box sends; typed keys go to the box. Tab leaves it"},
    {"txtAux1", "Radio 1 aux output", nullptr},
    {"txtAux2", "Radio 2 aux output", nullptr},
    {"lblStatus", nullptr, "Network status"}, // its name is its text
    {"TXQuery", nullptr, "Asks the box which radio transmits"},
    {"RXQuery", nullptr, "Asks the box which radio is heard"},
    {"FWQuery", nullptr, "Asks the box for its firmware version"},
};

const Spoken* spokenFor(const QString& control)
{
    for (const Spoken& s : spokenControls)
        if (control == s.control)
            return &s;
    return nullptr;
}

class QtDialogs : public Dialogs {
public:
    QtDialogs(QWidget* parent, const Application& app) : parent_(parent), app_(app) {}

    int msgBox(const QString& prompt, int style, const QString& title) override
    {
        if (ending_) // nobody is left to answer: the safe answer
            return (style & 0x7) == MsgBoxStyle::YesNo ? MsgBoxAnswer::No : MsgBoxAnswer::Ok;
        QMessageBox box(parent_);
        box.setWindowTitle(title.isEmpty() ? app_.title() : title);
        box.setText(prompt);
        switch (style & 0x70) {
        case MsgBoxStyle::Stop: box.setIcon(QMessageBox::Critical); break;
        case MsgBoxStyle::Exclamation: box.setIcon(QMessageBox::Warning); break;
        case MsgBoxStyle::Information: box.setIcon(QMessageBox::Information); break;
        default: box.setIcon(QMessageBox::NoIcon); break;
        }
        if ((style & 0x7) == MsgBoxStyle::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            return box.exec() == QMessageBox::Yes ? MsgBoxAnswer::Yes : MsgBoxAnswer::No;
        }
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MsgBoxAnswer::Ok;
    }

    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& defaultText) override
    {
        if (ending_)
            return std::nullopt;
        bool accepted = false;
        const QString text =
            QInputDialog::getText(parent_, title.isEmpty() ? app_.title() : title, prompt,
                                  QLineEdit::Normal, defaultText, &accepted);
        return accepted ? std::optional(text) : std::nullopt;
    }

    std::optional<int> chooseItem(const QString& prompt, const QString& title,
                                  const QStringList& items) override
    {
        if (ending_)
            return std::nullopt;
        bool accepted = false;
        const QString item =
            QInputDialog::getItem(parent_, title.isEmpty() ? app_.title() : title, prompt, items,
                                  0, false, &accepted);
        return accepted ? std::optional(int(items.indexOf(item))) : std::nullopt;
    }

    // The program ends: the boxes open now are cancelled, and no other box opens.
    void end()
    {
        ending_ = true;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QDialog*>(widget); box && box->isVisible())
                box->reject();
    }

private:
    QWidget* parent_;
    const Application& app_;
    bool ending_ = false;
};

} // namespace

// The main window; closing it raises the form's unload event, unless the program is ending.
class ZephrinWindow : public QMainWindow {
public:
    std::function<void()> unload;
    bool ending = false;

    ZephrinWindow()
    {
        framing_.setInterval(FramingTickMs);
        connect(&framing_, &QTimer::timeout, this, [this] {
            settlePlacement();
            if (!wantedInside_ || framingSince_.hasExpired(FramingMs)) {
                framing_.stop();
                wantedInside_.reset();
            }
        });
    }

    // Where the window's inside is to stand once it is shown. Before a window is shown its frame
    // is not known, and platforms place it by the frame or by the inside (X11's static gravity)
    // as they please: once the frame is known, the window is moved to stand exactly there, or as
    // near as keeps its frame, title bar first, on the screen.
    void placeInside(const QPoint& inside)
    {
        if (isVisible())
            return windowHandle()->setPosition(inside);
        move(inside);
        wantedInside_ = inside;
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (!ending && unload)
            unload();
        ending = true; // once, however the program ends
        event->accept();
    }
    void showEvent(QShowEvent* event) override
    {
        settlePlacement(); // a position stored on a screen that is no longer there
        QMainWindow::showEvent(event);
        // The window manager frames the window a moment after it is shown, and tells the window
        // nothing when its inside stays where it was: look until the frame is known, for a
        // while (a window manager that draws no frame never makes it known).
        framingSince_.start();
        framing_.start();
    }

private:
    static constexpr int FramingTickMs = 20;
    static constexpr int FramingMs = 2000;

    // Moves the window to the wanted place, its frame pulled onto the screen. The frame is the
    // window's own, not the widget's copy of it: the widget learns its frame only when it moves,
    // and a window manager that frames a window where it stands (X11's static gravity) does not
    // move it.
    void settlePlacement()
    {
        if (!wantedInside_)
            return;
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        const QRect inside = geometry();
        const QRect wantedFrame = QRect(*wantedInside_, inside.size()).marginsAdded(frame);
        const QPoint target = onScreen(wantedFrame).marginsRemoved(frame).topLeft();
        // Framed: the inside stands within the frame (before that, a window manager may have
        // taken the window into a frame without yet making room for the title bar).
        if (frame.left() > 0 || frame.top() > 0)
            wantedInside_.reset();
        if (inside.topLeft() == target)
            return;
        if (windowHandle() && isVisible())
            windowHandle()->setPosition(target);
        else
            move(target);
    }

    // The frame moved as little as it takes to lie on the available area of its screen (the
    // primary screen when it is on none); where it is larger, its top left corner stays on.
    static QRect onScreen(QRect frame)
    {
        const QScreen* screen = QGuiApplication::screenAt(frame.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return frame;
        const QRect area = screen->availableGeometry();
        frame.moveRight(std::min(frame.right(), area.right()));
        frame.moveBottom(std::min(frame.bottom(), area.bottom()));
        frame.moveLeft(std::max(frame.left(), area.left()));
        frame.moveTop(std::max(frame.top(), area.top()));
        return frame;
    }

    std::optional<QPoint> wantedInside_;
    QTimer framing_;
    QElapsedTimer framingSince_;
};

void QtApplication::end()
{
    window_->ending = true;
    window_->close();
    QCoreApplication::exit(0);
}

namespace {
class QtFormWindow : public FormWindow {
public:
    QtFormWindow(ZephrinWindow* window, EventGate& gate) : window_(window), gate_(gate) {}
    // The position of the window's inside, not of its frame: a window placed before it is shown
    // is placed by its inside (X11's static gravity), so that is what is stored as well.
    double left() const override { return window_->geometry().x() * TwipsPerPixel; }
    void setLeft(double twips) override
    {
        window_->placeInside({int(twips / TwipsPerPixel), window_->geometry().y()});
    }
    double top() const override { return window_->geometry().y() * TwipsPerPixel; }
    void setTop(double twips) override
    {
        window_->placeInside({window_->geometry().x(), int(twips / TwipsPerPixel)});
    }
    void onUnload(ClickHandler handler) override
    {
        window_->unload = gated(gate_, std::move(handler));
    }

private:
    ZephrinWindow* window_;
    EventGate& gate_;
};
} // namespace

QtToolkit::QtToolkit(EventGate& gate, Dialogs* dialogs)
    : window_(std::make_unique<ZephrinWindow>()), injectedDialogs_(dialogs)
{
    window_->setWindowTitle(FormCaption);
    window_->setWindowIcon(windowIcon());
    // A narrow face keeps every caption whole inside the fixed layout.
    QFont font = window_->font();
    font.setFamilies({"Liberation Sans", "DejaVu Sans Condensed", "Sans Serif"});
    font.setPixelSize(11);
    window_->setFont(font);

    auto* client = new QWidget(window_.get());
    client->setObjectName("client");
    client->setFixedSize(ClientWidthTwips / TwipsPerPixel, ClientHeightTwips / TwipsPerPixel);
    window_->setCentralWidget(client);

    std::vector<std::pair<int, QWidget*>> tabOrder;
    for (const ControlLayout& c : formControls()) {
        QWidget* widget = nullptr;
        switch (c.kind) {
        case ControlKind::CommandButton: {
            auto* button = new CaptionButton(c.caption, client);
            buttons_[c.name] = std::make_unique<QtButton>(button, gate);
            widget = button;
            break;
        }
        case ControlKind::Label: {
            auto* label = new QLabel(c.caption, client);
            labels_[c.name] = std::make_unique<QtLabel>(label);
            widget = label;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(c.caption, client);
            edit->setReadOnly(true);
            textBoxes_[c.name] = std::make_unique<QtTextBox>(edit);
            widget = edit;
            break;
        }
        case ControlKind::RichTextBox: {
            auto* pane = new TerminalPane(client);
            QFont mono(QStringList{"DejaVu Sans Mono", "Monospace"});
            mono.setPixelSize(10);
            pane->setFont(mono);
            richTextBoxes_[c.name] = std::make_unique<QtRichTextBox>(pane, gate);
            widget = pane;
            break;
        }
        case ControlKind::Circle: {
            auto* lamp = new LampWidget(spokenFor(c.name)->name, client);
            shapes_[c.name] = std::make_unique<QtShape>(lamp);
            widget = lamp;
            break;
        }
        }
        widget->setObjectName(c.name);
        widget->setGeometry(pixels(c));
        if (c.toolTip)
            widget->setToolTip(c.toolTip);
        if (const Spoken* spoken = spokenFor(c.name); spoken && c.kind != ControlKind::Circle) {
            if (spoken->name)
                widget->setAccessibleName(spoken->name);
            if (spoken->description)
                widget->setAccessibleDescription(spoken->description);
        }
        if (c.tabIndex >= 0)
            tabOrder.emplace_back(c.tabIndex, widget);
    }
    std::sort(tabOrder.begin(), tabOrder.end());
    for (size_t i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);

    for (const MenuLayout& m : formMenus()) {
        QMenu* menu = window_->menuBar()->addMenu(m.caption);
        menu->setObjectName(m.name);
        menu->setToolTipsVisible(true);
        for (const MenuEntryLayout& e : m.entries) {
            if (e.separatorBefore)
                menu->addSeparator();
            QAction* action = menu->addAction(e.caption);
            action->setObjectName(e.name);
            menuEntries_[e.name] = std::make_unique<QtMenuEntry>(action, gate);
        }
    }
    window_->layout()->setSizeConstraint(QLayout::SetFixedSize);

    formWindow_ = std::make_unique<QtFormWindow>(window_.get(), gate);
    application_ = std::make_unique<QtApplication>(window_.get());
    dialogs_ = std::make_unique<QtDialogs>(window_.get(), *application_);
}

QtToolkit::~QtToolkit() = default;

QMainWindow* QtToolkit::mainWindow() const
{
    return window_.get();
}

void QtToolkit::endDialogs()
{
    static_cast<QtDialogs&>(*dialogs_).end();
}

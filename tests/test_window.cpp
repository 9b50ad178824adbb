// The real window on Qt's offscreen platform: controls, captions, menus, geometry and wiring.

#include "app/form_layout.h"
#include "app/frmZephrin.h"
#include "fakes.h"
#include "platform/qt/event_gate.h"
#include "platform/qt/qt_settings_store.h"
#include "platform/qt/qt_toolkit.h"
#include "platform/qt/widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <random>

namespace {

class WindowTest : public ::testing::Test {
protected:
    EventGate gate;
    FakePlatform fakes;
    QtToolkit toolkit{gate, &fakes.ui.dialog};
    FakeSerialPort& serial = fakes.serial;
    frmZephrin form{{toolkit, serial, fakes.socket, fakes.store, fakes.launcher}};
    QMainWindow* window = toolkit.mainWindow();

    void SetUp() override
    {
        form.Form_Load();
        window->show();
    }
    template <typename T> T* child(const char* name)
    {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QAction* action(const QString& name) { return window->findChild<QAction*>(name); }
};

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThemReadableAndInTabOrder)
{
    EXPECT_EQ(window->windowTitle(), "Zephrin");
    EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull());
    EXPECT_EQ(window->centralWidget()->size(), QSize(431, 145));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the window has a fixed size";

    // Every control where the layout puts it, with its caption readable at the fixed size: no
    // word split across lines.
    std::vector<std::pair<int, QString>> tabOrder;
    for (const ControlLayout& c : formControls()) {
        SCOPED_TRACE(c.name);
        QWidget* widget = child<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15));
        if (c.tabIndex >= 0)
            tabOrder.emplace_back(c.tabIndex, c.name);
        if (c.kind != ControlKind::CommandButton && c.kind != ControlKind::Label)
            continue;
        EXPECT_EQ(widget->property("text").toString(), c.caption);
        const QFontMetrics metrics(widget->font());
        const QRect area = widget->rect().adjusted(2, 1, -2, -1);
        const QRect needed = metrics.boundingRect(
            area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, c.caption);
        EXPECT_LE(needed.width(), area.width());
        EXPECT_LE(needed.height(), widget->height());
        for (const QString& word : QString(c.caption).remove('&').split(' '))
            EXPECT_LE(metrics.horizontalAdvance(word), area.width()) << word.toStdString();
    }
    // The focus moves in the order of the tab indexes.
    std::sort(tabOrder.begin(), tabOrder.end());
    QWidget* widget = child<QWidget>(tabOrder.front().second.toLatin1());
    for (size_t i = 1; i < tabOrder.size(); ++i) {
        widget = widget->nextInFocusChain();
        while (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_"))
            widget = widget->nextInFocusChain();
        EXPECT_EQ(widget->objectName(), tabOrder[i].second);
    }
    EXPECT_EQ(child<QWidget>("Exit")->toolTip(), "Click to Exit Program");
    EXPECT_EQ(child<QAbstractButton>("RxFocus2")->text(), "R&X Focus 2");
    for (const char* name : {"txtAux1", "txtAux2"}) {
        EXPECT_TRUE(child<QLineEdit>(name)->isVisible());
        EXPECT_TRUE(child<QLineEdit>(name)->text().isEmpty());
    }
    for (const char* name :
         {"shpFocus1", "shpFocus2", "shpRx1", "shpRx2", "shpRxS", "shpNetStat"}) {
        auto* lamp = dynamic_cast<LampWidget*>(child<QWidget>(name));
        ASSERT_NE(lamp, nullptr);
        EXPECT_EQ(lamp->fillStyle(), FillStyle::Transparent);
        EXPECT_EQ(lamp->fillColor(), Colour::Green);
    }
}

TEST_F(WindowTest, MenusHoldTheirEntriesInOrderUncheckedWithAccessKeys)
{
    QStringList titles;
    for (QAction* top : window->menuBar()->actions())
        titles << top->text();
    EXPECT_EQ(titles, (QStringList{"&Port", "Pr&otocol", "&Aux R1", "A&ux R2", "Re&name",
                                   "&Options", "&Help"}));
    const QList<QAction*> entries = window->findChildren<QAction*>(QRegularExpression("^mnu"));
    EXPECT_EQ(entries.size(), 18 + 2 + 16 + 16 + 31 + 3 + 3);
    for (QAction* entry : entries) {
        EXPECT_FALSE(entry->isChecked()) << entry->objectName().toStdString();
        EXPECT_TRUE(entry->isEnabled() && entry->isVisible());
        EXPECT_TRUE(entry->shortcut().isEmpty());
    }
    EXPECT_EQ(window->findChild<QMenu*>("mnuPorts")->actions().last()->text(), "T&CP Port 9875");
    EXPECT_EQ(action("mnuPortsCom9")->text(), "Com&9");
    EXPECT_EQ(action("mnuPortsCom10")->text(), "Com10");
    EXPECT_EQ(action("mnuAux215On")->text(), "Aux215 On");
    EXPECT_EQ(action("mnuRenameAux101")->text(), "Aux101 On");
    EXPECT_EQ(action("mnuPortsCom4")->toolTip(), "/dev/ttyS3");
}

TEST_F(WindowTest, ClicksReachTheHandlersAndTheHandlersSetTheMarks)
{
    action("mnuPortsCom2")->trigger();
    EXPECT_TRUE(action("mnuPortsCom2")->isChecked());
    action("mnuPortsCom2")->trigger(); // choosing the checked entry keeps it checked
    EXPECT_TRUE(action("mnuPortsCom2")->isChecked());
    action("mnuOTRSP")->trigger();
    EXPECT_TRUE(action("mnuOTRSP")->isChecked());
    EXPECT_TRUE(action("mnuAuxR1Off")->isChecked());
    serial.writes.clear();

    child<QAbstractButton>("RxFocusS")->click();
    EXPECT_EQ(serial.writes, QStringList{QString("RX1S\r")});
    EXPECT_EQ(dynamic_cast<LampWidget*>(child<QWidget>("shpRxS"))->fillStyle(), FillStyle::Solid);

    window->move(100, 60);
    window->close(); // the window's closed event is the form's unload
    EXPECT_FALSE(serial.open);
    EXPECT_EQ(fakes.store.setting("FormLeft"), "1500");
}

TEST_F(WindowTest, KeysTypedInThePaneGoToTheBoxAndEditThePane)
{
    action("mnuPortsCom2")->trigger();
    form.protocol = "2";
    auto* pane = child<TerminalPane>("txtTerm");
    const auto press = [&](int key, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(pane, &event);
    };
    press(Qt::Key_A, "a");
    press(Qt::Key_Space, " ");
    press(Qt::Key_Return, "\r");
    EXPECT_EQ(pane->text(), "a \r\n");
    press(Qt::Key_Backspace, "\b");
    EXPECT_EQ(pane->text(), "a ") << "one backspace takes the whole line end";
    press(Qt::Key_Enter, "\r");
    press(Qt::Key_Left, "");
    press(Qt::Key_Delete, "\x7f"); // X11's text for Delete is no character either
    EXPECT_EQ(serial.writes, (QStringList{"a", " ", "\r", "\b", "\r"}));
    EXPECT_EQ(pane->text(), "a \r\n");

    pane->setText("RX1\r\nTX2\r\n");
    pane->selectAll();
    pane->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "RX1\nTX2\n") << "plain line breaks";
}

// Bursts of any bytes, with every protocol value, through the real pane: nothing escapes the
// receive handler, the pane keeps to its trim rule and shows one screen character per character.
TEST_F(WindowTest, RandomBurstsKeepThePaneBoundedAndInStep)
{
    auto* pane = child<TerminalPane>("txtTerm");
    std::mt19937 random(11);
    const char* protocols[] = {"1", "2", "3", "", "x"};
    for (int round = 0; round < 1500; ++round) {
        form.protocol = protocols[round % 5];
        QString piece;
        const int length = int(random() % 400);
        for (int i = 0; i < length; ++i) {
            const int kind = int(random() % 12);
            piece += QChar(kind == 0 ? 8 : kind == 1 ? 13 : kind == 2 ? 10 : int(random() % 256));
        }
        ASSERT_NO_THROW(serial.receive(piece));
        ASSERT_LE(pane->text().size(), 16000 + 2 * 400);
        ASSERT_EQ(pane->document()->characterCount() - 1, pane->text().size());
        fakes.ui.dialog.boxes.clear();
    }
}

// A port or socket event posted while a handler and its modal box run waits for the handler to
// end, then all come in order without further input; an event never runs inside the call that
// posted it, and one whose source has gone is dropped.
TEST(EventGate, HoldsEventsWhileAHandlerRunsAndDeliversThemInOrderAfterIt)
{
    EventGate gate;
    QStringList seen;
    auto source = std::make_unique<QObject>();
    gate.post(source.get(), [&] { seen << "first"; });
    EXPECT_TRUE(seen.isEmpty());
    gate.run([&] {
        QCoreApplication::processEvents(); // a modal box's own event loop
        gate.post(source.get(), [&] { seen << "second"; });
        QCoreApplication::processEvents();
        EXPECT_TRUE(seen.isEmpty());
    });
    EXPECT_EQ(seen, (QStringList{"first", "second"}));

    gate.post(source.get(), [&] { seen << "gone"; });
    source.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), 2);
}

// A folder where the settings file should be: nothing can be read or saved, and the program
// says so once each way and goes on.
TEST(SettingsFile, ThatCannotBeReadOrWrittenIsReportedOnceAndNothingElseFails)
{
    QtSettingsStore settings;
    const QString file = settings.location();
    ASSERT_TRUE(QDir().mkpath(file));
    FakePlatform fakes;
    frmZephrin form({fakes.ui, fakes.serial, fakes.socket, settings, fakes.launcher});
    form.Form_Load();
    form.mnuPortsCom1_Click();
    form.mnuMK2R_Click();
    form.mnuInterlockingAux_Click();
    form.Exit_Click();
    QDir(file).removeRecursively();

    const auto& boxes = fakes.ui.dialog.boxes;
    ASSERT_EQ(boxes.size(), 2u) << fakes.ui.dialog.prompts().join("\n").toStdString();
    EXPECT_EQ(boxes[0].title, "Settings not read");
    EXPECT_EQ(boxes[1].title, "Settings not saved");
    for (const ShownBox& box : boxes) {
        EXPECT_TRUE(box.prompt.contains(file + ": a folder stands where the file should be"));
        EXPECT_EQ(box.style, MsgBoxStyle::Exclamation);
    }
    EXPECT_TRUE(boxes[1].prompt.contains("Changes last only for this session"));
    EXPECT_TRUE(fakes.ui.menuEntry("mnuPortsCom1").isChecked);
    EXPECT_TRUE(fakes.ui.menuEntry("mnuMK2R").isChecked);
    EXPECT_EQ(form.interlock, "1");
    EXPECT_TRUE(fakes.ui.app.ended);
}

} // namespace

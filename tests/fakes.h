// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Fakes of the platform that record what the form did: bytes written, boxes shown, settings
// stored, and how every control ended.

#include "app/form_layout.h"
#include "platform/controls.h"
#include "platform/launcher.h"
#include "platform/platform.h"
#include "platform/runtime_error.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/workers.h"

#include <QStringList>
#include <optional>
#include <map>
#include <memory>
#include <set>
#include <typeinfo>
#include <utility>
#include <vector>

// A menu entry, a button, a label, a lamp or a text box: what the form set, and its handler.
struct FakeControl : MenuEntry, CommandButton, Label, Shape, TextBox {
    bool isChecked = false, shown = true;
    QString content, tip, spoken;
    int style = FillStyle::Transparent;
    std::uint32_t colour = Colour::Green;
    ClickHandler click;
    bool checked() const override { return isChecked; }
    void setChecked(bool on) override { isChecked = on; }
    QString caption() const override { return content; }
    void setCaption(const QString& caption) override { content = caption; }
    void setToolTip(const QString& t) override { tip = t; }
    void onClick(ClickHandler h) override { click = std::move(h); }
    int fillStyle() const override { return style; }
    void setFillStyle(int s) override { style = s; }
    std::uint32_t fillColor() const override { return colour; }
    void setFillColor(std::uint32_t c) override { colour = c; }
    void setStateText(const QString& t) override { spoken = t; }
    bool lit() const { return style == FillStyle::Solid; }
    QString text() const override { return content; }
    void setText(const QString& t) override { content = t; }
    bool visible() const override { return shown; }
    void setVisible(bool v) override { shown = v; }
    void setBackColor(std::uint32_t) override {}
};

// Behaves as the terminal pane does: every change of the text raises the change handler at
// once; a caret before the start is taken as the start.
struct FakeRichTextBox : RichTextBox {
    QString content;
    int start = 0, length = 0;
    ClickHandler changeHandler;
    std::function<void(int)> keyHandler;

    QString text() const override { return content; }
    void setText(const QString& t) override
    {
        content = t;
        start = length = 0;
        changeHandler();
    }
    int selStart() const override { return start; }
    void setSelStart(int p) override
    {
        start = std::clamp(p, 0, int(content.size()));
        length = 0;
    }
    int selLength() const override { return length; }
    void setSelLength(int l) override { length = std::clamp(l, 0, int(content.size()) - start); }
    void setSelText(const QString& t) override
    {
        content.replace(start, length, t);
        start += int(t.size());
        length = 0;
        changeHandler();
    }
    void onChange(ClickHandler h) override { changeHandler = std::move(h); }
    void onKeyPress(std::function<void(int)> h) override { keyHandler = std::move(h); }
};

struct FakeWindow : FormWindow {
    double x = -1, y = -1; // until placed: where the window manager puts it
    ClickHandler unload;
    double left() const override { return x; }
    void setLeft(double t) override { x = t; }
    double top() const override { return y; }
    void setTop(double t) override { y = t; }
    void onUnload(ClickHandler h) override { unload = std::move(h); }
};

struct FakeApplication : Application {
    bool ended = false;
    QString title() const override { return AppName; }
    void setTitle(const QString&) override {}
    QString path() const override { return "/opt/zephrin"; }
    void end() override { ended = true; }
};

struct ShownBox {
    QString prompt, title;
    int style;
};

struct FakeDialogs : Dialogs {
    std::vector<ShownBox> boxes;
    std::function<void()> whileOpen; // what happens while the next box is open
    int yesNoAnswer = MsgBoxAnswer::No;
    int msgBox(const QString& prompt, int style, const QString& title) override
    {
        boxes.push_back({prompt, title, style});
        if (auto during = std::exchange(whileOpen, {}))
            during();
        return (style & 7) == MsgBoxStyle::YesNo ? yesNoAnswer : MsgBoxAnswer::Ok;
    }
    QList<std::optional<QString>> answers; // to the next input boxes, in order
    std::optional<QString> inputBox(const QString& prompt, const QString& title,
                                    const QString& /*proposal*/) override
    {
        boxes.push_back({prompt, title, -1});
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    QList<int> choices; // the items chosen in the next lists, in order; none: cancelled
    std::optional<int> chooseItem(const QString& prompt, const QString& title,
                                  const QStringList& items) override
    {
        boxes.push_back({prompt + "\n" + items.join("\n"), title, -2});
        return choices.isEmpty() ? std::nullopt : std::optional(choices.takeFirst());
    }
    QStringList prompts() const
    {
        QStringList all;
        for (const auto& b : boxes)
            all << b.prompt;
        return all;
    }
};

// Controls are made when the form first asks for them; menu entries start with the captions of
// the window's design.
struct FakeToolkit : Toolkit {
    std::map<QString, std::shared_ptr<void>> controls; // by kind and name
    FakeWindow win;
    FakeApplication app;
    FakeDialogs dialog;

    FakeToolkit()
    {
        for (const MenuLayout& m : formMenus())
            for (const MenuEntryLayout& e : m.entries)
                menuEntry(e.name).content = e.caption;
    }
    template <typename T> T& get(const QString& name)
    {
        auto& slot = controls[typeid(T).name() + name];
        if (!slot)
            slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }
    FakeControl& menuEntry(const QString& n) override { return get<FakeControl>(n); }
    FakeControl& button(const QString& n) override { return get<FakeControl>(n); }
    FakeControl& label(const QString& n) override { return get<FakeControl>(n); }
    FakeControl& shape(const QString& n) override { return get<FakeControl>(n); }
    FakeControl& textBox(const QString& n) override { return get<FakeControl>(n); }
    FakeRichTextBox& richTextBox(const QString& n) override { return get<FakeRichTextBox>(n); }
    FormWindow& window() override { return win; }
    Application& application() override { return app; }
    Dialogs& dialogs() override { return dialog; }
};

struct FakeSettingsStore : SettingsStore {
    std::map<QString, QString> values; // "application/section/key"
    QString getSetting(const QString& a, const QString& s, const QString& k,
                       const QString& def) const override
    {
        const auto it = values.find(a + "/" + s + "/" + k);
        return it == values.end() ? def : it->second;
    }
    void saveSetting(const QString& a, const QString& s, const QString& k,
                     const QString& v) override
    {
        values[a + "/" + s + "/" + k] = v;
    }
    void saveSettings(const QString& a, const QString& s,
                      const std::vector<std::pair<QString, QString>>& kv) override
    {
        for (const auto& [k, v] : kv)
            saveSetting(a, s, k, v);
    }
    QString location() const override { return "/home/op/.config/Zephrin/Zephrin.conf"; }
    QString readProblem() const override { return {}; }
    QString setting(const QString& key) const { return getSetting(AppName, "settings", key, {}); }
};

struct FakeSerialPort : SerialPort {
    int number = 1;
    bool open = false;
    bool dtr = true, rts = true; // a port opens with its modem lines on
    QString lineSettings;
    QStringList writes;
    QString waiting;
    int event = 0;
    std::function<void()> handler;
    std::set<int> missing; // port numbers whose device does not exist

    void setCommPort(int n) override { number = n; }
    int commPort() const override { return number; }
    void setPortOpen(bool o) override
    {
        if (o && missing.count(number))
            throw RuntimeError(ErrorNumber::DeviceMissing, "Device missing");
        open = o;
    }
    bool portOpen() const override { return open; }
    void setSettings(const QString& s) override { lineSettings = s; }
    QString settings() const override { return lineSettings; }
    void setDTREnable(bool on) override { dtr = on; }
    void setRTSEnable(bool on) override { rts = on; }
    void setRThreshold(int) override {}
    void output(const QString& text) override
    {
        if (!open)
            throw RuntimeError(ErrorNumber::PortNotOpen,
                               "Operation valid only when the port is open");
        writes << text;
    }
    QString input() override { return std::exchange(waiting, {}); }
    int inBufferCount() const override { return 0; }
    int commEvent() const override { return event; }
    void onComm(std::function<void()> h) override { handler = std::move(h); }
    std::vector<PresentDevice> present;
    std::vector<PresentDevice> presentDevices() const override { return present; }

    // The box sends text: the receive event runs with it waiting.
    void receive(const QString& text, int code = EventReceive)
    {
        waiting += text;
        event = code;
        handler();
    }
};

struct FakeSocket : Socket {
    int currentState = Closed;
    QString host;
    int port = 0;
    std::optional<QByteArray> preSharedKey; // a secure connection's
    QStringList sent;
    QString waiting;
    Events events;
    void connectTo(const QString& h, int p) override
    {
        host = h;
        port = p;
        preSharedKey.reset();
        currentState = 6;
    }
    void connectSecurely(const QString& h, int p, const QByteArray& key) override
    {
        connectTo(h, p);
        preSharedKey = key;
    }
    void close() override { currentState = Closed; }
    int state() const override { return currentState; }
    void sendData(const QString& text) override
    {
        if (currentState != Connected)
            throw RuntimeError(ErrorNumber::WrongSocketState, "Wrong protocol or connection state");
        sent << text;
    }
    QString getData() override { return std::exchange(waiting, {}); }
    void onEvents(Events e) override { events = std::move(e); }
};

struct FakeLauncher : Launcher {
    QStringList opened;
    bool failing = false;
    void openDocument(const QString& path) override
    {
        if (failing)
            throw RuntimeError(ErrorNumber::FileNotFound, "File not found: " + path);
        opened << path;
    }
};

// A whole platform of fakes, handed to the form as one bundle.
// Jobs wait until the test finishes them, in any order it likes.
struct FakeWorkers : Workers {
    std::vector<std::pair<std::function<void()>, std::function<void()>>> queued;
    void start(std::function<void()> job, std::function<void()> done) override
    {
        queued.emplace_back(std::move(job), std::move(done));
    }
    void startLater(int, std::function<void()> job, std::function<void()> done) override
    {
        start(std::move(job), std::move(done));
    }
    // Runs the queued job at index, then its completion.
    void finish(std::size_t index)
    {
        auto [job, done] = std::move(queued.at(index));
        queued.erase(queued.begin() + std::ptrdiff_t(index));
        job();
        done();
    }
    void finishAll()
    {
        while (!queued.empty())
            finish(0);
    }
};

struct FakePlatform {
    FakeToolkit ui;
    FakeSerialPort serial;
    FakeSocket socket;
    FakeSettingsStore store;
    FakeLauncher launcher;
    FakeWorkers workers;
    Platform bundle() { return {ui, serial, socket, store, launcher, workers}; }
};

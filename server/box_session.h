// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one owner of the box: its link, the lines that wait for it, the open query and what the
// box's state is. Senders hand it whole command lines; it writes them to the box at the line's
// own pace, one query open at a time, hands each answer to its asker, reports every state the
// box was sent or says it is in to the windows, and passes the box's events on to the sources
// that switched them on. When the box comes back after it was gone, the session puts it back in
// the last state it knew before any source's line goes.

#include "box_link.h"
#include "box_state.h"

#include <QElapsedTimer>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// What the session needs of whoever hands it lines: a name and a share of the log, and the way
// back for its answers and for the box's events it switched on for itself.
class Sender {
public:
    virtual const QString& name() const = 0;
    virtual void log(const QString& line) = 0;
    // False when nobody is there to read it and it was dropped.
    virtual bool deliver(const QByteArray& bytes) = 0;

    bool transmitEvents = false;
    bool receiveEvents = false;

protected:
    ~Sender() = default;
};

class BoxSession {
public:
    // 9600 baud, 8N1: ten bit times a character.
    static constexpr qint64 CharacterNs = 1'041'667;
    // Lines that wait for the box per source, besides the one state command per output that
    // each source may have waiting.
    static constexpr std::size_t MaxWaitingLines = 64;
    // A box may not answer a query at all; another query waits no longer than this.
    static constexpr int QueryWaitMs = 200;
    // An answer without its carriage return is whole once the box has been silent this long.
    static constexpr int AnswerQuietMs = 100;
    // Longer than any answer of a box.
    static constexpr qsizetype MaxAnswerBytes = 256;
    // A box whose output buffer holds this much is not reading: lines wait here meanwhile.
    static constexpr qint64 MaxUnwrittenBytes = 256;

    BoxSession(BoxLink& box, Protocol commandSet);
    ~BoxSession();
    BoxSession(const BoxSession&) = delete;
    BoxSession& operator=(const BoxSession&) = delete;

    Protocol commandSet() const { return set_; }
    // True for a line that the box's set takes, itself or translated from the other set.
    bool isCommand(QByteArrayView line) const { return lineForBox(set_, line).has_value(); }
    // A whole command line of a source, without its carriage return; see isCommand().
    void take(Sender& from, QByteArrayView line);
    // False while the source's lines fill its share of the queue: read it no further until
    // onRoom.
    bool hasRoom(const Sender& from) const;
    std::function<void()> onRoom;

    const BoxState& state() const { return state_; }
    // Every known output as a window's token: for a window that joins.
    std::vector<QByteArray> stateReports() const;
    // A state report for every window: "TX2", "RX1S", "AUX104" (or the MK2R forms).
    std::function<void(const QByteArray& token, Output output)> onReport;

    // Senders say when they come and go; what a gone source left waiting still goes to the box,
    // and its answers are dropped.
    void attach(Sender& source);
    void detach(Sender& source);

private:
    struct Line {
        QByteArray text; // in the box's set, without its carriage return
        bool query = false;
        std::optional<Output> output; // the output a state command sets
        bool onlyIfUnknown = false;   // the session's own query for an output it does not know
    };
    struct Lane {
        Sender* source = nullptr; // none once it has gone
        std::deque<Line> lines;
    };
    struct OpenQuery {
        Sender* asker = nullptr; // none for the session's own, or a gone source's
        bool own = false;
        QByteArray query;
    };

    static Line lineOf(QByteArray text);
    void queue(Lane& lane, Line line);
    Lane* laneOf(const Sender& source);
    void opened(bool again);
    void lost();
    void feed();
    bool eligible(const Line& line) const;
    void write(Sender* from, const Line& line, bool own = false);
    void takeBytes(const QByteArray& bytes);
    void takeBoxLine(const QByteArray& line);
    void takeEvent(const QByteArray& event);
    void takeAnswer(const QByteArray& answer);
    void queryUnanswered();
    void setState(StateChange change, bool reportAlways);
    static bool answers(QByteArrayView query, QByteArrayView line);

    BoxLink& box_;
    Protocol set_;
    BoxState state_;
    std::vector<Sender*> senders_;
    std::deque<Line> own_; // the session's own lines: restore, events on, name; before any source's
    std::vector<Lane> lanes_;
    std::size_t nextLane_ = 0; // round robin
    std::optional<OpenQuery> query_;
    QTimer queryWait_;
    QByteArray incoming_; // what the box sent since its last line end
    QTimer answerQuiet_;
    // The line is busy until then: lines wait that come faster than it carries them.
    QElapsedTimer clock_;
    qint64 lineFreeAtNs_ = 0;
    QTimer pace_;
};

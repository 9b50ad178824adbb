// SPDX-License-Identifier: GPL-3.0-or-later
#include "box_session.h"

#include "log.h"

#include <algorithm>

using serverlog::shown;

namespace {

QString by(const Sender* from)
{
    return from ? " from " + from->name() : QString();
}

bool startsWithAny(QByteArrayView line, std::initializer_list<const char*> starts)
{
    return std::any_of(starts.begin(), starts.end(),
                       [&](const char* start) { return line.startsWith(start); });
}

} // namespace

BoxSession::BoxSession(BoxLink& box, Protocol commandSet) : box_(box), set_(commandSet)
{
    clock_.start();
    queryWait_.setSingleShot(true);
    queryWait_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&queryWait_, &QTimer::timeout, [this] { queryUnanswered(); });
    answerQuiet_.setSingleShot(true);
    answerQuiet_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&answerQuiet_, &QTimer::timeout, [this] {
        if (!incoming_.isEmpty())
            takeBoxLine(std::exchange(incoming_, {}));
    });
    pace_.setSingleShot(true);
    pace_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pace_, &QTimer::timeout, [this] { feed(); });
    box_.onAnswer = [this](const QByteArray& bytes) { takeBytes(bytes); };
    box_.onOpened = [this](bool again) { opened(again); };
    box_.onLost = [this] { lost(); };
    if (box_.isOpen())
        opened(false);
}

BoxSession::~BoxSession()
{
    box_.onAnswer = nullptr;
    box_.onOpened = nullptr;
    box_.onLost = nullptr;
}

void BoxSession::attach(Sender& source)
{
    senders_.push_back(&source);
}

void BoxSession::detach(Sender& source)
{
    std::erase(senders_, &source);
    for (Lane& lane : lanes_)
        if (lane.source == &source)
            lane.source = nullptr;
    if (query_ && query_->asker == &source)
        query_->asker = nullptr;
}

std::vector<QByteArray> BoxSession::stateReports() const
{
    std::vector<QByteArray> tokens;
    for (const StateChange& known : state_.known())
        tokens.push_back(reportToken(set_, known));
    return tokens;
}

BoxSession::Line BoxSession::lineOf(QByteArray text)
{
    Line line;
    line.query = isQueryLine(text);
    if (const auto change = readStateChange(text))
        line.output = change->output;
    line.text = std::move(text);
    return line;
}

BoxSession::Lane* BoxSession::laneOf(const Sender& source)
{
    const auto lane = std::find_if(lanes_.begin(), lanes_.end(),
                                   [&](const Lane& l) { return l.source == &source; });
    return lane == lanes_.end() ? nullptr : &*lane;
}

bool BoxSession::hasRoom(const Sender& from) const
{
    const auto lane = std::find_if(lanes_.begin(), lanes_.end(),
                                   [&](const Lane& l) { return l.source == &from; });
    return lane == lanes_.end() || lane->lines.size() < MaxWaitingLines;
}

void BoxSession::take(Sender& from, QByteArrayView given)
{
    const std::optional<QByteArray> text = lineForBox(set_, given);
    if (!text)
        return;
    // The events stay on at the box; each source has its own switch here, and is told the
    // state at once, as a box tells the host that switches its events on.
    const bool transmit = *text == "ETX1" || *text == "ETX0";
    if (transmit || *text == "ERX1" || *text == "ERX0") {
        const bool on = text->endsWith('1');
        (transmit ? from.transmitEvents : from.receiveEvents) = on;
        from.log(QString("%1: box events of the %2 focus switched %3 for it")
                     .arg(from.name(), transmit ? "transmit" : "receive", on ? "on" : "off"));
        const auto value = state_.of(transmit ? Output::Transmit : Output::Receive);
        if (on && value)
            from.deliver(
                "$" + stateLine(set_, {transmit ? Output::Transmit : Output::Receive, *value}) +
                '\r');
        return;
    }
    if (!box_.isOpen()) {
        from.log(QString("box is gone: \"%1\" not sent%2").arg(shown(*text + '\r'), by(&from)));
        return;
    }
    if (*text != given)
        from.log(QString("%1: \"%2\" is \"%3\" in the box's command set")
                     .arg(from.name(), shown(given.toByteArray()), shown(*text)));
    Lane* lane = laneOf(from);
    if (!lane) {
        lanes_.push_back({&from, {}});
        lane = &lanes_.back();
    }
    queue(*lane, lineOf(*text));
    feed();
}

// A source's state command makes its waiting command for the same output needless: the box ends
// where the source left it. A query keeps what came before it, which its answer may tell.
void BoxSession::queue(Lane& lane, Line line)
{
    if (line.output) {
        for (auto waiting = lane.lines.rbegin(); waiting != lane.lines.rend() && !waiting->query;
             ++waiting)
            if (waiting->output == line.output) {
                lane.lines.erase(std::next(waiting).base());
                break;
            }
    }
    if (lane.lines.size() >= MaxWaitingLines && !line.output) {
        if (lane.source)
            lane.source->log(QString("%1: \"%2\" dropped: %3 of its lines wait for the box")
                                 .arg(lane.source->name(), shown(line.text))
                                 .arg(MaxWaitingLines));
        return;
    }
    lane.lines.push_back(std::move(line));
}

// At every open the box's events go on (a box with events then reports its state at once) and
// its name is asked; after it was gone, it is first put back where it was. What is still not
// known after the events' first reports is asked.
void BoxSession::opened(bool again)
{
    incoming_.clear();
    answerQuiet_.stop();
    queryWait_.stop();
    query_.reset();
    lineFreeAtNs_ = 0;
    own_.clear();
    if (again)
        for (const StateChange& known : state_.known())
            own_.push_back(lineOf(stateLine(set_, known)));
    if (set_ == Protocol::Otrsp) {
        for (const char* text : {"ETX1", "ERX1", "?NAME"})
            own_.push_back(lineOf(text));
        for (const Query query : {Query::Tx, Query::Rx}) {
            Line ask = lineOf(queryCommand(query, set_).toLatin1());
            ask.output = query == Query::Tx ? Output::Transmit : Output::Receive;
            ask.onlyIfUnknown = true;
            own_.push_back(ask);
        }
    }
    feed();
}

void BoxSession::lost()
{
    std::size_t dropped = own_.size();
    own_.clear();
    for (const Lane& lane : lanes_)
        dropped += lane.lines.size();
    lanes_.clear();
    if (dropped)
        serverlog::event(QString("box is gone: %1 waiting lines not sent").arg(dropped));
    query_.reset();
    queryWait_.stop();
    pace_.stop();
    incoming_.clear();
    answerQuiet_.stop();
    if (onRoom)
        onRoom();
}

bool BoxSession::eligible(const Line& line) const
{
    return !line.query || !query_;
}

// Whole lines at the line's pace: one goes at once when the line is idle. The session's own
// lines go first; then each source in turn, so that one source's queries hold up no other
// source's commands.
void BoxSession::feed()
{
    while (box_.isOpen()) {
        const qint64 now = clock_.nsecsElapsed();
        if (now < lineFreeAtNs_ || box_.unwritten() > MaxUnwrittenBytes) {
            const qint64 waitNs = std::max<qint64>(lineFreeAtNs_ - now, 1'000'000);
            if (!pace_.isActive())
                pace_.start(int((waitNs + 999'999) / 1'000'000));
            return;
        }
        while (!own_.empty() && own_.front().onlyIfUnknown &&
               state_.of(*own_.front().output))
            own_.pop_front();
        if (!own_.empty() && eligible(own_.front())) {
            const Line line = std::move(own_.front());
            own_.pop_front();
            write(nullptr, line, true);
            continue;
        }
        Lane* chosen = nullptr;
        for (std::size_t tried = 0; tried < lanes_.size() && !chosen; ++tried) {
            Lane& lane = lanes_[(nextLane_ + tried) % lanes_.size()];
            if (!lane.lines.empty() && eligible(lane.lines.front())) {
                chosen = &lane;
                nextLane_ = (nextLane_ + tried + 1) % lanes_.size();
            }
        }
        if (!chosen)
            return;
        const bool wasFull = chosen->lines.size() >= MaxWaitingLines;
        const Line line = std::move(chosen->lines.front());
        chosen->lines.pop_front();
        Sender* from = chosen->source;
        std::erase_if(lanes_, [](const Lane& lane) { return lane.lines.empty(); });
        write(from, line);
        if (wasFull && onRoom)
            onRoom();
    }
}

void BoxSession::write(Sender* from, const Line& line, bool own)
{
    const QByteArray text = line.text + '\r';
    if (!box_.write(text)) {
        serverlog::event(QString("box is gone: \"%1\" not sent%2").arg(shown(text), by(from)));
        return;
    }
    lineFreeAtNs_ = clock_.nsecsElapsed() + CharacterNs * text.size();
    serverlog::event(QString("to the box: \"%1\"%2").arg(shown(text), by(from)));
    if (line.query) {
        query_ = OpenQuery{from, own, line.text};
        queryWait_.start(QueryWaitMs);
    } else if (const auto change = readStateChange(line.text)) {
        setState(*change, true);
    }
}

void BoxSession::setState(StateChange change, bool reportAlways)
{
    if (state_.set(change) || reportAlways)
        if (onReport)
            onReport(reportToken(set_, change), change.output);
}

// A line ends at its carriage return, and a line feed after it belongs to it. An event begins a
// line of its own even where the line before it lacked its end, as one box's answers do.
void BoxSession::takeBytes(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c == '\n' && incoming_.isEmpty())
            continue;
        if (c == '$' && !incoming_.isEmpty())
            takeBoxLine(std::exchange(incoming_, {}));
        if (c == '\r') {
            takeBoxLine(std::exchange(incoming_, {}));
            continue;
        }
        incoming_ += c;
        if (incoming_.size() >= MaxAnswerBytes)
            takeBoxLine(std::exchange(incoming_, {}));
    }
    if (incoming_.isEmpty())
        answerQuiet_.stop();
    else
        answerQuiet_.start(AnswerQuietMs);
}

void BoxSession::takeBoxLine(const QByteArray& line)
{
    if (line.startsWith('$'))
        takeEvent(line);
    else if (query_ && answers(query_->query, line))
        takeAnswer(line);
    else if (!line.isEmpty())
        serverlog::event(QString("box said \"%1\" unasked, or after its query was given up: "
                                 "dropped")
                             .arg(shown(line)));
}

void BoxSession::takeEvent(const QByteArray& event)
{
    const QByteArray word = event.mid(1);
    const bool transmit = word.startsWith("TX") || word == "AB";
    if (word == "AB")
        serverlog::warning("zephrin-server: warning: the box says the transmit focus changed "
                           "while transmitting ($AB)");
    else
        serverlog::event(QString("box event \"%1\"").arg(shown(event)));
    if (const auto change = readStateChange(word))
        setState(*change, false);
    for (Sender* source : std::vector<Sender*>(senders_))
        if (transmit ? source->transmitEvents
                     : word.startsWith("RX") && source->receiveEvents)
            source->deliver(event + '\r');
}

void BoxSession::takeAnswer(const QByteArray& answer)
{
    const OpenQuery asked = std::move(*query_);
    query_.reset();
    queryWait_.stop();
    if (asked.query == "?NAME") {
        state_.name = QString::fromLatin1(answer.startsWith("NAME") ? answer.mid(4) : answer);
        serverlog::event(QString("the box's name is \"%1\"").arg(shown(state_.name.toLatin1())));
    } else if (asked.query == "?TX" || asked.query == "?RX" || asked.query.startsWith("?AUX")) {
        if (const auto change = readStateChange(answer))
            setState(*change, false);
    }
    if (asked.asker) {
        const bool delivered = asked.asker->deliver(answer + '\r');
        asked.asker->log(QString("answer \"%1\" %2 %3")
                             .arg(shown(answer + '\r'),
                                  delivered ? "sent to" : "dropped, nobody reads",
                                  asked.asker->name()));
    } else if (!asked.own) {
        serverlog::event(
            QString("box answer \"%1\" dropped: its asker has gone").arg(shown(answer + '\r')));
    }
    feed();
}

void BoxSession::queryUnanswered()
{
    if (!query_)
        return;
    serverlog::event(QString("box gave no answer to \"%1\" in %2 ms")
                         .arg(shown(query_->query))
                         .arg(QueryWaitMs));
    query_.reset();
    feed();
}

// The answer to an open query: its own words ("TX2" to "?TX", "AUX14" to "?AUX1", "NAME..." to
// "?NAME"), an unknown query echoed, or a name without its prefix, as one box answers.
bool BoxSession::answers(QByteArrayView query, QByteArrayView line)
{
    if (!query.startsWith('?'))
        return true; // MK2R's version query: whatever the box says
    const QByteArrayView asked = query.sliced(1);
    if (line == query || (!asked.isEmpty() && line.startsWith(asked)))
        return true;
    return asked == "NAME" && !startsWithAny(line, {"TX", "RX", "AUX", "FW", "?", "CR"});
}

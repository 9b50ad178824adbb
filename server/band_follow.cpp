// SPDX-License-Identifier: GPL-3.0-or-later
#include "band_follow.h"

#include "box_session.h"
#include "log.h"

BandFollow::BandFollow(BoxSession& session, int radio, const BandTable& table, const QString& host,
                       quint16 port, int pollMs)
    : Source(session, QString("band-follow of radio %1").arg(radio)), radio_(radio),
      table_(table), link_(QString("radio %1").arg(radio), host, port, pollMs)
{
    link_.onFrequency = [this](qint64 hz) { follow(hz); };
}

void BandFollow::follow(qint64 hz)
{
    const BandTable::Band* band = table_.bandOf(hz);
    const QString seen = band ? band->name : QString("");
    if (band_ == seen)
        return;
    band_ = seen;
    if (!band && !table_.switchesOffOutside()) {
        log(QString("%1: %2 Hz is outside every band; the aux output stays").arg(name()).arg(hz));
        return;
    }
    const int value = band ? band->aux[radio_ - 1] : 0;
    log(QString("%1: %2 Hz is %3: aux %4")
            .arg(name())
            .arg(hz)
            .arg(band ? "the " + band->name + " band" : QString("outside every band"))
            .arg(value));
    takeText(auxCommand(session_.commandSet(), radio_, value).toLatin1() + '\r');
}

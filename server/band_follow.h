// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One radio's aux output following its band: when the frequency that rigctld reports moves into
// another band of the table, the radio's aux command for that band goes to the box session like
// any source's. Only a change of band sends: a window's or a logger's own aux command for the
// radio stands until the band changes again.

#include "band_table.h"
#include "rig_link.h"
#include "source.h"

class BandFollow : public Source {
public:
    // radio: 1 or 2.
    BandFollow(BoxSession& session, int radio, const BandTable& table, const QString& host,
               quint16 port, int pollMs);

    bool deliver(const QByteArray&) override { return false; } // it asks nothing

private:
    void follow(qint64 hz);

    int radio_;
    const BandTable& table_;
    RigLink link_;
    std::optional<QString> band_; // the band last seen, empty outside every band; none at first
};

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which band a radio's frequency is in, and the aux value each radio's output takes there: the
// band decoders, filters and antenna switches on the box's aux outputs follow it. Read from a
// text file, one band a line:
//
//     # name  lower Hz  upper Hz  radio 1  radio 2
//     40m     7000000   7300000   3        3
//     outside keep
//
// "outside keep" leaves an output as it is for a frequency outside every band (the default),
// "outside off" switches it off (0).

#include <QString>
#include <optional>
#include <vector>

class BandTable {
public:
    struct Band {
        QString name;
        qint64 lower = 0, upper = 0; // Hz, both inside the band
        int aux[2] = {0, 0};         // by radio
    };

    // The widest band edges of the three IARU regions, 160 m to 6 m, with the common BCD
    // band-data values (160 m 1 ... 6 m 10; 60 m 0).
    static BandTable standard();
    // None, with "FILE:LINE: what is wrong", when the file cannot be read or a line is bad.
    static std::optional<BandTable> read(const QString& path, QString* failure);
    // The same from text, for a file named `name`.
    static std::optional<BandTable> parse(const QString& text, const QString& name,
                                          QString* failure);

    // The band that holds the frequency; none outside every band.
    const Band* bandOf(qint64 hz) const;
    bool switchesOffOutside() const { return offOutside_; }
    const std::vector<Band>& bands() const { return bands_; }

private:
    std::vector<Band> bands_;
    bool offOutside_ = false;
};

// SPDX-License-Identifier: GPL-3.0-or-later
#include "band_table.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int MaxAux = 15;

// Read whole: the decimal digits of a value, nothing else around them.
std::optional<qint64> number(const QString& text, qint64 most)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0 || value > most || text.startsWith('+'))
        return std::nullopt;
    return value;
}

} // namespace

BandTable BandTable::standard()
{
    BandTable table;
    table.bands_ = {
        {"160m", 1'800'000, 2'000'000, {1, 1}},     {"80m", 3'500'000, 4'000'000, {2, 2}},
        {"60m", 5'250'000, 5'450'000, {0, 0}},      {"40m", 7'000'000, 7'300'000, {3, 3}},
        {"30m", 10'100'000, 10'150'000, {4, 4}},    {"20m", 14'000'000, 14'350'000, {5, 5}},
        {"17m", 18'068'000, 18'168'000, {6, 6}},    {"15m", 21'000'000, 21'450'000, {7, 7}},
        {"12m", 24'890'000, 24'990'000, {8, 8}},    {"10m", 28'000'000, 29'700'000, {9, 9}},
        {"6m", 50'000'000, 54'000'000, {10, 10}},
    };
    return table;
}

std::optional<BandTable> BandTable::read(const QString& path, QString* failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *failure = QString("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parse(QString::fromUtf8(file.readAll()), path, failure);
}

std::optional<BandTable> BandTable::parse(const QString& text, const QString& name,
                                          QString* failure)
{
    BandTable table;
    const QStringList lines = text.split('\n');
    for (qsizetype at = 0; at < lines.size(); ++at) {
        const auto wrong = [&](const QString& what) {
            *failure = QString("%1:%2: %3").arg(name).arg(at + 1).arg(what);
            return std::nullopt;
        };
        const QStringList words = lines[at]
                                      .left(lines[at].indexOf('#'))
                                      .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        if (words[0] == "outside") {
            if (words.size() != 2 || (words[1] != "keep" && words[1] != "off"))
                return wrong("\"outside\" takes keep or off");
            table.offOutside_ = words[1] == "off";
            continue;
        }
        if (words.size() != 5)
            return wrong("a band has a name, its lower and upper edge in Hz, and the aux value "
                         "for radio 1 and for radio 2");
        const auto lower = number(words[1], std::numeric_limits<qint64>::max());
        const auto upper = number(words[2], std::numeric_limits<qint64>::max());
        if (!lower || !upper || *lower > *upper)
            return wrong(QString("the edges %1 and %2 are no range of frequencies in Hz")
                             .arg(words[1], words[2]));
        const auto aux1 = number(words[3], MaxAux);
        const auto aux2 = number(words[4], MaxAux);
        if (!aux1 || !aux2)
            return wrong(QString("the aux values %1 and %2 are not both 0 to %3")
                             .arg(words[3], words[4])
                             .arg(MaxAux));
        for (const Band& band : table.bands_)
            if (*lower <= band.upper && band.lower <= *upper)
                return wrong(QString("%1 overlaps %2").arg(words[0], band.name));
        table.bands_.push_back({words[0], *lower, *upper, {int(*aux1), int(*aux2)}});
    }
    return table;
}

const BandTable::Band* BandTable::bandOf(qint64 hz) const
{
    for (const Band& band : bands_)
        if (band.lower <= hz && hz <= band.upper)
            return &band;
    return nullptr;
}

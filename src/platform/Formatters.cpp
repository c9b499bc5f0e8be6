#include "platform/Formatters.h"

#include <array>
#include <cmath>
#include <limits>

namespace vantrel {

namespace {

struct Unit {
    const char* name;
    int fractionDigits;
};

constexpr std::array<Unit, 6> decimalUnits{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};

QString trimmedNumber(double value, int fractionDigits)
{
    QString text = QString::number(value, 'f', fractionDigits);
    if (fractionDigits > 0) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text;
}

} // namespace

QString Formatters::fileByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const bool negative = bytes < 0;
    // The magnitude of the most negative value still fits an unsigned 64-bit number.
    const quint64 magnitude = negative ? quint64(0) - quint64(bytes) : quint64(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();
    if (magnitude < 1000)
        return sign + QString::number(magnitude) + (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));

    double value = static_cast<double>(magnitude) / 1000.0;
    for (std::size_t i = 0; i < decimalUnits.size(); ++i) {
        const Unit& unit = decimalUnits[i];
        const double scale = std::pow(10.0, unit.fractionDigits);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes round to 1,000 KB, which is written as 1 MB.
        if (rounded < 1000.0 || i + 1 == decimalUnits.size())
            return sign + trimmedNumber(rounded, unit.fractionDigits) + u' ' + QLatin1String(unit.name);
        value /= 1000.0;
    }
    return {};
}

QString Formatters::abbreviatedDuration(double seconds, int maximumUnitCount)
{
    if (!std::isfinite(seconds) || seconds < 0.0 || maximumUnitCount < 1)
        return {};
    if (seconds > static_cast<double>(std::numeric_limits<qint64>::max() / 2))
        return {};
    constexpr std::array<qint64, 3> unitSeconds{3600, 60, 1};
    constexpr std::array<char, 3> unitNames{'h', 'm', 's'};

    // The first unit the whole value reaches leads; the last unit allowed is rounded.
    const qint64 whole = static_cast<qint64>(std::round(seconds));
    std::size_t first = unitSeconds.size() - 1;
    for (std::size_t i = 0; i < unitSeconds.size(); ++i) {
        if (whole >= unitSeconds[i]) {
            first = i;
            break;
        }
    }
    const std::size_t last = std::min(unitSeconds.size() - 1, first + std::size_t(maximumUnitCount) - 1);
    qint64 remaining = static_cast<qint64>(std::llround(seconds / double(unitSeconds[last]))) * unitSeconds[last];

    QStringList parts;
    for (std::size_t i = first; i <= last; ++i) {
        const qint64 count = remaining / unitSeconds[i];
        remaining -= count * unitSeconds[i];
        if (count != 0)
            parts << QString::number(count) + QLatin1Char(unitNames[i]);
    }
    if (parts.isEmpty())
        return QStringLiteral("0") + QLatin1Char(unitNames[last]);
    return parts.join(u' ');
}

} // namespace vantrel

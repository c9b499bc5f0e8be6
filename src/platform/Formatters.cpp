#include "platform/Formatters.h"

#include <QLocale>
#include <QTimeZone>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

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

enum class CalendarUnit { year, month, week, day, hour, minute, second };

struct UnitCount {
    CalendarUnit unit;
    qint64 count; // negative for the past
};

QDateTime addUnits(const QDateTime& start, CalendarUnit unit, qint64 count)
{
    // A count of years or months beyond an int is beyond any date anyway.
    const bool fitsInt = count >= std::numeric_limits<int>::min() && count <= std::numeric_limits<int>::max();
    switch (unit) {
    case CalendarUnit::year: return fitsInt ? start.addYears(int(count)) : QDateTime();
    case CalendarUnit::month: return fitsInt ? start.addMonths(int(count)) : QDateTime();
    case CalendarUnit::week: return start.addDays(count * 7);
    case CalendarUnit::day: return start.addDays(count);
    case CalendarUnit::hour: return start.addSecs(count * 3600);
    case CalendarUnit::minute: return start.addSecs(count * 60);
    case CalendarUnit::second: return start.addSecs(count);
    }
    return {};
}

// The calendar units are counted one after the other from `from`, largest first, the way a
// calendar computes the components between two dates; hours, minutes and seconds are what remains
// of the elapsed time, sub-second parts dropped.
UnitCount largestUnit(const QDateTime& from, const QDateTime& to)
{
    const qint64 direction = from <= to ? 1 : -1;
    const auto beyond = [&](const QDateTime& t) { return !t.isValid() || (direction > 0 ? t > to : t < to); };
    constexpr std::array<std::pair<CalendarUnit, double>, 4> calendarUnits{{{CalendarUnit::year, 365.2425 * 86400e3},
        {CalendarUnit::month, 30.436875 * 86400e3}, {CalendarUnit::week, 7 * 86400e3}, {CalendarUnit::day, 86400e3}}};
    QDateTime cursor = from;
    for (const auto& [unit, approximateMsecs] : calendarUnits) {
        qint64 count = qint64(std::abs(double(cursor.msecsTo(to))) / approximateMsecs);
        while (count > 0 && beyond(addUnits(cursor, unit, direction * count)))
            --count;
        while (!beyond(addUnits(cursor, unit, direction * (count + 1))))
            ++count;
        if (count > 0)
            return {unit, direction * count};
    }
    const qint64 seconds = std::abs(cursor.msecsTo(to)) / 1000;
    if (seconds >= 3600)
        return {CalendarUnit::hour, direction * (seconds / 3600)};
    if (seconds >= 60)
        return {CalendarUnit::minute, direction * (seconds / 60)};
    return {CalendarUnit::second, direction * seconds};
}

QString groupedNumber(qint64 value)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(value);
}

QString wideText(const UnitCount& value)
{
    static constexpr std::array<const char*, 7> names{"year", "month", "week", "day", "hour", "minute", "second"};
    const qint64 magnitude = value.count < 0 ? -value.count : value.count;
    QString text = groupedNumber(magnitude) + u' ' + QLatin1String(names[std::size_t(value.unit)]);
    if (magnitude != 1)
        text += u's';
    return value.count < 0 ? text + QStringLiteral(" ago") : QStringLiteral("in ") + text;
}

std::optional<QString> namedText(const UnitCount& value)
{
    if (value.count == 0)
        return QStringLiteral("now");
    if (value.count != 1 && value.count != -1)
        return std::nullopt;
    const bool past = value.count < 0;
    switch (value.unit) {
    case CalendarUnit::year: return past ? QStringLiteral("last year") : QStringLiteral("next year");
    case CalendarUnit::month: return past ? QStringLiteral("last month") : QStringLiteral("next month");
    case CalendarUnit::week: return past ? QStringLiteral("last week") : QStringLiteral("next week");
    case CalendarUnit::day: return past ? QStringLiteral("yesterday") : QStringLiteral("tomorrow");
    default: return std::nullopt; // hours, minutes and seconds have no name for one unit
    }
}

QDateTime inZoneOf(const QDateTime& date, const QDateTime& reference)
{
    switch (reference.timeSpec()) {
    case Qt::TimeZone: return date.toTimeZone(reference.timeZone());
    case Qt::OffsetFromUTC: return date.toOffsetFromUtc(reference.offsetFromUtc());
    default: return date.toTimeSpec(reference.timeSpec());
    }
}

} // namespace

QString Formatters::relativeDateNamed(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return {};
    const QDateTime target = inZoneOf(date, now);
    UnitCount largest = largestUnit(now, target);
    // Unlike the short numeric style, this style rounds to the nearest whole unit (90 seconds is
    // "in 2 minutes"); a rounded count can fill the next unit (59.5 minutes is one hour).
    if (largest.unit != CalendarUnit::second) {
        const qint64 step = largest.count < 0 ? -1 : 1;
        const QDateTime lower = addUnits(now, largest.unit, largest.count);
        const QDateTime upper = addUnits(now, largest.unit, largest.count + step);
        if (upper.isValid() && 2 * std::abs(lower.msecsTo(target)) >= std::abs(lower.msecsTo(upper))) {
            largest = largestUnit(now, upper);
        }
    }
    if (const auto named = namedText(largest))
        return *named;
    return wideText(largest);
}

QString Formatters::relativeDateNumericShort(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return {};
    const UnitCount largest = largestUnit(now, inZoneOf(date, now));
    const qint64 magnitude = largest.count < 0 ? -largest.count : largest.count;
    QString unit;
    switch (largest.unit) {
    case CalendarUnit::year: unit = QStringLiteral("yr."); break;
    case CalendarUnit::month: unit = QStringLiteral("mo."); break;
    case CalendarUnit::week: unit = QStringLiteral("wk."); break;
    case CalendarUnit::day: unit = magnitude == 1 ? QStringLiteral("day") : QStringLiteral("days"); break;
    case CalendarUnit::hour: unit = QStringLiteral("hr."); break;
    case CalendarUnit::minute: unit = QStringLiteral("min."); break;
    case CalendarUnit::second: unit = QStringLiteral("sec."); break;
    }
    const QString text = groupedNumber(magnitude) + u' ' + unit;
    // A zero interval reads as the future, "in 0 sec.".
    return largest.count < 0 ? text + QStringLiteral(" ago") : QStringLiteral("in ") + text;
}

QString Formatters::fileByteCount(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const bool negative = bytes < 0;
    // The magnitude of the most negative value still fits an unsigned 64-bit number.
    const quint64 magnitude = negative ? quint64(0) - quint64(bytes) : quint64(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();
    if (magnitude < 1000)
        return sign + QString::number(magnitude)
            + (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));

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

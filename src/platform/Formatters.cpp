#include "platform/Formatters.h"

#include "platform/Localization.h"

#include <QLocale>
#include <QTimeZone>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

namespace vantrel {

namespace {

struct Unit {
    const char* key;
    const char* defaultText;
    int fractionDigits;
};

constexpr std::array<Unit, 6> decimalUnits{
    {{textKey("format.bytes.KB"), "%@ KB", 0}, {textKey("format.bytes.MB"), "%@ MB", 1},
        {textKey("format.bytes.GB"), "%@ GB", 2}, {textKey("format.bytes.TB"), "%@ TB", 2},
        {textKey("format.bytes.PB"), "%@ PB", 2}, {textKey("format.bytes.EB"), "%@ EB", 2}}};

// Trailing zeros of the fraction dropped, then written with the language's decimal separator.
QString trimmedNumber(double value, int fractionDigits)
{
    QString text = QString::number(value, 'f', fractionDigits);
    if (fractionDigits > 0) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text.replace(u'.', Localization::locale().decimalPoint());
}

// A text that shows a count: its key and the English texts for one and for other counts.
struct CountText {
    const char* key;
    const char* one;
    const char* other;
};

QString countText(const CountText& text, qint64 count, const QString& number)
{
    const char* defaultText = count == 1 || count == -1 ? text.one : text.other;
    return Localization::plural(QString::fromLatin1(text.key), QString::fromLatin1(defaultText), count, {number});
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
    return Localization::locale().toString(value);
}

// By calendar unit (year to second): the text of a past count, then of a future one.
using RelativeTexts = std::array<std::array<CountText, 2>, 7>;

constexpr RelativeTexts wideTexts{{
    {{{textKey("format.relative.yearsAgo"), "%lld year ago", "%lld years ago"},
        {textKey("format.relative.inYears"), "in %lld year", "in %lld years"}}},
    {{{textKey("format.relative.monthsAgo"), "%lld month ago", "%lld months ago"},
        {textKey("format.relative.inMonths"), "in %lld month", "in %lld months"}}},
    {{{textKey("format.relative.weeksAgo"), "%lld week ago", "%lld weeks ago"},
        {textKey("format.relative.inWeeks"), "in %lld week", "in %lld weeks"}}},
    {{{textKey("format.relative.daysAgo"), "%lld day ago", "%lld days ago"},
        {textKey("format.relative.inDays"), "in %lld day", "in %lld days"}}},
    {{{textKey("format.relative.hoursAgo"), "%lld hour ago", "%lld hours ago"},
        {textKey("format.relative.inHours"), "in %lld hour", "in %lld hours"}}},
    {{{textKey("format.relative.minutesAgo"), "%lld minute ago", "%lld minutes ago"},
        {textKey("format.relative.inMinutes"), "in %lld minute", "in %lld minutes"}}},
    {{{textKey("format.relative.secondsAgo"), "%lld second ago", "%lld seconds ago"},
        {textKey("format.relative.inSeconds"), "in %lld second", "in %lld seconds"}}},
}};

constexpr RelativeTexts shortTexts{{
    {{{textKey("format.relative.short.yearsAgo"), "%lld yr. ago", "%lld yr. ago"},
        {textKey("format.relative.short.inYears"), "in %lld yr.", "in %lld yr."}}},
    {{{textKey("format.relative.short.monthsAgo"), "%lld mo. ago", "%lld mo. ago"},
        {textKey("format.relative.short.inMonths"), "in %lld mo.", "in %lld mo."}}},
    {{{textKey("format.relative.short.weeksAgo"), "%lld wk. ago", "%lld wk. ago"},
        {textKey("format.relative.short.inWeeks"), "in %lld wk.", "in %lld wk."}}},
    {{{textKey("format.relative.short.daysAgo"), "%lld day ago", "%lld days ago"},
        {textKey("format.relative.short.inDays"), "in %lld day", "in %lld days"}}},
    {{{textKey("format.relative.short.hoursAgo"), "%lld hr. ago", "%lld hr. ago"},
        {textKey("format.relative.short.inHours"), "in %lld hr.", "in %lld hr."}}},
    {{{textKey("format.relative.short.minutesAgo"), "%lld min. ago", "%lld min. ago"},
        {textKey("format.relative.short.inMinutes"), "in %lld min.", "in %lld min."}}},
    {{{textKey("format.relative.short.secondsAgo"), "%lld sec. ago", "%lld sec. ago"},
        {textKey("format.relative.short.inSeconds"), "in %lld sec.", "in %lld sec."}}},
}};

QString relativeText(const RelativeTexts& texts, const UnitCount& value)
{
    const qint64 magnitude = value.count < 0 ? -value.count : value.count;
    // A zero interval reads as the future ("in 0 sec.").
    const CountText& text = texts[std::size_t(value.unit)][value.count < 0 ? 0 : 1];
    return countText(text, magnitude, groupedNumber(magnitude));
}

std::optional<QString> namedText(const UnitCount& value)
{
    if (value.count == 0)
        return Localization::text(QStringLiteral("format.relative.now"), QStringLiteral("now"));
    if (value.count != 1 && value.count != -1)
        return std::nullopt;
    const bool past = value.count < 0;
    switch (value.unit) {
    case CalendarUnit::year:
        return past ? Localization::text(QStringLiteral("format.relative.lastYear"), QStringLiteral("last year"))
                    : Localization::text(QStringLiteral("format.relative.nextYear"), QStringLiteral("next year"));
    case CalendarUnit::month:
        return past ? Localization::text(QStringLiteral("format.relative.lastMonth"), QStringLiteral("last month"))
                    : Localization::text(QStringLiteral("format.relative.nextMonth"), QStringLiteral("next month"));
    case CalendarUnit::week:
        return past ? Localization::text(QStringLiteral("format.relative.lastWeek"), QStringLiteral("last week"))
                    : Localization::text(QStringLiteral("format.relative.nextWeek"), QStringLiteral("next week"));
    case CalendarUnit::day:
        return past ? Localization::text(QStringLiteral("format.relative.yesterday"), QStringLiteral("yesterday"))
                    : Localization::text(QStringLiteral("format.relative.tomorrow"), QStringLiteral("tomorrow"));
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
    return relativeText(wideTexts, largest);
}

QString Formatters::relativeDateNumericShort(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid() || !now.isValid())
        return {};
    return relativeText(shortTexts, largestUnit(now, inZoneOf(date, now)));
}

QString Formatters::fileByteCount(qint64 bytes)
{
    if (bytes == 0)
        return Localization::text(QStringLiteral("format.bytes.zero"), QStringLiteral("Zero KB"));
    const bool negative = bytes < 0;
    // The magnitude of the most negative value still fits an unsigned 64-bit number.
    const quint64 magnitude = negative ? quint64(0) - quint64(bytes) : quint64(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();
    if (magnitude < 1000) {
        return countText({textKey("format.bytes.bytes"), "%lld byte", "%lld bytes"}, qint64(magnitude),
            sign + QString::number(magnitude));
    }

    double value = static_cast<double>(magnitude) / 1000.0;
    for (std::size_t i = 0; i < decimalUnits.size(); ++i) {
        const Unit& unit = decimalUnits[i];
        const double scale = std::pow(10.0, unit.fractionDigits);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes round to 1,000 KB, which is written as 1 MB.
        if (rounded < 1000.0 || i + 1 == decimalUnits.size())
            return Localization::textFormat(QString::fromLatin1(unit.key), QString::fromLatin1(unit.defaultText),
                {sign + trimmedNumber(rounded, unit.fractionDigits)});
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
    constexpr std::array<CountText, 3> unitTexts{
        {{textKey("format.duration.hours"), "%lldh", "%lldh"}, {textKey("format.duration.minutes"), "%lldm", "%lldm"},
            {textKey("format.duration.seconds"), "%llds", "%llds"}}};

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
            parts << countText(unitTexts[i], count, QString::number(count));
    }
    if (parts.isEmpty())
        return countText(unitTexts[last], 0, QStringLiteral("0"));
    return parts.join(u' ');
}

} // namespace vantrel

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vantrel {

// Byte counts, durations and relative dates as the desktop's own views write them, in the words and
// number style of the interface language (Localization); the examples below are the English ones.
class Formatters {
public:
    // Decimal units in the file style: "Zero KB", "1 byte", "12 bytes", "1 KB", "1.5 MB", "1.23 GB".
    // Kilobytes show no fraction, megabytes one digit, larger units two; trailing zeros are dropped.
    static QString fileByteCount(qint64 bytes);

    // Hours, minutes and seconds in the abbreviated style ("1h 5m", "42s"), at most the given
    // number of non-zero units; the last unit shown is rounded. Empty for a negative or
    // non-finite value.
    static QString abbreviatedDuration(double seconds, int maximumUnitCount = 2);

    // Relative dates use the calendar in the time zone of `now`: the largest unit of year, month,
    // week, day, hour, minute and second that the interval fills at least once. Both are empty
    // for an invalid date.

    // Named, wide units, the unit rounded to the nearest whole count: "now", "in 2 minutes",
    // "3 hours ago", "yesterday", "tomorrow", "last week", "next month", "2 years ago".
    static QString relativeDateNamed(const QDateTime& date, const QDateTime& now = QDateTime::currentDateTime());

    // Numeric, short units, the unit's count truncated: "in 0 sec.", "5 sec. ago", "2 min. ago",
    // "in 3 hr.", "1 day ago", "2 wk. ago", "4 mo. ago", "1 yr. ago".
    static QString relativeDateNumericShort(const QDateTime& date, const QDateTime& now = QDateTime::currentDateTime());
};

} // namespace vantrel

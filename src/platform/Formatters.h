#pragma once

#include <QString>
#include <QStringList>

namespace vantrel {

// Byte counts and durations as the desktop's file views write them (English output).
class Formatters {
public:
    // Decimal units in the file style: "Zero KB", "1 byte", "12 bytes", "1 KB", "1.5 MB", "1.23 GB".
    // Kilobytes show no fraction, megabytes one digit, larger units two; trailing zeros are dropped.
    static QString fileByteCount(qint64 bytes);

    // Hours, minutes and seconds in the abbreviated style ("1h 5m", "42s"), at most the given
    // number of non-zero units; the last unit shown is rounded. Empty for a negative or
    // non-finite value.
    static QString abbreviatedDuration(double seconds, int maximumUnitCount = 2);
};

} // namespace vantrel

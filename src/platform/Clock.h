#pragma once

#include <QDateTime>

#include <functional>

namespace vantrel {

// Where "now" comes from, so that tests can pin it.
using Clock = std::function<QDateTime()>;

// The system's time, in UTC.
inline QDateTime systemNow()
{
    return QDateTime::currentDateTimeUtc();
}

} // namespace vantrel

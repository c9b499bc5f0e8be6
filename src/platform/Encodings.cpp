#include "platform/Encodings.h"

#include <QRegularExpression>

#include <cmath>

namespace vantrel::encoding {

namespace {

// 2001-01-01T00:00:00Z in milliseconds since the Unix epoch.
constexpr qint64 referenceDateMSecs = 978307200000LL;
// Beyond this QDateTime's range ends long before a qint64 of milliseconds would overflow.
constexpr double maxReferenceSeconds = 1e13;

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> parseUuid(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool hyphenSlot = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenSlot ? text.at(i) != u'-' : !isHex(text.at(i)))
            return std::nullopt;
    }
    // The form is checked above, so a null result here is the genuine all-zero UUID.
    return QUuid::fromString(text);
}

double secondsSinceReferenceDate(const QDateTime& date)
{
    if (!date.isValid())
        return std::nan("");
    return static_cast<double>(date.toMSecsSinceEpoch() - referenceDateMSecs) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > maxReferenceSeconds)
        return {};
    const qint64 msecs = std::llround(seconds * 1000.0) + referenceDateMSecs;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

QString iso8601(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    // Milliseconds are dropped (towards the earlier second), as the stored form has whole seconds.
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

std::optional<QDateTime> parseIso8601(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:(Z)|([+-])(\d{2}):(\d{2}))$)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const auto number = [&m](int group) { return m.captured(group).toInt(); };
    const QDate day(number(1), number(2), number(3));
    const int hour = number(4), minute = number(5), second = number(6);
    // QDate/QTime also accept what would silently shift the instant (24:00, leap seconds): refuse it.
    if (!day.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    int offsetSeconds = 0;
    if (m.captured(7).isEmpty()) {
        const int offsetHours = number(9), offsetMinutes = number(10);
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 60 + offsetMinutes) * 60;
        if (m.captured(8) == u"-")
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime local(day, QTime(hour, minute, second), Qt::UTC);
    return local.addSecs(-offsetSeconds);
}

QString fileUrlText(const QString& path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

std::optional<QString> pathFromFileUrlText(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"file", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // A query or fragment cannot come from fileUrlText: it would be an unencoded "?" or "#"
    // in a path, which would otherwise be cut off silently.
    if (url.hasQuery() || url.hasFragment())
        return std::nullopt;
    if (!url.host().isEmpty() && url.host().compare(u"localhost", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return std::nullopt;
    return path;
}

} // namespace vantrel::encoding

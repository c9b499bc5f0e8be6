#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

// The stored encodings that several files share, written once.
namespace vantrel::encoding {

// Upper-case 36-character hyphenated text, as the platform writes a UUID.
QString uuidText(const QUuid& id);
// Accepts exactly 36 characters in the hyphenated form (either letter case); none otherwise.
std::optional<QUuid> parseUuid(const QString& text);

// Seconds since 2001-01-01T00:00:00Z, the platform's reference date (fractions kept).
double secondsSinceReferenceDate(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);

// Strict ISO 8601 in UTC with whole seconds and "Z", such as 2024-05-01T09:30:12Z.
QString iso8601(const QDateTime& date);
// Reads the form above (and an explicit offset); none for anything else.
std::optional<QDateTime> parseIso8601(const QString& text);

// The text of strict UTF-8; none for anything malformed, a sequence cut off at the end included,
// rather than a lossy repair.
std::optional<QString> parseUtf8(const QByteArray& bytes);

// A local file URL in its fully percent-encoded text form, and back.
QString fileUrlText(const QString& path);
std::optional<QString> pathFromFileUrlText(const QString& text);

} // namespace vantrel::encoding

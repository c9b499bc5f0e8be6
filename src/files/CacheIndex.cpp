#include "files/CacheIndex.h"

#include "platform/Encodings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <limits>

namespace vantrel {

namespace {

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return sum;
}

QString pathKey(const QUuid& configID, const QString& relativePath)
{
    // Canonically equivalent texts (precomposed or decomposed accents) name the same file.
    return configID.toString(QUuid::Id128) + u'/' + relativePath.normalized(QString::NormalizationForm_C);
}

void sortNewestFirst(QList<CacheEntry>& entries)
{
    std::stable_sort(entries.begin(), entries.end(),
        [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt > b.lastAccessedAt; });
}

} // namespace

CacheIndex::CacheIndex(QList<CacheEntry> entries)
    : m_entries(std::move(entries))
{
    sortNewestFirst(m_entries);
    QSet<QString> seen;
    m_entries.removeIf([&seen](const CacheEntry& entry) {
        const QString key = pathKey(entry.configID, entry.relativePath);
        if (seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
    reindex();
}

void CacheIndex::reindex()
{
    m_positions.clear();
    m_positions.reserve(m_entries.size());
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        m_positions.insert(pathKey(m_entries.at(i).configID, m_entries.at(i).relativePath), i);
}

QList<CacheEntry> CacheIndex::entries(const QUuid& configID) const
{
    QList<CacheEntry> result;
    for (const CacheEntry& entry : m_entries) {
        if (entry.configID == configID)
            result.append(entry);
    }
    return result;
}

qint64 CacheIndex::totalSize() const
{
    qint64 total = 0;
    for (const CacheEntry& entry : m_entries)
        total = saturatingAdd(total, entry.fileSize);
    return total;
}

std::optional<qsizetype> CacheIndex::find(const QUuid& configID, const QString& relativePath) const
{
    const auto it = m_positions.constFind(pathKey(configID, relativePath));
    if (it == m_positions.constEnd())
        return std::nullopt;
    return it.value();
}

std::optional<qsizetype> CacheIndex::findById(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).id == id)
            return i;
    }
    return std::nullopt;
}

void CacheIndex::add(const CacheEntry& entry)
{
    if (const std::optional<qsizetype> existing = find(entry.configID, entry.relativePath))
        m_entries.removeAt(*existing);
    m_entries.append(entry);
    sortNewestFirst(m_entries);
    reindex();
}

const CacheEntry& CacheIndex::touch(qsizetype position, const QDateTime& accessedAt)
{
    m_entries[position].lastAccessedAt = accessedAt;
    return m_entries.at(position);
}

void CacheIndex::removeAt(qsizetype position)
{
    m_entries.removeAt(position);
    reindex();
}

void CacheIndex::remove(const QSet<QUuid>& ids)
{
    m_entries.removeIf([&ids](const CacheEntry& entry) { return ids.contains(entry.id); });
    reindex();
}

void CacheIndex::clear()
{
    m_entries.clear();
    m_positions.clear();
}

QList<CacheEntry> CacheIndex::leastRecentlyUsed(qint64 requiredSpace, qint64 maxSize) const
{
    qint64 total = totalSize();
    const auto fits = [&] { return saturatingAdd(total, requiredSpace) <= maxSize; };
    if (fits())
        return {};
    QList<CacheEntry> oldestFirst = m_entries;
    std::stable_sort(oldestFirst.begin(), oldestFirst.end(),
        [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt < b.lastAccessedAt; });
    QList<CacheEntry> victims;
    for (const CacheEntry& entry : std::as_const(oldestFirst)) {
        if (fits())
            break;
        victims.append(entry);
        total = saturatingAdd(total, -entry.fileSize);
    }
    return victims;
}

QByteArray CacheIndex::encode(const QList<CacheEntry>& entries)
{
    QJsonArray array;
    for (const CacheEntry& entry : entries) {
        QJsonObject object; // keeps its keys sorted
        object.insert(QStringLiteral("cachedAt"), encoding::secondsSinceReferenceDate(entry.cachedAt));
        object.insert(QStringLiteral("configID"), encoding::uuidText(entry.configID));
        if (entry.contentHash)
            object.insert(QStringLiteral("contentHash"), *entry.contentHash);
        object.insert(QStringLiteral("fileName"), entry.fileName);
        object.insert(QStringLiteral("fileSize"), entry.fileSize);
        object.insert(QStringLiteral("id"), encoding::uuidText(entry.id));
        object.insert(QStringLiteral("isDirectory"), entry.isDirectory);
        object.insert(QStringLiteral("lastAccessedAt"), encoding::secondsSinceReferenceDate(entry.lastAccessedAt));
        object.insert(QStringLiteral("localURL"),
            entry.localURL.isLocalFile() ? encoding::fileUrlText(entry.localURL.toLocalFile())
                                         : entry.localURL.toString(QUrl::FullyEncoded));
        object.insert(QStringLiteral("relativePath"), entry.relativePath);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

std::optional<QList<CacheEntry>> CacheIndex::decode(const QByteArray& json, QString* error)
{
    const auto fail = [error](const QString& message) -> std::optional<QList<CacheEntry>> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("The data is not valid JSON: %1 at offset %2")
                        .arg(parseError.errorString())
                        .arg(parseError.offset));
    if (!document.isArray())
        return fail(QStringLiteral("The data is not a JSON array."));

    QList<CacheEntry> entries;
    const QJsonArray array = document.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject())
            return fail(QStringLiteral("Entry %1 is not an object.").arg(i));
        const QJsonObject object = array.at(i).toObject();
        QString problem;
        const auto field = [&](const char* key, QJsonValue::Type type) -> QJsonValue {
            const QJsonValue value = object.value(QLatin1String(key));
            if (problem.isEmpty() && value.type() != type)
                problem = value.isUndefined()
                    ? QStringLiteral("No value for key \"%1\"").arg(QLatin1String(key))
                    : QStringLiteral("The value of \"%1\" has the wrong type").arg(QLatin1String(key));
            return value;
        };
        const auto uuid = [&](const char* key) {
            const std::optional<QUuid> id = encoding::parseUuid(field(key, QJsonValue::String).toString());
            if (problem.isEmpty() && !id)
                problem = QStringLiteral("The value of \"%1\" is not a UUID").arg(QLatin1String(key));
            return id.value_or(QUuid());
        };
        const auto date = [&](const char* key) {
            const QDateTime when = encoding::dateFromReferenceSeconds(field(key, QJsonValue::Double).toDouble());
            if (problem.isEmpty() && !when.isValid())
                problem = QStringLiteral("The value of \"%1\" is not a date").arg(QLatin1String(key));
            return when;
        };

        CacheEntry entry;
        entry.id = uuid("id");
        entry.configID = uuid("configID");
        entry.relativePath = field("relativePath", QJsonValue::String).toString();
        const QString urlText = field("localURL", QJsonValue::String).toString();
        entry.localURL = QUrl(urlText, QUrl::StrictMode);
        if (problem.isEmpty() && (urlText.isEmpty() || !entry.localURL.isValid()))
            problem = QStringLiteral("The value of \"localURL\" is not a URL");
        const QJsonValue size = field("fileSize", QJsonValue::Double);
        // A whole number within 64 bits: the two fallbacks differ for anything else.
        if (problem.isEmpty() && size.toInteger(0) != size.toInteger(1))
            problem = QStringLiteral("The value of \"fileSize\" is not a whole number");
        entry.fileSize = size.toInteger();
        entry.isDirectory = field("isDirectory", QJsonValue::Bool).toBool();
        entry.fileName = field("fileName", QJsonValue::String).toString();
        entry.cachedAt = date("cachedAt");
        entry.lastAccessedAt = date("lastAccessedAt");
        const QJsonValue hash = object.value(QStringLiteral("contentHash"));
        if (hash.isString())
            entry.contentHash = hash.toString();
        else if (!hash.isUndefined() && !hash.isNull() && problem.isEmpty())
            problem = QStringLiteral("The value of \"contentHash\" has the wrong type");
        if (!problem.isEmpty())
            return fail(QStringLiteral("Entry %1: %2.").arg(i).arg(problem));
        entries.append(entry);
    }
    return entries;
}

} // namespace vantrel

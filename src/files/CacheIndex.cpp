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
{
    sortNewestFirst(entries);
    QSet<QString> seen;
    entries.removeIf([&seen](const CacheEntry& entry) {
        const QString key = pathKey(entry.configID, entry.relativePath);
        if (seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
    storeSorted(std::move(entries));
}

void CacheIndex::storeSorted(QList<CacheEntry> newestFirst)
{
    m_stored.clear();
    m_keys.clear();
    m_positions.clear();
    m_totalSize = 0;
    m_stored.reserve(newestFirst.size());
    m_keys.reserve(newestFirst.size());
    for (auto it = newestFirst.crbegin(); it != newestFirst.crend(); ++it) {
        m_stored.append(*it);
        m_keys.append(pathKey(it->configID, it->relativePath));
        m_totalSize += it->fileSize;
    }
    m_ordered = true;
    reindexFrom(0);
}

void CacheIndex::reindexFrom(qsizetype from)
{
    for (qsizetype i = from; i < m_keys.size(); ++i)
        m_positions.insert(m_keys.at(i), i);
}

QList<CacheEntry> CacheIndex::entries() const
{
    return QList<CacheEntry>(m_stored.crbegin(), m_stored.crend());
}

QList<CacheEntry> CacheIndex::entries(const QUuid& configID) const
{
    QList<CacheEntry> result;
    for (auto it = m_stored.crbegin(); it != m_stored.crend(); ++it) {
        if (it->configID == configID)
            result.append(*it);
    }
    return result;
}

qint64 CacheIndex::totalSize() const
{
    return static_cast<qint64>(
        std::clamp<Wide>(m_totalSize, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()));
}

std::optional<qsizetype> CacheIndex::find(const QUuid& configID, const QString& relativePath) const
{
    const auto it = m_positions.constFind(pathKey(configID, relativePath));
    if (it == m_positions.constEnd())
        return std::nullopt;
    return storedIndex(it.value());
}

std::optional<qsizetype> CacheIndex::findById(const QUuid& id) const
{
    for (qsizetype i = 0; i < m_stored.size(); ++i) {
        if (m_stored.at(i).id == id)
            return storedIndex(i);
    }
    return std::nullopt;
}

void CacheIndex::add(const CacheEntry& entry)
{
    if (const std::optional<qsizetype> existing = find(entry.configID, entry.relativePath))
        removeAt(*existing);
    if (!m_ordered) {
        // A touch left the order behind: the addition restores it.
        QList<CacheEntry> all = entries();
        all.append(entry);
        sortNewestFirst(all);
        storeSorted(std::move(all));
        return;
    }
    // After every entry accessed at the same time or later, as a stable sort would put it.
    qsizetype place = m_stored.size();
    while (place > 0 && m_stored.at(place - 1).lastAccessedAt >= entry.lastAccessedAt)
        --place;
    m_stored.insert(place, entry);
    m_keys.insert(place, pathKey(entry.configID, entry.relativePath));
    m_totalSize += entry.fileSize;
    reindexFrom(place);
}

void CacheIndex::add(const QList<CacheEntry>& entries)
{
    if (entries.isEmpty())
        return;
    const QDateTime moment = entries.first().lastAccessedAt;
    QList<QString> keys;
    keys.reserve(entries.size());
    QSet<QString> distinct;
    bool oneMoment = m_ordered;
    for (const CacheEntry& entry : entries) {
        keys.append(pathKey(entry.configID, entry.relativePath));
        distinct.insert(keys.last());
        oneMoment = oneMoment && entry.lastAccessedAt == moment;
    }
    if (!oneMoment || distinct.size() != entries.size()) {
        for (const CacheEntry& entry : entries)
            add(entry);
        return;
    }
    for (const QString& key : std::as_const(keys)) {
        if (const auto it = m_positions.constFind(key); it != m_positions.constEnd())
            removeAt(storedIndex(it.value()));
    }
    // Added one at a time, each would go before the entries of its moment already there, so the
    // last added stands first.
    qsizetype place = m_stored.size();
    while (place > 0 && m_stored.at(place - 1).lastAccessedAt >= moment)
        --place;
    const QList<CacheEntry> laterEntries = m_stored.mid(place);
    const QList<QString> laterKeys = m_keys.mid(place);
    m_stored.resize(place);
    m_keys.resize(place);
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        m_stored.append(entries.at(i));
        m_keys.append(keys.at(i));
        m_totalSize += entries.at(i).fileSize;
    }
    m_stored.append(laterEntries);
    m_keys.append(laterKeys);
    reindexFrom(place);
}

const CacheEntry& CacheIndex::touch(qsizetype position, const QDateTime& accessedAt)
{
    const qsizetype i = storedIndex(position);
    m_stored[i].lastAccessedAt = accessedAt;
    if ((i > 0 && m_stored.at(i - 1).lastAccessedAt > accessedAt)
        || (i + 1 < m_stored.size() && m_stored.at(i + 1).lastAccessedAt < accessedAt))
        m_ordered = false;
    return m_stored.at(i);
}

void CacheIndex::removeAt(qsizetype position)
{
    const qsizetype i = storedIndex(position);
    m_totalSize -= m_stored.at(i).fileSize;
    m_positions.remove(m_keys.at(i));
    m_stored.removeAt(i);
    m_keys.removeAt(i);
    reindexFrom(i);
}

void CacheIndex::remove(const QSet<QUuid>& ids)
{
    qsizetype kept = 0;
    qsizetype first = m_stored.size(); // the first stored index that moves or goes
    for (qsizetype i = 0; i < m_stored.size(); ++i) {
        if (ids.contains(m_stored.at(i).id)) {
            m_totalSize -= m_stored.at(i).fileSize;
            m_positions.remove(m_keys.at(i));
            first = std::min(first, i);
            continue;
        }
        if (kept != i) {
            m_stored[kept] = std::move(m_stored[i]);
            m_keys[kept] = std::move(m_keys[i]);
        }
        ++kept;
    }
    m_stored.resize(kept);
    m_keys.resize(kept);
    reindexFrom(first);
}

void CacheIndex::clear()
{
    m_stored.clear();
    m_keys.clear();
    m_positions.clear();
    m_ordered = true;
    m_totalSize = 0;
}

QList<CacheEntry> CacheIndex::leastRecentlyUsed(qint64 requiredSpace, qint64 maxSize) const
{
    qint64 total = totalSize();
    const auto fits = [&] { return saturatingAdd(total, requiredSpace) <= maxSize; };
    if (fits())
        return {};
    QList<CacheEntry> victims;
    const auto take = [&](const CacheEntry& entry) {
        if (fits())
            return false;
        victims.append(entry);
        total = saturatingAdd(total, -entry.fileSize);
        return true;
    };
    if (!m_ordered) {
        QList<CacheEntry> oldestFirst = entries();
        std::stable_sort(oldestFirst.begin(), oldestFirst.end(),
            [](const CacheEntry& a, const CacheEntry& b) { return a.lastAccessedAt < b.lastAccessedAt; });
        for (const CacheEntry& entry : std::as_const(oldestFirst)) {
            if (!take(entry))
                break;
        }
        return victims;
    }
    // Stored oldest first already; entries accessed at the same time go newest first, as they
    // stand in entries().
    for (qsizetype begin = 0; begin < m_stored.size();) {
        qsizetype end = begin + 1;
        while (end < m_stored.size() && m_stored.at(end).lastAccessedAt == m_stored.at(begin).lastAccessedAt)
            ++end;
        for (qsizetype i = end - 1; i >= begin; --i) {
            if (!take(m_stored.at(i)))
                return victims;
        }
        begin = end;
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

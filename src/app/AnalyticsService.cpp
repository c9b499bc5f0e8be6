#include "app/AnalyticsService.h"

#include "platform/AppPaths.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/StoredFile.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThreadPool>

namespace vantrel {

namespace {

const QString unreadableDataText = QStringLiteral("The data couldn't be read because it isn't in the correct format.");

} // namespace

QString rawValue(AnalyticsEvent event)
{
    switch (event) {
    case AnalyticsEvent::appLaunch: return QStringLiteral("app_launch");
    case AnalyticsEvent::nasMount: return QStringLiteral("nas_mount");
    case AnalyticsEvent::fileTransfer: return QStringLiteral("file_transfer");
    case AnalyticsEvent::cacheHit: return QStringLiteral("cache_hit");
    }
    return {};
}

QJsonObject AnalyticsRecord::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), encoding::uuidText(id)},
        {QStringLiteral("event"), event},
        {QStringLiteral("timestamp"), encoding::secondsSinceReferenceDate(timestamp)},
    };
    if (metadata) {
        QJsonObject map;
        for (auto it = metadata->constBegin(); it != metadata->constEnd(); ++it)
            map.insert(it.key(), it.value());
        object.insert(QStringLiteral("metadata"), map);
    }
    return object;
}

std::optional<AnalyticsRecord> AnalyticsRecord::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue event = object.value(QStringLiteral("event"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    if (!id.isString() || !event.isString() || !timestamp.isDouble())
        return std::nullopt;
    AnalyticsRecord record;
    const auto uuid = encoding::parseUuid(id.toString());
    record.timestamp = encoding::dateFromReferenceSeconds(timestamp.toDouble());
    if (!uuid || !record.timestamp.isValid())
        return std::nullopt;
    record.id = *uuid;
    record.event = event.toString();
    const QJsonValue metadata = object.value(QStringLiteral("metadata"));
    if (metadata.isObject()) {
        AnalyticsMetadata map;
        const QJsonObject m = metadata.toObject();
        for (auto it = m.constBegin(); it != m.constEnd(); ++it) {
            if (!it.value().isString())
                return std::nullopt;
            map.insert(it.key(), it.value().toString());
        }
        record.metadata = map;
    } else if (!metadata.isUndefined() && !metadata.isNull()) {
        return std::nullopt;
    }
    return record;
}

AnalyticsService::AnalyticsService(Defaults& defaults, LogManager& log, const QString& directory, Clock clock)
    : m_defaults(defaults)
    , m_log(log)
    , m_storagePath(directory + QStringLiteral("/analytics.json"))
    , m_clock(std::move(clock))
    , m_queue(std::make_unique<QThreadPool>())
{
    m_queue->setMaxThreadCount(1);
    m_queue->setObjectName(QStringLiteral("com.vantrel.analytics"));
    loadRecords();
}

AnalyticsService::~AnalyticsService()
{
    m_queue->waitForDone();
}

AnalyticsService& AnalyticsService::shared()
{
    return sharedInstance(
        [] { return new AnalyticsService(Defaults::standard(), LogManager::shared(), standardDirectory()); });
}

QString AnalyticsService::standardDirectory()
{
    return AppPaths::dataDirectory();
}

bool AnalyticsService::isEnabled() const
{
    const QVariant value = m_defaults.value(enabledKey);
    return value.typeId() == QMetaType::Bool ? value.toBool() : true;
}

void AnalyticsService::track(AnalyticsEvent event, const std::optional<AnalyticsMetadata>& metadata)
{
    if (!isEnabled())
        return;
    AnalyticsRecord record{QUuid::createUuid(), rawValue(event), m_clock(), metadata};
    // The queue belongs to this instance and is drained by its destructor, so `this` outlives the task.
    m_queue->start([this, record = std::move(record)] {
        m_records.append(record);
        if (m_records.size() > maxRecords)
            m_records.remove(0, m_records.size() - maxRecords);
        saveRecords();
        VLOG_TO(m_log, debug, defaultCategory, QStringLiteral("Analytics: tracked ") + record.event);
    });
}

void AnalyticsService::waitForQueue()
{
    m_queue->waitForDone();
}

QByteArray AnalyticsService::encode(const QList<AnalyticsRecord>& records)
{
    QJsonArray array;
    for (const AnalyticsRecord& record : records)
        array.append(record.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<AnalyticsRecord>> AnalyticsService::decode(const QByteArray& bytes, QString* error)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    QList<AnalyticsRecord> records;
    bool ok = parseError.error == QJsonParseError::NoError && document.isArray();
    if (ok) {
        const QJsonArray array = document.array();
        for (const QJsonValue& value : array) {
            auto record = AnalyticsRecord::fromJson(value);
            if (!record) {
                ok = false;
                break;
            }
            records.append(*record);
        }
    }
    if (!ok) {
        if (error)
            *error = unreadableDataText;
        return std::nullopt;
    }
    return records;
}

void AnalyticsService::loadRecords()
{
    m_records.clear();
    StoredFile::removeLeftovers(m_storagePath);
    const StoredFile::Contents contents = StoredFile::read(m_storagePath, maxFileSize);
    QString problem;
    switch (contents.state) {
    case StoredFile::Contents::State::missing: return;
    case StoredFile::Contents::State::unreadable:
        problem = QStringLiteral("The file \"analytics.json\" couldn't be read: %1").arg(contents.problem);
        break;
    case StoredFile::Contents::State::read:
        if (auto records = decode(contents.bytes, &problem))
            m_records = *records;
        break;
    }
    if (problem.isEmpty())
        return;
    VLOG_TO(m_log, error, defaultCategory, QStringLiteral("Failed to load analytics: ") + problem);
    // Moved, not copied: the next save writes a valid file, and a launch with analytics off does
    // not find (and copy) the same unreadable file again.
    QString failure;
    if (const std::optional<QString> aside = StoredFile::moveAside(m_storagePath, &failure)) {
        m_corruptCopyPath = *aside;
    } else {
        // Saving would destroy the only copy: records stay in memory this run.
        m_savingBlocked = true;
        VLOG_TO(m_log, error, defaultCategory, QStringLiteral("Analytics are not saved this run: ") + failure);
    }
}

void AnalyticsService::saveRecords()
{
    if (m_savingBlocked)
        return;
    if (const std::optional<QString> failure = StoredFile::write(m_storagePath, encode(m_records)))
        VLOG_TO(m_log, error, defaultCategory, QStringLiteral("Failed to save analytics: ") + *failure);
}

} // namespace vantrel

#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

class QThreadPool;

namespace vantrel {

class Defaults;
class LogManager;

enum class AnalyticsEvent { appLaunch, nasMount, fileTransfer, cacheHit };

QString rawValue(AnalyticsEvent event); // "app_launch", ...

using AnalyticsMetadata = QMap<QString, QString>;

struct AnalyticsRecord {
    QUuid id;
    QString event;
    QDateTime timestamp;
    std::optional<AnalyticsMetadata> metadata;

    bool operator==(const AnalyticsRecord&) const = default;

    QJsonObject toJson() const;
    // None when a field is missing or of the wrong type.
    static std::optional<AnalyticsRecord> fromJson(const QJsonValue& value);
};

// Local usage records, capped and kept in "analytics.json"; nothing is sent anywhere.
// track() returns at once: the list and the file are touched only on the service's serial queue.
class AnalyticsService final {
public:
    static inline const QString enabledKey = QStringLiteral("analytics.enabled");
    static constexpr qsizetype maxRecords = 500;
    // Far beyond maxRecords records; a larger file is kept aside like a corrupt one.
    static constexpr qint64 maxFileSize = 16 * 1024 * 1024;

    // `directory` holds "analytics.json".
    AnalyticsService(Defaults& defaults, LogManager& log, const QString& directory, Clock clock = systemNow);
    ~AnalyticsService();
    AnalyticsService(const AnalyticsService&) = delete;
    AnalyticsService& operator=(const AnalyticsService&) = delete;

    static AnalyticsService& shared();
    // "<Application Support>/Vantrel".
    static QString standardDirectory();

    QString storagePath() const { return m_storagePath; }
    // Where an unreadable file was moved aside at load (empty when none).
    QString corruptCopyPath() const { return m_corruptCopyPath; }

    bool isEnabled() const;
    // Any thread.
    void track(AnalyticsEvent event, const std::optional<AnalyticsMetadata>& metadata = std::nullopt);

    // Waits until every queued event is stored (tests and shut-down).
    void waitForQueue();

    // Encodes records as the file holds them.
    static QByteArray encode(const QList<AnalyticsRecord>& records);
    // The records of a file, or the reason it cannot be read.
    static std::optional<QList<AnalyticsRecord>> decode(const QByteArray& bytes, QString* error = nullptr);

private:
    void loadRecords();
    void saveRecords();

    Defaults& m_defaults;
    LogManager& m_log;
    QString m_storagePath;
    QString m_corruptCopyPath;
    Clock m_clock;
    QList<AnalyticsRecord> m_records; // only on m_queue after construction
    bool m_savingBlocked = false;     // set at load only, before the queue runs
    std::unique_ptr<QThreadPool> m_queue;
};

} // namespace vantrel

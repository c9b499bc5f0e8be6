#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

class QNetworkAccessManager;

namespace vantrel {

class LogManager;

struct CrashReport {
    QString id;
    QString timestamp;
    QString appVersion;
    QString buildNumber;
    QString osVersion;
    QString deviceModel;
    QString exceptionType;
    std::optional<QString> exceptionName;
    std::optional<QString> reason;
    QStringList stackTrace;

    bool operator==(const CrashReport&) const = default;

    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;
    // None when a required field is missing or any field has the wrong type.
    static std::optional<CrashReport> fromJson(const QByteArray& bytes);
};

// Writes a report when the process crashes and sends saved reports at the next start.
class CrashReporter final : public QObject {
    Q_OBJECT

public:
    static inline const QString reportFileExtension = QStringLiteral("vantrel-crash");
    // The crash-report service of the product; the shell assigns it before startMonitoring().
    static inline const QString productBackendURL = QStringLiteral("https://api.vantrel.app");

    // The folder is created now; an error is ignored.
    CrashReporter(LogManager& log, const QString& reportDirectory, QObject* parent = nullptr);

    static CrashReporter& shared();
    // "<Application Support>/Vantrel/Crashes".
    static QString standardReportDirectory();

    QString reportDirectory() const { return m_reportDirectory; }
    // Base address of the service without a trailing "/"; empty keeps reports for later.
    QString backendURL() const { return m_backendURL; }
    void setBackendURL(const QString& url) { m_backendURL = url; }
    bool isMonitoring() const { return m_isMonitoring; }

    // Installs the process's crash handlers and starts sending saved reports; only once.
    void startMonitoring();

    // Sends saved reports one at a time; deletes each one the service accepted and each one
    // that cannot be read.
    QCoro::Task<> sendPendingReports();
    // True exactly when the service answered HTTP 200.
    QCoro::Task<bool> upload(CrashReport report);

    // Writes a report now; failures are silent.
    void saveReport(const QString& exceptionType, const std::optional<QString>& exceptionName,
        const std::optional<QString>& reason, const QStringList& stackTrace);

    static QString deviceModel();
    static QString appVersion();
    static QString buildNumber();
    static QString osVersion();

    std::chrono::milliseconds uploadTimeout{60'000};

signals:
    // Emitted when a sendPendingReports() run has finished.
    void pendingReportsProcessed();

private:
    LogManager& m_log;
    QString m_reportDirectory;
    QString m_backendURL;
    bool m_isMonitoring = false;
    QNetworkAccessManager* m_network;
};

} // namespace vantrel

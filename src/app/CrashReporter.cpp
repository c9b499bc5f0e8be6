#include "app/CrashReporter.h"

#include "platform/AppInfo.h"
#include "platform/AppPaths.h"
#include "platform/CrashSignals.h"
#include "platform/Encodings.h"
#include "platform/StoredFile.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSysInfo>
#include <QUuid>
#include <QtConcurrent>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcoronetworkreply.h>

namespace vantrel {

namespace {

// A signal handler writes at most 256 KiB; anything much larger is not a report of ours.
constexpr qint64 maxReportSize = 1024 * 1024;

QString unknownWhenEmpty(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("unknown") : text;
}

std::optional<QString> optionalText(const QJsonObject& object, const QString& key, bool* ok)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        *ok = false;
    return value.toString();
}

} // namespace

QJsonObject CrashReport::toJson() const
{
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("timestamp"), timestamp},
        {QStringLiteral("appVersion"), appVersion},
        {QStringLiteral("buildNumber"), buildNumber},
        {QStringLiteral("osVersion"), osVersion},
        {QStringLiteral("deviceModel"), deviceModel},
        {QStringLiteral("exceptionType"), exceptionType},
        {QStringLiteral("stackTrace"), QJsonArray::fromStringList(stackTrace)},
    };
    if (exceptionName)
        object.insert(QStringLiteral("exceptionName"), *exceptionName);
    if (reason)
        object.insert(QStringLiteral("reason"), *reason);
    return object;
}

QByteArray CrashReport::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<CrashReport> CrashReport::fromJson(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    bool ok = true;
    const auto required = [&](const QString& key) {
        const QJsonValue value = object.value(key);
        if (!value.isString())
            ok = false;
        return value.toString();
    };
    CrashReport report;
    report.id = required(QStringLiteral("id"));
    report.timestamp = required(QStringLiteral("timestamp"));
    report.appVersion = required(QStringLiteral("appVersion"));
    report.buildNumber = required(QStringLiteral("buildNumber"));
    report.osVersion = required(QStringLiteral("osVersion"));
    report.deviceModel = required(QStringLiteral("deviceModel"));
    report.exceptionType = required(QStringLiteral("exceptionType"));
    report.exceptionName = optionalText(object, QStringLiteral("exceptionName"), &ok);
    report.reason = optionalText(object, QStringLiteral("reason"), &ok);
    const QJsonValue stack = object.value(QStringLiteral("stackTrace"));
    if (!stack.isArray())
        return std::nullopt;
    const QJsonArray frames = stack.toArray();
    for (const QJsonValue& frame : frames) {
        if (!frame.isString())
            return std::nullopt;
        report.stackTrace.append(frame.toString());
    }
    if (!ok)
        return std::nullopt;
    return report;
}

CrashReporter::CrashReporter(LogManager& log, const QString& reportDirectory, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_reportDirectory(reportDirectory)
    , m_network(new QNetworkAccessManager(this))
{
    StoredFile::makeFolder(m_reportDirectory);
}

CrashReporter& CrashReporter::shared()
{
    return sharedInstance([] { return new CrashReporter(LogManager::shared(), standardReportDirectory()); });
}

QString CrashReporter::standardReportDirectory()
{
    return AppPaths::dataDirectory() + QStringLiteral("/Crashes");
}

QString CrashReporter::deviceModel()
{
    return CrashSignals::machineModel();
}

QString CrashReporter::appVersion()
{
    return unknownWhenEmpty(AppInfo::version());
}

QString CrashReporter::buildNumber()
{
    return unknownWhenEmpty(AppInfo::buildNumber());
}

QString CrashReporter::osVersion()
{
    return QSysInfo::prettyProductName();
}

void CrashReporter::startMonitoring()
{
    if (m_isMonitoring)
        return;
    m_isMonitoring = true;

    CrashSignals::install({
        .reportDirectory = m_reportDirectory,
        .reportExtension = reportFileExtension,
        .reportId = encoding::uuidText(QUuid::createUuid()),
        .homePath = QDir::homePath(),
        .appVersion = appVersion(),
        .buildNumber = buildNumber(),
        .osVersion = osVersion(),
        .deviceModel = deviceModel(),
    });
    VLOG_TO(m_log, info, system, QStringLiteral("CrashReporter monitoring started"));
    startDeferred(this, [this] { return sendPendingReports(); });
}

// Temporaries with destructors inside a co_await expression are destroyed twice by GCC 12, so
// every awaited callable and future below is a named local.
QCoro::Task<> CrashReporter::sendPendingReports()
{
    if (m_backendURL.isEmpty()) {
        emit pendingReportsProcessed();
        co_return;
    }
    QPointer<CrashReporter> self(this);
    const QString directory = m_reportDirectory;
    const auto listReports = [directory] {
        StoredFile::removeLeftovers(directory + QStringLiteral("/*.") + reportFileExtension);
        QStringList found;
        const QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QFileInfo& entry : entries) {
            if (entry.suffix() == reportFileExtension)
                found.append(entry.absoluteFilePath());
        }
        return found;
    };
    QFuture<QStringList> listing = QtConcurrent::run(listReports);
    const QStringList paths = co_await listing;
    if (!self)
        co_return;

    for (const QString& path : paths) {
        const auto readReport = [path] {
            std::optional<CrashReport> report;
            const StoredFile::Contents contents = StoredFile::read(path, maxReportSize);
            if (contents.state == StoredFile::Contents::State::read)
                report = CrashReport::fromJson(contents.bytes);
            if (!report)
                QFile::remove(path);
            return report;
        };
        QFuture<std::optional<CrashReport>> reading = QtConcurrent::run(readReport);
        const std::optional<CrashReport> report = co_await reading;
        if (!self)
            co_return;
        if (!report)
            continue;

        QCoro::Task<bool> uploading = upload(*report);
        const bool accepted = co_await uploading;
        if (!self)
            co_return;
        if (accepted) {
            const auto removeReport = [path] { QFile::remove(path); };
            QFuture<void> removing = QtConcurrent::run(removeReport);
            co_await removing;
            if (!self)
                co_return;
            VLOG_TO(m_log, info, system, QStringLiteral("Crash report uploaded: ") + report->id);
        } else {
            VLOG_TO(m_log, warning, system, QStringLiteral("Failed to upload crash report: ") + report->id);
        }
    }
    emit pendingReportsProcessed();
}

QCoro::Task<bool> CrashReporter::upload(CrashReport report)
{
    const QUrl url(m_backendURL + QStringLiteral("/crash-report"), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        co_return false;
    QNetworkRequest request(url);
    request.setTransferTimeout(timerMilliseconds(uploadTimeout));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray body = report.toJsonBytes();
    QNetworkReply* sent = m_network->post(request, body);
    QPointer<QNetworkReply> reply(sent);
    co_await sent;
    if (!reply)
        co_return false;
    reply->deleteLater();
    // A status line alone is not enough: an answer that breaks off is a transport error.
    if (reply->error() != QNetworkReply::NoError)
        co_return false;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    co_return status.isValid() && status.toInt() == 200;
}

void CrashReporter::saveReport(const QString& exceptionType, const std::optional<QString>& exceptionName,
    const std::optional<QString>& reason, const QStringList& stackTrace)
{
    CrashReport report{
        .id = encoding::uuidText(QUuid::createUuid()),
        .timestamp = encoding::iso8601(QDateTime::currentDateTimeUtc()),
        .appVersion = appVersion(),
        .buildNumber = buildNumber(),
        .osVersion = osVersion(),
        .deviceModel = deviceModel(),
        .exceptionType = exceptionType,
        .exceptionName = exceptionName,
        .reason = reason,
        .stackTrace = stackTrace,
    };
    StoredFile::write(m_reportDirectory + u'/' + report.id + u'.' + reportFileExtension, report.toJsonBytes());
}

} // namespace vantrel

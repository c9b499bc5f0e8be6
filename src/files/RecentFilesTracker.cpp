#include "files/RecentFilesTracker.h"

#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

namespace vantrel {

namespace {

const QString missingText = QStringLiteral("The data couldn’t be read because it is missing.");
const QString malformedText = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");

QString urlText(const QUrl& url)
{
    return url.isLocalFile() ? encoding::fileUrlText(url.toLocalFile()) : url.toString(QUrl::FullyEncoded);
}

} // namespace

RecentFilesTracker::RecentFilesTracker(Defaults& defaults, LogManager& logger, Clock clock, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_logger(logger)
    , m_clock(std::move(clock))
{
    load();
}

RecentFilesTracker& RecentFilesTracker::shared()
{
    return sharedInstance([] { return new RecentFilesTracker(Defaults::standard(), LogManager::shared()); });
}

QString RecentFilesTracker::lastPathComponent(const QUrl& url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path == QStringLiteral("/"))
        return path;
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QByteArray RecentFilesTracker::encode(const QList<RecentFile>& files)
{
    QJsonArray array;
    for (const RecentFile& file : files) {
        array.append(QJsonObject{
            {QStringLiteral("id"), encoding::uuidText(file.id)},
            {QStringLiteral("url"), urlText(file.url)},
            {QStringLiteral("name"), file.name},
            {QStringLiteral("accessedAt"), encoding::iso8601(file.accessedAt)},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<RecentFile>> RecentFilesTracker::decode(const QByteArray& data, QString* error)
{
    const auto fail = [error](const QString& text) -> std::optional<QList<RecentFile>> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return fail(malformedText);

    QList<RecentFile> files;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return fail(malformedText);
        const QJsonObject object = value.toObject();
        for (const char* key : {"id", "url", "name", "accessedAt"}) {
            if (!object.contains(QLatin1String(key)) || object.value(QLatin1String(key)).isNull())
                return fail(missingText);
        }
        for (const char* key : {"id", "url", "name", "accessedAt"}) {
            if (!object.value(QLatin1String(key)).isString())
                return fail(malformedText);
        }
        const auto id = encoding::parseUuid(object.value(QStringLiteral("id")).toString());
        const QUrl url(object.value(QStringLiteral("url")).toString(), QUrl::StrictMode);
        const auto accessedAt = encoding::parseIso8601(object.value(QStringLiteral("accessedAt")).toString());
        if (!id || !url.isValid() || url.isEmpty() || !accessedAt)
            return fail(malformedText);
        files.append(RecentFile{*id, url, object.value(QStringLiteral("name")).toString(), *accessedAt});
    }
    return files;
}

void RecentFilesTracker::load()
{
    const QVariant stored = m_defaults.value(defaultsKey);
    if (!stored.isValid())
        return;
    QString error = malformedText;
    std::optional<QList<RecentFile>> files;
    if (stored.typeId() == QMetaType::QByteArray)
        files = decode(stored.toByteArray(), &error);
    if (!files) {
        VLOG_TO(m_logger, error, defaultCategory, QStringLiteral("Failed to load recent files: ") + error);
        // The next access replaces the stored list: keep it first, or leave it alone this run.
        QString failure;
        m_corruptCopyPath = m_defaults.keepValueAside(defaultsKey, &failure).value_or(QString());
        m_savingBlocked = m_corruptCopyPath.isEmpty();
        VLOG_TO(m_logger, error, defaultCategory,
            m_savingBlocked ? QStringLiteral("Recent files are not saved this run: ") + failure
                            : QStringLiteral("Unreadable recent files kept at ") + m_corruptCopyPath);
        return;
    }
    m_recentFiles = *files;
    emit recentFilesChanged();
}

void RecentFilesTracker::recordAccess(const QUrl& url, const std::optional<QString>& name)
{
    const RecentFile file{QUuid::createUuid(), url, name.value_or(lastPathComponent(url)), m_clock()};
    m_recentFiles.removeIf([&url](const RecentFile& f) { return f.url == url; });
    emit recentFilesChanged();
    m_recentFiles.prepend(file);
    emit recentFilesChanged();
    if (m_recentFiles.size() > maxStoredCount) {
        m_recentFiles.resize(maxStoredCount);
        emit recentFilesChanged();
    }
    save();
}

void RecentFilesTracker::recordAccesses(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    // Newest first; only as many as the list keeps can stay in it.
    QList<RecentFile> front;
    QSet<QUrl> taken;
    const QDateTime now = m_clock();
    for (auto it = urls.crbegin(); it != urls.crend() && front.size() < maxStoredCount; ++it) {
        if (taken.contains(*it))
            continue;
        taken.insert(*it);
        front.append(RecentFile{QUuid::createUuid(), *it, lastPathComponent(*it), now});
    }
    m_recentFiles.removeIf([&taken](const RecentFile& f) { return taken.contains(f.url); });
    front.append(m_recentFiles);
    if (front.size() > maxStoredCount)
        front.resize(maxStoredCount);
    m_recentFiles = std::move(front);
    emit recentFilesChanged();
    save();
}

void RecentFilesTracker::save()
{
    if (m_savingBlocked)
        return;
    if (!m_defaults.setValue(defaultsKey, encode(m_recentFiles)))
        VLOG_TO(m_logger, error, defaultCategory,
            QStringLiteral("Failed to save recent files: ") + QStringLiteral("The data couldn’t be written."));
}

} // namespace vantrel

#pragma once

#include "platform/Clock.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vantrel {

class Defaults;
class LogManager;

// A local file the user obtained recently.
struct RecentFile {
    QUuid id;
    QUrl url;
    QString name;
    QDateTime accessedAt;

    bool operator==(const RecentFile&) const = default;
};

// The recent-files list, newest first, kept as one JSON array in the defaults database. Used on
// the main thread only.
class RecentFilesTracker final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<vantrel::RecentFile> recentFiles READ recentFiles NOTIFY recentFilesChanged)

public:
    static constexpr int maxStoredCount = 20;
    static constexpr int maxDisplayCount = 5;
    static inline const QString defaultsKey = QStringLiteral("com.vantrel.recentFiles");

    // Loads the stored list.
    RecentFilesTracker(Defaults& defaults, LogManager& logger, Clock clock = systemNow, QObject* parent = nullptr);
    static RecentFilesTracker& shared();

    QList<RecentFile> recentFiles() const { return m_recentFiles; }

    // The last component of the URL's path, a trailing slash ignored ("/a/b/" gives "b").
    static QString lastPathComponent(const QUrl& url);

    // Puts the file at the front (replacing an entry with the same URL) and stores the list. The
    // name defaults to the URL's last path component.
    void recordAccess(const QUrl& url, const std::optional<QString>& name = std::nullopt);
    // The same for files obtained one after another, the newest last, each under its own name:
    // the list ends as those calls would leave it, announced and stored once.
    void recordAccesses(const QList<QUrl>& urls);

    void load();
    // Stores the list, unless an unreadable stored one could not be kept aside at load.
    void save();

    // Where an unreadable stored list was written aside at load (empty when none).
    QString corruptCopyPath() const { return m_corruptCopyPath; }

    // The stored form: a compact JSON array, newest first. Decoding fails as a whole on any
    // incomplete or malformed record, with the reason in *error.
    static QByteArray encode(const QList<RecentFile>& files);
    static std::optional<QList<RecentFile>> decode(const QByteArray& data, QString* error);

signals:
    void recentFilesChanged();

private:
    Defaults& m_defaults;
    LogManager& m_logger;
    Clock m_clock;
    QList<RecentFile> m_recentFiles;
    QString m_corruptCopyPath;
    bool m_savingBlocked = false;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::RecentFile)

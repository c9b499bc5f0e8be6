#pragma once

#include "platform/SystemLog.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class QThreadPool;

namespace vantrel {

// The user's defaults database: a typed key-value store kept in one JSON file.
//
// Every value keeps its type across a restart (bool, 64-bit integer, double, text, list of texts,
// bytes, date); an absent key is distinct from any value. Reads come from memory under a read
// lock, so any thread may read cheaply. Writes update memory at once and are saved in order on a
// private writer thread with an atomic replace, so a crash mid-write leaves the previous file.
// A file that cannot be read is copied aside before anything may overwrite it.
class Defaults final : public QObject {
    Q_OBJECT

public:
    // Unreadable files and failed saves are reported to `systemLog`.
    explicit Defaults(const QString& filePath, SystemLog& systemLog = SystemLog::shared(), QObject* parent = nullptr);
    ~Defaults() override;

    // The process-wide database under the user's config folder.
    static Defaults& standard();
    static QString standardFilePath();

    QString filePath() const { return m_filePath; }

    bool contains(const QString& key) const;
    // The stored value with its own type (QMetaType Bool, LongLong, Double, QString, QStringList,
    // QByteArray or QDateTime); invalid when absent.
    QVariant value(const QString& key) const;

    // Typed reads. Numbers convert among themselves and from numeric text, as the platform does;
    // anything that cannot convert reads as none.
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<qint64> integerValue(const QString& key) const;
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QStringList> stringListValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QDateTime> dateValue(const QString& key) const;

    // Stores the value under its own type; an int is stored as a 64-bit integer. Types outside the
    // supported set are refused (returns false) rather than stored in a lossy form.
    bool setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Waits until every change so far is on disk; false when the last save failed.
    bool synchronize();

    // Where an unreadable file was copied aside at load (empty when none).
    QString corruptCopyPath() const { return m_corruptCopyPath; }

signals:
    // Emitted on the thread that made the change.
    void valueChanged(const QString& key);

private:
    void load();
    void scheduleSave();
    void saveNow();

    QString m_filePath;
    SystemLog& m_systemLog;
    QString m_corruptCopyPath;
    mutable QReadWriteLock m_lock;
    QHash<QString, QVariant> m_values;
    quint64 m_generation = 0;      // bumped on every change, under m_lock
    quint64 m_savedGeneration = 0; // last generation written, touched only by the writer
    bool m_lastSaveOk = true;
    bool m_savingBlocked = false; // set at load only, before the writer runs
    std::unique_ptr<QThreadPool> m_writer;
};

} // namespace vantrel

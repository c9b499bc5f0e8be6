#include "mounting/MountRecord.h"

#include "platform/StoredFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace vantrel {

namespace {

constexpr qint64 maxRecordBytes = 4 * 1024 * 1024;

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

QString bootID()
{
    return QString::fromLatin1(readSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed());
}

// Field 22 of /proc/<pid>/stat, counted after the command name, which may hold spaces and ")".
QString startTimeOf(qint64 pid)
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/") + QString::number(pid) + QStringLiteral("/stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // The fields after the name start with the state, field 3.
    constexpr qsizetype startTimeIndex = 22 - 3;
    return fields.size() > startTimeIndex ? QString::fromLatin1(fields.at(startTimeIndex)) : QString();
}

} // namespace

QString MountRecord::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/Vantrel/mounts.json");
}

MountRecord::Owner MountRecord::currentOwner()
{
    const qint64 pid = ::getpid();
    return Owner{bootID(), pid, startTimeOf(pid)};
}

bool MountRecord::isAlive(const Owner& owner)
{
    if (owner.pid <= 0 || owner.bootID.isEmpty() || owner.bootID != bootID())
        return false;
    const QString started = startTimeOf(owner.pid);
    return !started.isEmpty() && started == owner.startTime;
}

QByteArray MountRecord::serialized() const
{
    QJsonObject object;
    object.insert(QStringLiteral("bootID"), owner.bootID);
    object.insert(QStringLiteral("pid"), owner.pid);
    object.insert(QStringLiteral("startTime"), owner.startTime);
    object.insert(QStringLiteral("mounts"), QJsonArray::fromStringList(mounts));
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<MountRecord> MountRecord::parse(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue boot = object.value(QStringLiteral("bootID"));
    const QJsonValue pid = object.value(QStringLiteral("pid"));
    const QJsonValue started = object.value(QStringLiteral("startTime"));
    const QJsonValue mounts = object.value(QStringLiteral("mounts"));
    if (!boot.isString() || !pid.isDouble() || !started.isString() || !mounts.isArray())
        return std::nullopt;
    MountRecord record;
    record.owner = Owner{boot.toString(), static_cast<qint64>(pid.toDouble()), started.toString()};
    for (const QJsonValue& mount : mounts.toArray()) {
        // Only absolute paths were ever written; anything else is not ours to release.
        if (!mount.isString() || !QDir::isAbsolutePath(mount.toString()))
            return std::nullopt;
        record.mounts.append(QDir::cleanPath(mount.toString()));
    }
    return record;
}

QString MountRecord::currentBootID()
{
    return bootID();
}

std::optional<MountRecord> MountRecord::read(const QString& path, QString* problem, bool* keptInPlace)
{
    if (keptInPlace)
        *keptInPlace = false;
    const StoredFile::Contents contents = StoredFile::read(path, maxRecordBytes);
    if (contents.state == StoredFile::Contents::State::missing)
        return std::nullopt;
    std::optional<MountRecord> record;
    QString why = contents.problem;
    if (contents.state == StoredFile::Contents::State::read) {
        record = parse(contents.bytes);
        if (!record)
            why = QStringLiteral("not a record of mounts");
    }
    if (record)
        return record;
    QString moveError;
    const std::optional<QString> aside = StoredFile::moveAside(path, &moveError);
    if (keptInPlace)
        *keptInPlace = !aside;
    if (problem)
        *problem = why + (aside ? QStringLiteral("; kept as ") + *aside : QStringLiteral("; ") + moveError);
    return std::nullopt;
}

std::optional<QString> MountRecord::write(const QString& path) const
{
    return StoredFile::write(path, serialized());
}

} // namespace vantrel

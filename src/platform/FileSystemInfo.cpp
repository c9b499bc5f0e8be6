#include "platform/FileSystemInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <atomic>
#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vantrel {

FileSystemInfo& FileSystemInfo::system()
{
    static FileSystemInfo* instance = new FileSystemInfo;
    return *instance;
}

QString FileSystemInfo::nameForMagic(unsigned long magic)
{
    switch (magic) {
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x517BUL:     // SMB
        return QStringLiteral("smbfs");
    case 0x6969UL: return QStringLiteral("nfs");
    case 0xEF53UL: return QStringLiteral("ext4");
    case 0x01021994UL: return QStringLiteral("tmpfs");
    case 0x9123683EUL: return QStringLiteral("btrfs");
    case 0x58465342UL: return QStringLiteral("xfs");
    case 0x794C7630UL: return QStringLiteral("overlay");
    case 0x65735546UL: return QStringLiteral("fuse");
    case 0x4D44UL: return QStringLiteral("msdos");
    default: return {};
    }
}

namespace {

constexpr unsigned long fuseMagic = 0x65735546UL;

// Mount points, roots and sources escape space, tab, line feed and backslash as \ooo.
QString unescapeMountField(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (const char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                out.append(static_cast<char>(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        out.append(c);
    }
    return QFile::decodeName(out);
}

} // namespace

QList<FileSystemInfo::MountEntry> FileSystemInfo::parseMountInfo(const QByteArray& text)
{
    QList<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (separator < 0 || separator + 1 >= fields.size())
            continue;
        const QList<QByteArray> device = fields.at(2).split(':');
        bool majorOk = false;
        bool minorOk = false;
        MountEntry entry;
        if (device.size() == 2) {
            entry.major = device.at(0).toUInt(&majorOk);
            entry.minor = device.at(1).toUInt(&minorOk);
        }
        if (!majorOk || !minorOk)
            continue;
        entry.mountPoint = unescapeMountField(fields.at(4));
        entry.type = QString::fromUtf8(fields.at(separator + 1));
        if (separator + 2 < fields.size())
            entry.source = unescapeMountField(fields.at(separator + 2));
        entries.append(entry);
    }
    return entries;
}

namespace {

std::atomic<quint64> mountTableReadCount{0};

std::optional<QByteArray> readFromStart(int fd)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    // procfs reports no size: read until the end.
    QByteArray text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return text;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        text.append(buffer, n);
    }
}

// The mount table as last read. Its open file answers a poll with POLLPRI once after each mount or
// unmount in this process's namespace, so every look-up polls without waiting and reads the table
// again only then: each caller sees every change made before its call, at the cost of one system
// call. Look-ups come from any thread.
class WatchedMountTable final {
public:
    QList<FileSystemInfo::MountEntry> current()
    {
        QMutexLocker lock(&m_mutex);
        if (m_fd < 0) {
            m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            m_table.reset();
        }
        if (m_fd < 0)
            return {};
        pollfd watch{m_fd, POLLPRI, 0};
        const bool changed = ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLPRI | POLLERR)) != 0;
        if (changed || !m_table) {
            ++mountTableReadCount;
            const std::optional<QByteArray> text = readFromStart(m_fd);
            if (!text) {
                ::close(m_fd);
                m_fd = -1;
                m_table.reset();
                return {};
            }
            m_table = FileSystemInfo::parseMountInfo(*text);
        }
        return *m_table;
    }

private:
    QMutex m_mutex;
    int m_fd = -1;
    std::optional<QList<FileSystemInfo::MountEntry>> m_table;
};

} // namespace

QList<FileSystemInfo::MountEntry> FileSystemInfo::mountTable() const
{
    static auto* table = new WatchedMountTable;
    return table->current();
}

quint64 FileSystemInfo::mountTableReads()
{
    return mountTableReadCount.load();
}

std::optional<FileSystemInfo::MountEntry> FileSystemInfo::mountAt(const QString& path) const
{
    if (path.isEmpty())
        return std::nullopt;
    QString target = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The table holds resolved paths. Only the parent is resolved: the mount point itself may
    // belong to a dead user-space mount that fails every look-up.
    const QFileInfo info(target);
    const QString parent = QFileInfo(info.path()).canonicalFilePath();
    if (target != QLatin1String("/") && !parent.isEmpty())
        target = parent == QLatin1String("/") ? QLatin1Char('/') + info.fileName()
                                              : parent + QLatin1Char('/') + info.fileName();
    const QList<MountEntry> table = mountTable();
    for (auto it = table.crbegin(); it != table.crend(); ++it) {
        if (it->mountPoint == target)
            return *it;
    }
    return std::nullopt;
}

std::optional<QString> FileSystemInfo::mountedTypeAt(const QString& path) const
{
    const std::optional<MountEntry> entry = mountAt(path);
    return entry ? std::optional<QString>(entry->type) : std::nullopt;
}

std::optional<QString> FileSystemInfo::typeName(const QString& path) const
{
    struct statfs info {};
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || ::statfs(native.constData(), &info) != 0)
        return std::nullopt;
    // f_type is signed on some ABIs; the magic numbers are 32-bit.
    const unsigned long magic = static_cast<unsigned long>(static_cast<quint32>(info.f_type));
    if (magic != fuseMagic)
        return nameForMagic(magic);

    // Every FUSE file system has the same magic; the mount table names the program behind it.
    struct stat self {};
    if (::stat(native.constData(), &self) != 0)
        return std::nullopt;
    const QList<MountEntry> table = mountTable();
    for (auto it = table.crbegin(); it != table.crend(); ++it) {
        if (it->major == ::major(self.st_dev) && it->minor == ::minor(self.st_dev))
            return it->type == QLatin1String("fuse.vantrel-smbfs") ? QStringLiteral("smbfs") : nameForMagic(magic);
    }
    return nameForMagic(magic);
}

bool FileSystemInfo::isMountRoot(const QString& path) const
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return false;
    struct stat self {};
    struct stat parent {};
    if (::stat(native.constData(), &self) != 0)
        return false;
    if (::stat((native + "/..").constData(), &parent) != 0)
        return false;
    if (self.st_dev != parent.st_dev)
        return true;
    // "/" is its own parent.
    return self.st_ino == parent.st_ino;
}

} // namespace vantrel

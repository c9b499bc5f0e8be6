#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace vantrel {

namespace {

const QString kType = QStringLiteral("type");
const QString kValue = QStringLiteral("value");

QJsonObject encodeValue(const QVariant& v)
{
    QJsonObject o;
    switch (v.typeId()) {
    case QMetaType::Bool:
        o[kType] = QStringLiteral("bool");
        o[kValue] = v.toBool();
        break;
    case QMetaType::LongLong:
        // JSON numbers are doubles: text keeps all 64 bits.
        o[kType] = QStringLiteral("integer");
        o[kValue] = QString::number(v.toLongLong());
        break;
    case QMetaType::Double: {
        const double d = v.toDouble();
        o[kType] = QStringLiteral("double");
        if (std::isfinite(d))
            o[kValue] = d;
        else
            o[kValue] = std::isnan(d) ? QStringLiteral("nan")
                                      : (d > 0 ? QStringLiteral("inf") : QStringLiteral("-inf"));
        break;
    }
    case QMetaType::QString:
        o[kType] = QStringLiteral("string");
        o[kValue] = v.toString();
        break;
    case QMetaType::QStringList:
        o[kType] = QStringLiteral("stringList");
        o[kValue] = QJsonArray::fromStringList(v.toStringList());
        break;
    case QMetaType::QByteArray:
        o[kType] = QStringLiteral("data");
        o[kValue] = QString::fromLatin1(v.toByteArray().toBase64());
        break;
    case QMetaType::QDateTime:
        o[kType] = QStringLiteral("date");
        o[kValue] = v.toDateTime().toUTC().toString(Qt::ISODateWithMs);
        break;
    default: break;
    }
    return o;
}

std::optional<QVariant> decodeValue(const QJsonValue& json)
{
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject o = json.toObject();
    const QString type = o.value(kType).toString();
    const QJsonValue v = o.value(kValue);
    if (type == QLatin1String("bool") && v.isBool())
        return QVariant(v.toBool());
    if (type == QLatin1String("integer") && v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().toLongLong(&ok);
        if (ok)
            return QVariant(n);
    }
    if (type == QLatin1String("double")) {
        if (v.isDouble())
            return QVariant(v.toDouble());
        const QString s = v.toString();
        if (s == QLatin1String("nan"))
            return QVariant(std::numeric_limits<double>::quiet_NaN());
        if (s == QLatin1String("inf"))
            return QVariant(std::numeric_limits<double>::infinity());
        if (s == QLatin1String("-inf"))
            return QVariant(-std::numeric_limits<double>::infinity());
    }
    if (type == QLatin1String("string") && v.isString())
        return QVariant(v.toString());
    if (type == QLatin1String("stringList") && v.isArray()) {
        QStringList list;
        for (const QJsonValue& item : v.toArray()) {
            if (!item.isString())
                return std::nullopt;
            list << item.toString();
        }
        return QVariant(list);
    }
    if (type == QLatin1String("data") && v.isString()) {
        const auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(),
            QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            return QVariant(*decoded);
    }
    if (type == QLatin1String("date") && v.isString()) {
        const QDateTime dt = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
        if (dt.isValid())
            return QVariant(dt.toUTC());
    }
    return std::nullopt;
}

std::optional<double> numberFromText(const QString& text)
{
    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

} // namespace

Defaults::Defaults(const QString& filePath, SystemLog& systemLog, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_systemLog(systemLog)
    , m_writer(std::make_unique<QThreadPool>())
{
    m_writer->setMaxThreadCount(1);
    m_writer->setExpiryTimeout(-1);
    load();
}

Defaults::~Defaults()
{
    m_writer->waitForDone();
}

Defaults& Defaults::standard()
{
    static Defaults* instance = new Defaults(standardFilePath());
    return *instance;
}

QString Defaults::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Vantrel/com.vantrel.app.defaults.json");
}

void Defaults::load()
{
    QFile file(m_filePath);
    if (!file.exists())
        return;
    QString problem;
    QJsonObject root;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString();
        else if (!doc.isObject())
            problem = QStringLiteral("the file does not hold a JSON object");
        else
            root = doc.object();
    }
    if (problem.isEmpty()) {
        for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
            if (auto v = decodeValue(it.value()))
                m_values.insert(it.key(), *v);
            else
                problem = QStringLiteral("the value of \"%1\" is not readable").arg(it.key());
        }
    }
    if (problem.isEmpty())
        return;

    // Keep the unreadable file: a later save must not be the only copy of the user's settings.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString copy = m_filePath + QStringLiteral(".unreadable-") + stamp;
    if (QFile::copy(m_filePath, copy)) {
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        m_corruptCopyPath = copy;
    } else {
        // Without a copy, saving would destroy the only one: changes stay in memory this run.
        m_savingBlocked = true;
    }
    m_systemLog.write(SystemLog::Type::Error, QStringLiteral("Defaults"),
        QStringLiteral("Settings file %1 is unreadable (%2); a copy was kept at %3")
            .arg(m_filePath, problem,
                m_corruptCopyPath.isEmpty() ? QStringLiteral("(copy failed)") : m_corruptCopyPath));
}

bool Defaults::contains(const QString& key) const
{
    QReadLocker locker(&m_lock);
    return m_values.contains(key);
}

QVariant Defaults::value(const QString& key) const
{
    QReadLocker locker(&m_lock);
    return m_values.value(key);
}

std::optional<bool> Defaults::boolValue(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::LongLong: return v.toLongLong() != 0;
    case QMetaType::Double: return v.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("yes") || s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("no") || s == QLatin1String("false"))
            return false;
        if (auto d = numberFromText(s))
            return *d != 0.0;
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

std::optional<qint64> Defaults::integerValue(const QString& key) const
{
    const QVariant v = value(key);
    auto fromDouble = [](double d) -> std::optional<qint64> {
        if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18)
            return std::nullopt;
        return static_cast<qint64>(d);
    };
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1 : 0;
    case QMetaType::LongLong: return v.toLongLong();
    case QMetaType::Double: return fromDouble(v.toDouble());
    case QMetaType::QString: {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        if (auto d = numberFromText(v.toString()))
            return fromDouble(*d);
        return std::nullopt;
    }
    default: return std::nullopt;
    }
}

std::optional<double> Defaults::doubleValue(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool() ? 1.0 : 0.0;
    case QMetaType::LongLong: return static_cast<double>(v.toLongLong());
    case QMetaType::Double: return v.toDouble();
    case QMetaType::QString: return numberFromText(v.toString());
    default: return std::nullopt;
    }
}

std::optional<QString> Defaults::stringValue(const QString& key) const
{
    const QVariant v = value(key);
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString();
    case QMetaType::LongLong: return QString::number(v.toLongLong());
    case QMetaType::Double: return QString::number(v.toDouble());
    default: return std::nullopt;
    }
}

std::optional<QStringList> Defaults::stringListValue(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    return std::nullopt;
}

std::optional<QByteArray> Defaults::dataValue(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return std::nullopt;
}

std::optional<QDateTime> Defaults::dateValue(const QString& key) const
{
    const QVariant v = value(key);
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    return std::nullopt;
}

bool Defaults::setValue(const QString& key, const QVariant& value)
{
    QVariant stored;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QStringList:
    case QMetaType::QByteArray: stored = value; break;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::Short: stored = QVariant(value.toLongLong()); break;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (value.toULongLong() > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return false;
        stored = QVariant(value.toLongLong());
        break;
    case QMetaType::Float: stored = QVariant(value.toDouble()); break;
    case QMetaType::QDateTime:
        if (!value.toDateTime().isValid())
            return false;
        stored = QVariant(value.toDateTime().toUTC());
        break;
    default: return false;
    }
    {
        QWriteLocker locker(&m_lock);
        m_values.insert(key, stored);
        ++m_generation;
    }
    scheduleSave();
    emit valueChanged(key);
    return true;
}

void Defaults::remove(const QString& key)
{
    {
        QWriteLocker locker(&m_lock);
        if (m_values.remove(key) == 0)
            return;
        ++m_generation;
    }
    scheduleSave();
    emit valueChanged(key);
}

bool Defaults::synchronize()
{
    m_writer->waitForDone();
    QReadLocker locker(&m_lock);
    return m_lastSaveOk;
}

void Defaults::scheduleSave()
{
    m_writer->start([this] { saveNow(); });
}

void Defaults::saveNow()
{
    QJsonObject root;
    quint64 generation = 0;
    {
        QReadLocker locker(&m_lock);
        generation = m_generation;
        if (generation == m_savedGeneration)
            return; // a later queued save already wrote this state
        for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it)
            root.insert(it.key(), encodeValue(it.value()));
    }

    if (m_savingBlocked) {
        QWriteLocker locker(&m_lock);
        m_savedGeneration = generation;
        m_lastSaveOk = false;
        return;
    }
    const QFileInfo info(m_filePath);
    QDir dir = info.absoluteDir();
    bool ok = true;
    if (!dir.exists()) {
        ok = QDir().mkpath(dir.absolutePath());
        if (ok)
            QFile::setPermissions(dir.absolutePath(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (ok) {
        QSaveFile file(m_filePath);
        ok = file.open(QIODevice::WriteOnly);
        if (ok) {
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            ok = file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) >= 0 && file.commit();
        }
        if (!ok)
            m_systemLog.write(SystemLog::Type::Error, QStringLiteral("Defaults"),
                QStringLiteral("Failed to save settings to %1: %2").arg(m_filePath, file.errorString()));
    }
    QWriteLocker locker(&m_lock);
    m_savedGeneration = generation;
    m_lastSaveOk = ok;
}

} // namespace vantrel

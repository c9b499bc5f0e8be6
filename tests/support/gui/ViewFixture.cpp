#include "support/gui/ViewFixture.h"

#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace vantrel::test {

SettableWifi::SettableWifi()
    : WifiInfo(QDBusConnection(QStringLiteral("vantrel-no-bus")))
{
}

std::optional<QString> SettableWifi::currentSSID() const
{
    QMutexLocker lock(&m_mutex);
    return m_ssid;
}

void SettableWifi::setSSID(const std::optional<QString>& ssid)
{
    QMutexLocker lock(&m_mutex);
    m_ssid = ssid;
}

NetworkStandIn::NetworkStandIn()
    : path(new FakePathMonitor)
    , wifi(new SettableWifi)
    , monitor(std::unique_ptr<PathMonitor>(path), std::unique_ptr<WifiInfo>(wifi))
{
}

void NetworkStandIn::publish(const std::optional<QString>& address, const std::optional<QString>& ssid)
{
    path->setIPv4(address);
    wifi->setSSID(ssid);
    emit path->pathUpdated(true);
    // The monitor applies an update in one queued call.
    QCoreApplication::sendPostedEvents(&monitor, QEvent::MetaCall);
}

ViewFixture::ViewFixture()
    : ConfigEnvironment(dir.path())
    , languageManager(defaults, [] { return QLocale(QLocale::English, QLocale::UnitedStates); })
    , engine(standInTools(), dir.filePath(QStringLiteral("Volumes")), FileSystemInfo::system(), keychain)
{
    Localization::useCatalog(QString());
}

NASConfig ViewFixture::addShare(const QString& name, const QString& address)
{
    NASConfig config;
    config.name = name;
    config.address = address;
    config.sharePath = QStringLiteral("share");
    config.authMethod = AuthMethod::guest;
    config.networkBinding.ipRange = QStringLiteral("0.0.0.0/0");
    return addShare(config);
}

NASConfig ViewFixture::addShare(NASConfig config)
{
    configStore.addConfig(config);
    return config;
}

void ViewFixture::setState(const NASConfig& config, const MountState& state, const std::optional<QUrl>& mountPoint)
{
    appState.updateStatus(config.id, state, mountPoint);
}

namespace {

std::optional<MountState> stateFromSample(const QString& name, const QString& errorText)
{
    if (name == QLatin1String("idle"))
        return MountState::idle();
    if (name == QLatin1String("mounting"))
        return MountState::mounting();
    if (name == QLatin1String("mounted"))
        return MountState::mounted();
    if (name == QLatin1String("unmounting"))
        return MountState::unmounting();
    if (name == QLatin1String("offline"))
        return MountState::offline();
    if (name == QLatin1String("failed"))
        return MountState::failed(VantrelError::mountFailed(errorText));
    return std::nullopt;
}

std::optional<QString> optionalText(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

} // namespace

bool ViewFixture::loadSample(const QString& path, QString* error)
{
    const auto fail = [error](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject())
        return fail(QStringLiteral("%1: %2").arg(path, parseError.errorString()));
    const QJsonObject root = document.object();

    const QJsonArray shares = root.value(QStringLiteral("shares")).toArray();
    for (qsizetype i = 0; i < shares.size(); ++i) {
        const QJsonObject entry = shares.at(i).toObject();
        QString configError;
        const std::optional<NASConfig> config = NASConfig::fromJson(entry.value(QStringLiteral("config")),
            &configError);
        if (!config)
            return fail(QStringLiteral("shares[%1].config: %2").arg(i).arg(configError));
        addShare(*config);
        const QJsonObject status = entry.value(QStringLiteral("status")).toObject();
        if (status.isEmpty())
            continue;
        const QString stateName = status.value(QStringLiteral("state")).toString();
        const std::optional<MountState> state = stateFromSample(stateName,
            status.value(QStringLiteral("error")).toString());
        if (!state)
            return fail(QStringLiteral("shares[%1].status: unknown state \"%2\"").arg(i).arg(stateName));
        std::optional<QUrl> mountPoint;
        if (const auto mountPath = optionalText(status, QStringLiteral("mountPoint")))
            mountPoint = QUrl::fromLocalFile(*mountPath);
        setState(*config, *state, mountPoint);
    }

    const QJsonObject network = root.value(QStringLiteral("network")).toObject();
    this->network.publish(optionalText(network, QStringLiteral("address")),
        optionalText(network, QStringLiteral("ssid")));
    return true;
}

} // namespace vantrel::test

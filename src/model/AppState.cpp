#include "model/AppState.h"

#include "model/NASConfig.h"

#include <QCoreApplication>
#include <QHash>

namespace vantrel {

namespace {

QString prefix(VantrelError::Kind kind)
{
    switch (kind) {
    case VantrelError::Kind::authenticationFailed: return QStringLiteral("Authentication failed: ");
    case VantrelError::Kind::keychainError: return QStringLiteral("Keychain error: ");
    case VantrelError::Kind::mountFailed: return QStringLiteral("Mount operation failed: ");
    case VantrelError::Kind::unmountFailed: return QStringLiteral("Unmount operation failed: ");
    case VantrelError::Kind::connectionFailed: return QStringLiteral("Connection failed: ");
    case VantrelError::Kind::timeout: return QStringLiteral("Operation timed out: ");
    case VantrelError::Kind::unknown: return QStringLiteral("An unexpected error occurred: ");
    }
    return {};
}

} // namespace

VantrelError::VantrelError()
    : VantrelError(Kind::unknown, QString())
{
}

VantrelError::VantrelError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload))
    , m_what(message().toStdString())
{
}

QString VantrelError::message() const
{
    return prefix(m_kind) + m_payload;
}

QString globalErrorMessage(GlobalError error)
{
    switch (error) {
    case GlobalError::allMountsFailed:
        return QStringLiteral("All NAS mount operations have failed. Check individual configurations for details.");
    }
    return {};
}

void registerModelMetaTypes()
{
    qRegisterMetaType<VantrelError>();
    qRegisterMetaType<GlobalError>();
    qRegisterMetaType<MountState>();
    qRegisterMetaType<NASStatus>();
    qRegisterMetaType<AppState>();
    qRegisterMetaType<MenuBarIconState>();
    qRegisterMetaType<NASConfig>();
    qRegisterMetaType<QList<NASConfig>>();
    qRegisterMetaType<QHash<QUuid, NASStatus>>();
}

MountState MountState::failed(const VantrelError& error)
{
    MountState s(Kind::failed);
    s.m_error = error;
    return s;
}

} // namespace vantrel

namespace {
void registerModelMetaTypesAtStartup()
{
    vantrel::registerModelMetaTypes();
}
} // namespace
Q_COREAPP_STARTUP_FUNCTION(registerModelMetaTypesAtStartup)

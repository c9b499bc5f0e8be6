#include "services/KeychainManager.h"

#include "model/AppState.h"
#include "platform/SecretStore.h"
#include "services/LogManager.h"

#include <QCryptographicHash>
#include <QStringDecoder>

namespace vantrel {

KeychainManager::KeychainManager(SecretStore& store, LogManager& logManager)
    : m_store(store)
    , m_log(logManager)
{
}

KeychainManager& KeychainManager::shared()
{
    static KeychainManager* instance = new KeychainManager(SecretStore::shared(), LogManager::shared());
    return *instance;
}

bool KeychainManager::savePassword(const QString& password, const QString& account)
{
    const QByteArray data = password.toUtf8();
    // Replace rather than duplicate an existing item.
    deletePassword(account);
    const SecretStore::Result result = m_store.addGenericPassword(service, account, data);
    if (!result.ok())
        logKeychainError(QStringLiteral("savePassword"), result.status, result.message);
    return result.ok();
}

std::optional<QString> KeychainManager::getPassword(const QString& account)
{
    const SecretStore::ReadResult result = m_store.findGenericPassword(service, account);
    if (result.status == SecretStore::itemNotFound)
        return std::nullopt;
    if (!result.ok()) {
        logKeychainError(QStringLiteral("getPassword"), result.status, result.message);
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(result.secret);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

void KeychainManager::deletePassword(const QString& account)
{
    const SecretStore::Result result = m_store.deleteGenericPassword(service, account);
    if (!result.ok() && result.status != SecretStore::itemNotFound)
        logKeychainError(QStringLiteral("deletePassword"), result.status, result.message);
}

void KeychainManager::cleanupSystemSMBKeychain(const QString& server, const QString& account)
{
    // Only the temporary items written below: a password the user saved for the same server and
    // account is theirs to keep.
    const SecretStore::Result result = m_store.deleteInternetPassword(server, account, /*onlyTemporary=*/true);
    if (!result.ok() && result.status != SecretStore::itemNotFound)
        logKeychainError(QStringLiteral("cleanupSystemSMBKeychain"), result.status, result.message);
}

void KeychainManager::writeSystemSMBKeychainEntry(const QString& server, const QString& account,
    const QString& password)
{
    const QByteArray data = password.toUtf8();
    cleanupSystemSMBKeychain(server, account);
    const SecretStore::Result result = m_store.addInternetPassword(server, account, data, /*temporary=*/true);
    if (result.ok())
        return;
    QString message = result.message.isEmpty() ? SecretStore::messageForStatus(result.status) : result.message;
    if (message.isEmpty())
        message = QStringLiteral("Unknown error");
    throw VantrelError::keychainError(QStringLiteral("Failed to write system SMB keychain entry: ") + message
        + QStringLiteral(" (OSStatus ") + QString::number(result.status) + QLatin1Char(')'));
}

QString KeychainManager::credentialKey(const QString& address, const QString& sharePath,
    const std::optional<QString>& username)
{
    const QString text = address + QLatin1Char('|') + sharePath + QLatin1Char('|') + username.value_or(QString());
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

void KeychainManager::logKeychainError(const QString& operation, qint32 status, const QString& backendMessage)
{
    QString message = backendMessage.isEmpty() ? SecretStore::messageForStatus(status) : backendMessage;
    if (message.isEmpty())
        message = QStringLiteral("Unknown");
    VLOG_TO(m_log, error, keychain,
        QStringLiteral("[KeychainManager] ") + operation + QStringLiteral(" failed: ") + message
            + QStringLiteral(" (OSStatus ") + QString::number(status) + QLatin1Char(')'));
}

} // namespace vantrel

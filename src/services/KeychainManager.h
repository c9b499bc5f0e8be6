#pragma once

#include <QString>

#include <optional>

namespace vantrel {

class LogManager;
class SecretStore;

// Share passwords in the user's secret store, one generic item per configuration, keyed by its
// keychainIdentifier; plus the short-lived SMB Internet item through which the mount tool finds
// the password. Stateless; every call is synchronous on the caller's thread.
class KeychainManager final {
public:
    KeychainManager(SecretStore& store, LogManager& logManager);
    KeychainManager(const KeychainManager&) = delete;
    KeychainManager& operator=(const KeychainManager&) = delete;

    // Built on SecretStore::shared() and LogManager::shared().
    static KeychainManager& shared();

    static inline const QString service = QStringLiteral("com.vantrel.credentials");

    // True when the item was stored (an existing one for the account is replaced).
    bool savePassword(const QString& password, const QString& account);
    // None when there is no item, it cannot be read or is not valid UTF-8.
    std::optional<QString> getPassword(const QString& account);
    void deletePassword(const QString& account);

    // Removes the temporary SMB item this system wrote for server and account (nothing else).
    void cleanupSystemSMBKeychain(const QString& server, const QString& account);
    // Writes the temporary SMB item; throws VantrelError (keychainError) on failure.
    void writeSystemSMBKeychainEntry(const QString& server, const QString& account, const QString& password);

    // Lowercase hex SHA-256 of "address|sharePath|username" (a missing user name counts as empty).
    static QString credentialKey(const QString& address, const QString& sharePath,
        const std::optional<QString>& username);

private:
    void logKeychainError(const QString& operation, qint32 status, const QString& backendMessage = {});

    SecretStore& m_store;
    LogManager& m_log;
};

} // namespace vantrel

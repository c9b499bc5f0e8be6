#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vantrel {

// The user's secret store (the Secret Service over the session D-Bus). Two kinds of item: a
// generic password (service, account) and an SMB Internet password (server, account, protocol).
// Every call is a synchronous D-Bus round-trip on the caller's thread; keep it off the main
// thread where a slow or locked keyring could stall the interface.
class SecretStore {
public:
    // Status codes follow the keychain's numbering so that log lines and error texts read alike.
    static constexpr qint32 success = 0;
    static constexpr qint32 itemNotFound = -25300;
    static constexpr qint32 duplicateItem = -25299;
    static constexpr qint32 authFailed = -25293;   // locked keyring, prompt dismissed
    static constexpr qint32 notAvailable = -25291; // no secret service reachable
    static constexpr qint32 userCanceled = -128;   // an unlock prompt was cancelled
    static constexpr qint32 param = -50;           // invalid arguments
    static constexpr qint32 decode = -26275;       // the backend returned something unreadable
    static constexpr qint32 unimplemented = -4;    // any other backend failure

    struct Result {
        qint32 status = success;
        QString message; // the backend's own text; empty when it gave none
        bool ok() const { return status == success; }
    };

    struct ReadResult {
        qint32 status = success;
        QString message;
        QByteArray secret;
        bool ok() const { return status == success; }
    };

    SecretStore() = default;
    virtual ~SecretStore() = default;
    SecretStore(const SecretStore&) = delete;
    SecretStore& operator=(const SecretStore&) = delete;

    static SecretStore& shared();

    // Generic passwords, identified by service and account.
    Result addGenericPassword(const QString& service, const QString& account, const QByteArray& secret);
    ReadResult findGenericPassword(const QString& service, const QString& account);
    Result deleteGenericPassword(const QString& service, const QString& account);

    // SMB Internet passwords, identified by server and account. Items written with
    // `temporary` carry a mark of ours; delete with `onlyTemporary` removes only those, never
    // an item the user saved for the same server and account.
    Result addInternetPassword(const QString& server, const QString& account, const QByteArray& secret, bool temporary);
    ReadResult findInternetPassword(const QString& server, const QString& account);
    Result deleteInternetPassword(const QString& server, const QString& account, bool onlyTemporary);

    // The backend's text for a status when the call gave none; empty when there is none.
    static QString messageForStatus(qint32 status);
};

} // namespace vantrel

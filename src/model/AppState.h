#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <exception>
#include <optional>
#include <string>

namespace vantrel {

// The error of every mount, unmount, connection and Keychain operation. Also thrown as an
// exception by asynchronous operations.
class VantrelError : public std::exception {
public:
    enum class Kind {
        authenticationFailed,
        keychainError,
        mountFailed,
        unmountFailed,
        connectionFailed,
        timeout,
        unknown
    };

    // An `unknown` error with an empty payload.
    VantrelError();
    VantrelError(Kind kind, QString payload);

    static VantrelError authenticationFailed(const QString& payload) { return {Kind::authenticationFailed, payload}; }
    static VantrelError keychainError(const QString& payload) { return {Kind::keychainError, payload}; }
    static VantrelError mountFailed(const QString& payload) { return {Kind::mountFailed, payload}; }
    static VantrelError unmountFailed(const QString& payload) { return {Kind::unmountFailed, payload}; }
    static VantrelError connectionFailed(const QString& payload) { return {Kind::connectionFailed, payload}; }
    static VantrelError timeout(const QString& payload) { return {Kind::timeout, payload}; }
    static VantrelError unknown(const QString& payload) { return {Kind::unknown, payload}; }

    Kind kind() const { return m_kind; }
    QString payload() const { return m_payload; }
    // The prefix of the case followed by the payload, nothing trimmed.
    QString message() const;
    const char* what() const noexcept override { return m_what.c_str(); }

    bool operator==(const VantrelError& other) const { return m_kind == other.m_kind && m_payload == other.m_payload; }

private:
    Kind m_kind = Kind::unknown;
    QString m_payload;
    std::string m_what;
};

enum class GlobalError { allMountsFailed };
QString globalErrorMessage(GlobalError error);

class MountState {
public:
    enum class Kind { idle, mounting, mounted, unmounting, offline, failed };

    MountState() = default;
    static MountState idle() { return MountState(Kind::idle); }
    static MountState mounting() { return MountState(Kind::mounting); }
    static MountState mounted() { return MountState(Kind::mounted); }
    static MountState unmounting() { return MountState(Kind::unmounting); }
    static MountState offline() { return MountState(Kind::offline); }
    static MountState failed(const VantrelError& error);

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    // The error of a failed state.
    std::optional<VantrelError> error() const { return m_error; }

    bool operator==(const MountState& other) const { return m_kind == other.m_kind && m_error == other.m_error; }

private:
    explicit MountState(Kind kind)
        : m_kind(kind)
    {
    }
    Kind m_kind = Kind::idle;
    std::optional<VantrelError> m_error;
};

struct NASStatus {
    QUuid configID;
    MountState mountState;
    std::optional<QUrl> mountPoint;
    std::optional<VantrelError> lastError;
    std::optional<QDateTime> lastMountedAt;

    NASStatus() = default;
    explicit NASStatus(const QUuid& id)
        : configID(id)
    {
    }
    QUuid id() const { return configID; }
    bool operator==(const NASStatus& other) const = default;
};

class AppState {
public:
    enum class Kind { unconfigured, idle, operating, active, error };

    AppState() = default;
    static AppState unconfigured() { return AppState(Kind::unconfigured); }
    static AppState idle() { return AppState(Kind::idle); }
    static AppState operating() { return AppState(Kind::operating); }
    static AppState active() { return AppState(Kind::active); }
    static AppState error(GlobalError e)
    {
        AppState s(Kind::error);
        s.m_error = e;
        return s;
    }

    Kind kind() const { return m_kind; }
    std::optional<GlobalError> globalError() const { return m_error; }
    bool operator==(const AppState& other) const = default;

private:
    explicit AppState(Kind kind)
        : m_kind(kind)
    {
    }
    Kind m_kind = Kind::unconfigured;
    std::optional<GlobalError> m_error;
};

enum class MenuBarIconState { idle, allMounted, partiallyMounted, allFailed, offline, mounting };

inline size_t qHash(MenuBarIconState s, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(s), seed);
}
inline size_t qHash(GlobalError e, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(e), seed);
}

// Registers the model's value types with the meta-type system so that they travel through queued
// signals. Idempotent; also runs by itself when the application object is created.
void registerModelMetaTypes();

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::VantrelError)
Q_DECLARE_METATYPE(vantrel::GlobalError)
Q_DECLARE_METATYPE(vantrel::MountState)
Q_DECLARE_METATYPE(vantrel::NASStatus)
Q_DECLARE_METATYPE(vantrel::AppState)
Q_DECLARE_METATYPE(vantrel::MenuBarIconState)

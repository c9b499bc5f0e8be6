// libsecret pulls in GLib, whose headers use "signals" as a member name; it must come before any
// Qt header defines that word as a macro.
#include <libsecret/secret.h>

#include "platform/SecretStore.h"
#include "platform/Threading.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>
#include <memory>

namespace vantrel {

namespace {

// Our own mark on the temporary SMB items, so clean-up never touches anything else.
constexpr const char* temporaryAttribute = "com.vantrel.temporary";
constexpr const char* temporaryValue = "true";
constexpr const char* smbProtocol = "smb";

// A schema whose attributes are all strings; libsecret's reserved fields stay empty, and the first
// empty attribute ends the list.
SecretSchema stringSchema(const char* name, std::initializer_list<const char*> attributes)
{
    SecretSchema schema{};
    schema.name = name;
    schema.flags = SECRET_SCHEMA_NONE;
    size_t i = 0;
    for (const char* attribute : attributes)
        schema.attributes[i++] = {attribute, SECRET_SCHEMA_ATTRIBUTE_STRING};
    return schema;
}

const SecretSchema* genericSchema()
{
    static const SecretSchema schema = stringSchema("com.vantrel.GenericPassword", {"service", "account"});
    return &schema;
}

const SecretSchema* internetSchema()
{
    static const SecretSchema schema = stringSchema("com.vantrel.InternetPassword",
        {"server", "account", "protocol", temporaryAttribute});
    return &schema;
}

struct HashTableDeleter {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableDeleter>;

struct ErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

struct ValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};

class AttributeBuilder {
public:
    AttributeBuilder()
        : m_table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free))
    {
    }
    AttributeBuilder& add(const char* name, const QString& value) { return add(name, value.toUtf8()); }
    AttributeBuilder& add(const char* name, const QByteArray& value)
    {
        g_hash_table_insert(m_table.get(), g_strdup(name), g_strndup(value.constData(), gsize(value.size())));
        return *this;
    }
    GHashTable* get() const { return m_table.get(); }

private:
    Attributes m_table;
};

AttributeBuilder genericAttributes(const QString& service, const QString& account)
{
    AttributeBuilder attributes;
    attributes.add("service", service).add("account", account);
    return attributes;
}

AttributeBuilder internetAttributes(const QString& server, const QString& account)
{
    AttributeBuilder attributes;
    attributes.add("server", server).add("account", account).add("protocol", QByteArray(smbProtocol));
    return attributes;
}

qint32 statusForError(const GError* error)
{
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_IS_LOCKED: return SecretStore::authFailed;
        case SECRET_ERROR_NO_SUCH_OBJECT: return SecretStore::itemNotFound;
        case SECRET_ERROR_ALREADY_EXISTS: return SecretStore::duplicateItem;
        case SECRET_ERROR_PROTOCOL:
        case SECRET_ERROR_INVALID_FILE_FORMAT: return SecretStore::decode;
        default: return SecretStore::unimplemented;
        }
    }
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        return SecretStore::userCanceled;
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_ACCESS_DENIED:
        case G_DBUS_ERROR_AUTH_FAILED: return SecretStore::authFailed;
        case G_DBUS_ERROR_INVALID_ARGS: return SecretStore::param;
        default: return SecretStore::notAvailable;
        }
    }
    if (error->domain == G_IO_ERROR)
        return SecretStore::notAvailable; // no bus, no reply, refused connection
    return SecretStore::unimplemented;
}

SecretStore::Result resultForError(GError* raw)
{
    ErrorPtr error(raw);
    const qint32 status = statusForError(error.get());
    QString message = QString::fromUtf8(error->message ? error->message : "");
    if (message.isEmpty())
        message = SecretStore::messageForStatus(status);
    return {status, message};
}

SecretStore::Result store(const SecretSchema* schema, GHashTable* attributes, const QString& label,
    const QByteArray& secret)
{
    std::unique_ptr<SecretValue, ValueDeleter> value(secret_value_new(secret.constData(), secret.size(), "text/plain"));
    GError* error = nullptr;
    const QByteArray labelUtf8 = label.toUtf8();
    const gboolean ok = secret_password_storev_binary_sync(schema, attributes, SECRET_COLLECTION_DEFAULT,
        labelUtf8.constData(), value.get(), nullptr, &error);
    if (error)
        return resultForError(error);
    if (!ok)
        return {SecretStore::unimplemented, SecretStore::messageForStatus(SecretStore::unimplemented)};
    return {};
}

SecretStore::ReadResult lookup(const SecretSchema* schema, GHashTable* attributes)
{
    GError* error = nullptr;
    std::unique_ptr<SecretValue, ValueDeleter> value(
        secret_password_lookupv_binary_sync(schema, attributes, nullptr, &error));
    if (error) {
        const SecretStore::Result failure = resultForError(error);
        return {failure.status, failure.message, {}};
    }
    if (!value) // no error and no value: nothing matched
        return {SecretStore::itemNotFound, {}, {}};
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    return {SecretStore::success, {}, QByteArray(bytes, qsizetype(length))};
}

SecretStore::Result clear(const SecretSchema* schema, GHashTable* attributes)
{
    GError* error = nullptr;
    const gboolean removed = secret_password_clearv_sync(schema, attributes, nullptr, &error);
    if (error)
        return resultForError(error);
    if (!removed)
        return {SecretStore::itemNotFound, {}};
    return {};
}

} // namespace

SecretStore& SecretStore::shared()
{
    return sharedInstance([] { return new SecretStore; });
}

SecretStore::Result SecretStore::addGenericPassword(const QString& service, const QString& account,
    const QByteArray& secret)
{
    const AttributeBuilder attributes = genericAttributes(service, account);
    return store(genericSchema(), attributes.get(), service + QLatin1Char(' ') + account, secret);
}

SecretStore::ReadResult SecretStore::findGenericPassword(const QString& service, const QString& account)
{
    const AttributeBuilder attributes = genericAttributes(service, account);
    return lookup(genericSchema(), attributes.get());
}

SecretStore::Result SecretStore::deleteGenericPassword(const QString& service, const QString& account)
{
    const AttributeBuilder attributes = genericAttributes(service, account);
    return clear(genericSchema(), attributes.get());
}

SecretStore::Result SecretStore::addInternetPassword(const QString& server, const QString& account,
    const QByteArray& secret, bool temporary)
{
    AttributeBuilder attributes = internetAttributes(server, account);
    if (temporary)
        attributes.add(temporaryAttribute, QByteArray(temporaryValue));
    return store(internetSchema(), attributes.get(), QStringLiteral("smb://") + account + QLatin1Char('@') + server,
        secret);
}

SecretStore::ReadResult SecretStore::findInternetPassword(const QString& server, const QString& account)
{
    const AttributeBuilder attributes = internetAttributes(server, account);
    return lookup(internetSchema(), attributes.get());
}

SecretStore::Result SecretStore::deleteInternetPassword(const QString& server, const QString& account,
    bool onlyTemporary)
{
    AttributeBuilder attributes = internetAttributes(server, account);
    if (onlyTemporary)
        attributes.add(temporaryAttribute, QByteArray(temporaryValue));
    return clear(internetSchema(), attributes.get());
}

QString SecretStore::messageForStatus(qint32 status)
{
    switch (status) {
    case success: return QStringLiteral("No error.");
    case itemNotFound: return QStringLiteral("The specified item could not be found in the secret store.");
    case duplicateItem: return QStringLiteral("The specified item already exists in the secret store.");
    case authFailed: return QStringLiteral("The secret store is locked or refused access.");
    case notAvailable: return QStringLiteral("No secret service is available.");
    case userCanceled: return QStringLiteral("The user cancelled the operation.");
    case param: return QStringLiteral("One or more parameters passed to a function were not valid.");
    case decode: return QStringLiteral("Unable to decode the provided data.");
    default: return {};
    }
}

} // namespace vantrel

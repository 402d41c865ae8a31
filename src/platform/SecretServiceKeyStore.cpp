// GLib headers use names that Qt defines as macros, so they come first.
#include "DeviceKeySchema_p.h"

#include "SecretServiceKeyStore.h"

#include <QMutexLocker>

#include <memory>

namespace {

using devicekeyschema::keyType;

const SecretSchema* deviceKeySchema() {
    return devicekeyschema::schema();
}

constexpr const char* itemLabel = "Quorvale device key";

struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
struct GHashTableDeleter {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct SecretValueDeleter {
    void operator()(SecretValue* v) const { secret_value_unref(v); }
};
struct GObjectDeleter {
    void operator()(gpointer o) const { g_object_unref(o); }
};
struct ItemListDeleter {
    void operator()(GList* l) const { g_list_free_full(l, g_object_unref); }
};

using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;
using ServicePtr = std::unique_ptr<SecretService, GObjectDeleter>;
using ItemListPtr = std::unique_ptr<GList, ItemListDeleter>;
using CollectionPtr = std::unique_ptr<SecretCollection, GObjectDeleter>;
struct ShallowListDeleter {
    void operator()(GList* l) const { g_list_free(l); }
};
using ShallowListPtr = std::unique_ptr<GList, ShallowListDeleter>;

// The attribute table borrows the UTF-8 bytes of the tag, which must outlive it.
HashTablePtr attributesFor(const QByteArray& tagUtf8) {
    HashTablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
    g_hash_table_insert(table.get(), gpointer("application-tag"), gpointer(tagUtf8.constData()));
    g_hash_table_insert(table.get(), gpointer("key-type"), gpointer(keyType));
    return table;
}

QString describe(const GError* error) {
    return error ? QString::fromUtf8(error->message) : QStringLiteral("unknown Secret Service error");
}

} // namespace

std::optional<SecureBytes> SecretServiceKeyStore::find(const QString& tag) {
    std::optional<SecureBytes> secret;
    lookUp(tag, secret);
    return secret;
}

KeyStore::Status SecretServiceKeyStore::lookUp(const QString& tag, std::optional<SecureBytes>& secret) {
    secret.reset();
    const QByteArray tagUtf8 = tag.toUtf8();
    const HashTablePtr attributes = attributesFor(tagUtf8);
    GError* rawError = nullptr;
    const ValuePtr value(
        secret_password_lookupv_binary_sync(deviceKeySchema(), attributes.get(), nullptr, &rawError));
    const ErrorPtr error(rawError);
    if (error) {
        setLastError(describe(error.get()));
        return notAvailable;
    }
    if (!value)
        return itemNotFound;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    secret.emplace(QByteArrayView(bytes, qsizetype(length)));
    return success;
}

KeyStore::Status SecretServiceKeyStore::add(const QString& tag, const SecureBytes& privateKeyDer) {
    const QByteArray tagUtf8 = tag.toUtf8();
    const HashTablePtr attributes = attributesFor(tagUtf8);
    GError* rawError = nullptr;
    // Storing under attributes that already exist would overwrite that key, so an existing item wins.
    {
        const ValuePtr existing(
            secret_password_lookupv_binary_sync(deviceKeySchema(), attributes.get(), nullptr, &rawError));
        const ErrorPtr error(rawError);
        if (error) {
            setLastError(describe(error.get()));
            return notAvailable;
        }
        if (existing)
            return duplicateItem;
    }
    const ValuePtr value(secret_value_new(reinterpret_cast<const gchar*>(privateKeyDer.data()),
                                          gssize(privateKeyDer.size()), "application/octet-stream"));
    rawError = nullptr;
    const gboolean stored =
        secret_password_storev_binary_sync(deviceKeySchema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                           itemLabel, value.get(), nullptr, &rawError);
    const ErrorPtr error(rawError);
    if (!stored || error) {
        setLastError(describe(error.get()));
        return notAvailable;
    }
    return success;
}

KeyStore::Status SecretServiceKeyStore::retag(const QString& from, const QString& to) {
    GError* rawError = nullptr;
    const ServicePtr service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &rawError));
    if (rawError || !service) {
        const ErrorPtr error(rawError);
        setLastError(describe(error.get()));
        return notAvailable;
    }
    const QByteArray fromUtf8 = from.toUtf8();
    const QByteArray toUtf8 = to.toUtf8();
    const HashTablePtr query = attributesFor(fromUtf8);
    const ItemListPtr items(secret_service_search_sync(
        service.get(), deviceKeySchema(), query.get(),
        SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), nullptr, &rawError));
    if (rawError) {
        const ErrorPtr error(rawError);
        setLastError(describe(error.get()));
        return notAvailable;
    }
    if (!items)
        return itemNotFound;
    const HashTablePtr changed = attributesFor(toUtf8);
    // A tag finds one key: moving a key onto a tag that already has one would make both ambiguous.
    if (from != to) {
        const ItemListPtr occupied(secret_service_search_sync(service.get(), deviceKeySchema(), changed.get(),
                                                              SECRET_SEARCH_ALL, nullptr, &rawError));
        if (rawError) {
            const ErrorPtr error(rawError);
            setLastError(describe(error.get()));
            return notAvailable;
        }
        if (occupied)
            return duplicateItem;
    }
    for (GList* node = items.get(); node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        if (!secret_item_set_attributes_sync(item, deviceKeySchema(), changed.get(), nullptr, &rawError)) {
            const ErrorPtr error(rawError);
            setLastError(describe(error.get()));
            return failure;
        }
    }
    return success;
}

KeyStore::Status SecretServiceKeyStore::remove(const QString& tag) {
    const QByteArray tagUtf8 = tag.toUtf8();
    const HashTablePtr attributes = attributesFor(tagUtf8);
    GError* rawError = nullptr;
    const gboolean removed =
        secret_password_clearv_sync(deviceKeySchema(), attributes.get(), nullptr, &rawError);
    const ErrorPtr error(rawError);
    if (error) {
        setLastError(describe(error.get()));
        return notAvailable;
    }
    return removed ? success : itemNotFound;
}

QString SecretServiceKeyStore::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

void SecretServiceKeyStore::setLastError(const QString& error) {
    QMutexLocker lock(&m_mutex);
    m_lastError = error;
}

bool SecretServiceKeyStore::isAvailable() {
    // Connecting alone succeeds without a daemon behind the name; a real lookup tells.
    const HashTablePtr attributes = attributesFor(QByteArrayLiteral("quorvale-availability-probe"));
    GError* rawError = nullptr;
    const ValuePtr value(
        secret_password_lookupv_binary_sync(deviceKeySchema(), attributes.get(), nullptr, &rawError));
    const ErrorPtr error(rawError);
    return !error;
}

SecretServiceKeyStore::Reachability SecretServiceKeyStore::reachability() {
    // Asking for the default collection is a real call to the service (connecting alone is not), and it
    // opens no encrypted session, which a start-up can do without.
    GError* rawError = nullptr;
    const ServicePtr service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &rawError));
    if (rawError || !service) {
        const ErrorPtr error(rawError);
        return Reachability::noService;
    }
    const CollectionPtr collection(secret_collection_for_alias_sync(
        service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &rawError));
    if (rawError) {
        const ErrorPtr error(rawError);
        return Reachability::noService;
    }
    // Without a default collection the first stored key creates one.
    if (!collection || !secret_collection_get_locked(collection.get()))
        return Reachability::reachable;
    const ShallowListPtr objects(g_list_append(nullptr, collection.get()));
    const gint unlocked = secret_service_unlock_sync(service.get(), objects.get(), nullptr, nullptr, &rawError);
    const ErrorPtr error(rawError);
    // The collection object's own locked flag may only catch up later; the count is what the service said.
    return !error && unlocked > 0 ? Reachability::reachable : Reachability::locked;
}

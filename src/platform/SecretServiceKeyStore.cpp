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

namespace {

// The items under one tag, in every collection, with what the keyring let us see of them.
struct TagSearch {
    KeyStore::Status status = KeyStore::success;
    QString error;
    ItemListPtr items;
    // Items whose collection stayed locked: the unlock was refused or dismissed, or nothing could ask for it.
    int locked = 0;
};

ServicePtr connectToService(QString& error) {
    GError* rawError = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &rawError));
    const ErrorPtr problem(rawError);
    if (problem || !service) {
        error = describe(problem.get());
        return {};
    }
    return service;
}

// `unlock` asks the keyring to unlock what lies in a locked collection (the desktop may prompt for that);
// `loadSecrets` reads the secrets of what is unlocked.
TagSearch searchTag(SecretService* service, const QByteArray& tagUtf8, bool unlock, bool loadSecrets) {
    TagSearch search;
    const HashTablePtr attributes = attributesFor(tagUtf8);
    int flags = SECRET_SEARCH_ALL;
    if (unlock)
        flags |= SECRET_SEARCH_UNLOCK;
    if (loadSecrets)
        flags |= SECRET_SEARCH_LOAD_SECRETS;
    GError* rawError = nullptr;
    search.items.reset(secret_service_search_sync(service, deviceKeySchema(), attributes.get(),
                                                  SecretSearchFlags(flags), nullptr, &rawError));
    const ErrorPtr error(rawError);
    if (error) {
        search.status = KeyStore::notAvailable;
        search.error = describe(error.get());
        return search;
    }
    if (!search.items) {
        search.status = KeyStore::itemNotFound;
        return search;
    }
    for (GList* node = search.items.get(); node; node = node->next) {
        if (secret_item_get_locked(static_cast<SecretItem*>(node->data)))
            ++search.locked;
    }
    return search;
}

// The items under `tag` once the keyring was asked to unlock them (the desktop may prompt). Only when every
// one of them is unlocked is the answer success: an item that exists but stayed locked has not answered, and
// nothing may take its tag for an empty one.
TagSearch reachItems(const QByteArray& tagUtf8, bool loadSecrets, ServicePtr& service) {
    TagSearch search;
    service = connectToService(search.error);
    if (!service) {
        search.status = KeyStore::notAvailable;
        return search;
    }
    search = searchTag(service.get(), tagUtf8, true, loadSecrets);
    if (search.status == KeyStore::success && search.locked > 0) {
        search.status = KeyStore::notAvailable;
        search.error =
            QStringLiteral("a key under the tag lies in a locked collection, and it was not unlocked");
    }
    return search;
}

} // namespace

KeyStore::Status SecretServiceKeyStore::lookUp(const QString& tag, std::optional<SecureBytes>& secret) {
    secret.reset();
    ServicePtr service;
    // With one item readable and another locked, which of them is the key is not known either.
    const TagSearch search = reachItems(tag.toUtf8(), true, service);
    if (search.status != success) {
        if (search.status == notAvailable)
            setLastError(search.error);
        return search.status;
    }
    const ValuePtr value(secret_item_get_secret(static_cast<SecretItem*>(search.items.get()->data)));
    if (!value) {
        setLastError(QStringLiteral("the keyring did not hand out the key under the tag"));
        return notAvailable;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    secret.emplace(QByteArrayView(bytes, qsizetype(length)));
    return success;
}

KeyStore::Status SecretServiceKeyStore::add(const QString& tag, const SecureBytes& privateKeyDer) {
    QString error;
    const ServicePtr service = connectToService(error);
    if (!service) {
        setLastError(error);
        return notAvailable;
    }
    const QByteArray tagUtf8 = tag.toUtf8();
    // An item under the tag wins, wherever it lies and whether or not it is locked: it may be a user's key.
    {
        const TagSearch existing = searchTag(service.get(), tagUtf8, false, false);
        if (existing.status == success)
            return duplicateItem;
        if (existing.status != itemNotFound) {
            setLastError(existing.error);
            return notAvailable;
        }
    }
    GError* rawError = nullptr;
    CollectionPtr collection(secret_collection_for_alias_sync(service.get(), SECRET_COLLECTION_DEFAULT,
                                                              SECRET_COLLECTION_NONE, nullptr, &rawError));
    if (rawError) {
        const ErrorPtr problem(rawError);
        setLastError(describe(problem.get()));
        return notAvailable;
    }
    if (!collection) {
        // The first key of a desktop without a keyring yet: the keyring asks for the new one's password.
        collection.reset(secret_collection_create_sync(service.get(), "Default keyring",
                                                       SECRET_COLLECTION_DEFAULT,
                                                       SECRET_COLLECTION_CREATE_NONE, nullptr, &rawError));
        const ErrorPtr problem(rawError);
        if (problem || !collection) {
            setLastError(describe(problem.get()));
            return notAvailable;
        }
    }
    if (secret_collection_get_locked(collection.get())) {
        const ShallowListPtr objects(g_list_append(nullptr, collection.get()));
        const gint unlocked =
            secret_service_unlock_sync(service.get(), objects.get(), nullptr, nullptr, &rawError);
        const ErrorPtr problem(rawError);
        if (problem || unlocked <= 0) {
            setLastError(problem ? describe(problem.get()) : QStringLiteral("the keyring stayed locked"));
            return notAvailable;
        }
    }
    const HashTablePtr attributes = attributesFor(tagUtf8);
    const ValuePtr value(secret_value_new(reinterpret_cast<const gchar*>(privateKeyDer.data()),
                                          gssize(privateKeyDer.size()), "application/octet-stream"));
    // Never the keyring's "replace": an item filed under the tag meanwhile must stay as it is.
    const std::unique_ptr<SecretItem, GObjectDeleter> item(
        secret_item_create_sync(collection.get(), deviceKeySchema(), attributes.get(), itemLabel, value.get(),
                                SECRET_ITEM_CREATE_NONE, nullptr, &rawError));
    const ErrorPtr problem(rawError);
    if (problem || !item) {
        setLastError(describe(problem.get()));
        return notAvailable;
    }
    return success;
}

KeyStore::Status SecretServiceKeyStore::retag(const QString& from, const QString& to) {
    ServicePtr service;
    const TagSearch moving = reachItems(from.toUtf8(), false, service);
    if (moving.status != success) {
        if (moving.status == notAvailable)
            setLastError(moving.error);
        return moving.status;
    }
    const QByteArray toUtf8 = to.toUtf8();
    // A tag finds one key: moving a key onto a tag that already has one would make both ambiguous.
    if (from != to) {
        const TagSearch occupied = searchTag(service.get(), toUtf8, false, false);
        if (occupied.status == success)
            return duplicateItem;
        if (occupied.status != itemNotFound) {
            setLastError(occupied.error);
            return notAvailable;
        }
    }
    const HashTablePtr changed = attributesFor(toUtf8);
    for (GList* node = moving.items.get(); node; node = node->next) {
        auto* item = static_cast<SecretItem*>(node->data);
        GError* rawError = nullptr;
        if (!secret_item_set_attributes_sync(item, deviceKeySchema(), changed.get(), nullptr, &rawError)) {
            const ErrorPtr problem(rawError);
            setLastError(describe(problem.get()));
            return KeyStore::failure;
        }
    }
    return success;
}

KeyStore::Status SecretServiceKeyStore::remove(const QString& tag) {
    ServicePtr service;
    // Deleting only what happens to be unlocked would leave the tag holding a key it was said to have lost.
    const TagSearch search = reachItems(tag.toUtf8(), false, service);
    if (search.status != success) {
        if (search.status == notAvailable)
            setLastError(search.error);
        return search.status;
    }
    for (GList* node = search.items.get(); node; node = node->next) {
        GError* rawError = nullptr;
        if (!secret_item_delete_sync(static_cast<SecretItem*>(node->data), nullptr, &rawError)) {
            const ErrorPtr problem(rawError);
            setLastError(describe(problem.get()));
            return KeyStore::failure;
        }
    }
    return success;
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

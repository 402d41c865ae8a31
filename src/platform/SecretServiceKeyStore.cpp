// GLib headers use names that Qt defines as macros, so they come first. The keyring's own lists of a tag's
// locked and unlocked items come from libsecret's path-level calls: its item search has been seen to leave
// out an item of a locked collection while other programs changed collections, which would make a tag that
// holds a key look empty.
#define SECRET_API_SUBJECT_TO_CHANGE
#include "DeviceKeySchema_p.h"

#include "SecretServiceKeyStore.h"

#include <QMutexLocker>

#include <memory>
#include <string>

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
struct StrvDeleter {
    void operator()(gchar** v) const { g_strfreev(v); }
};
struct ShallowListDeleter {
    void operator()(GList* l) const { g_list_free(l); }
};

using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableDeleter>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;
using ServicePtr = std::unique_ptr<SecretService, GObjectDeleter>;
using CollectionPtr = std::unique_ptr<SecretCollection, GObjectDeleter>;
using ItemPtr = std::unique_ptr<SecretItem, GObjectDeleter>;
using StrvPtr = std::unique_ptr<gchar*, StrvDeleter>;
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

std::vector<std::string> pathsOf(gchar** paths) {
    std::vector<std::string> list;
    for (gchar** path = paths; path && *path; ++path)
        list.emplace_back(*path);
    return list;
}

// A NULL-terminated array that borrows the texts of `paths`.
std::vector<const gchar*> pathArray(const std::vector<std::string>& paths) {
    std::vector<const gchar*> array;
    for (const std::string& path : paths)
        array.push_back(path.c_str());
    array.push_back(nullptr);
    return array;
}

// What one call made of the keyring. A failure of the service itself (rather than an item that stayed
// locked) may be a daemon that ended, or one started since that knows nothing of our session: the call is
// then made once more on a fresh connection.
struct Outcome {
    KeyStore::Status status = KeyStore::success;
    QString error;
    bool serviceFailed = false;

    static Outcome failed(const GError* error) { return {KeyStore::notAvailable, describe(error), true}; }
};

// The items under one tag as the keyring lists them, in every collection.
struct Listing {
    std::vector<std::string> unlocked;
    std::vector<std::string> locked;
};

bool listTag(SecretService* service, const QByteArray& tagUtf8, Listing& listing, Outcome& outcome) {
    const HashTablePtr attributes = attributesFor(tagUtf8);
    gchar** unlocked = nullptr;
    gchar** locked = nullptr;
    GError* rawError = nullptr;
    const gboolean listed = secret_service_search_for_dbus_paths_sync(
        service, deviceKeySchema(), attributes.get(), nullptr, &unlocked, &locked, &rawError);
    const StrvPtr unlockedPaths(unlocked);
    const StrvPtr lockedPaths(locked);
    const ErrorPtr error(rawError);
    if (!listed || error) {
        outcome = Outcome::failed(error.get());
        return false;
    }
    listing.unlocked = pathsOf(unlocked);
    listing.locked = pathsOf(locked);
    return true;
}

// Lists the tag's items after asking the keyring to unlock those that are locked (the desktop may prompt
// for that). What stays locked has not answered.
bool reachTag(SecretService* service, const QByteArray& tagUtf8, Listing& listing, Outcome& outcome) {
    if (!listTag(service, tagUtf8, listing, outcome))
        return false;
    if (listing.locked.empty())
        return true;
    const std::vector<const gchar*> locked = pathArray(listing.locked);
    GError* rawError = nullptr;
    // A refused or dismissed unlock is no failure of the service: what it leaves locked shows below.
    secret_service_unlock_dbus_paths_sync(service, const_cast<const gchar**>(locked.data()), nullptr, nullptr,
                                          &rawError);
    const ErrorPtr ignored(rawError);
    return listTag(service, tagUtf8, listing, outcome);
}

// A call that read nothing to act on: the tag holds none, or some of its items stayed locked.
Outcome noneRead(bool complete) {
    if (complete)
        return {KeyStore::itemNotFound, {}, false};
    return {KeyStore::notAvailable,
            QStringLiteral("a key under the tag lies in a locked collection, and it was not unlocked"),
            false};
}

// One readable item: its path and secret.
struct Readable {
    std::string path;
    SecureBytes secret;
};

// The secrets of the tag's unlocked items. `complete` tells whether every item under the tag was read.
bool readTag(SecretService* service, const QByteArray& tagUtf8, std::vector<Readable>& items, bool& complete,
             Outcome& outcome) {
    Listing listing;
    if (!reachTag(service, tagUtf8, listing, outcome))
        return false;
    complete = listing.locked.empty();
    if (listing.unlocked.empty())
        return true;
    const std::vector<const gchar*> paths = pathArray(listing.unlocked);
    GError* rawError = nullptr;
    const HashTablePtr secrets(secret_service_get_secrets_for_dbus_paths_sync(
        service, const_cast<const gchar**>(paths.data()), nullptr, &rawError));
    const ErrorPtr error(rawError);
    if (error || !secrets) {
        outcome = Outcome::failed(error.get());
        return false;
    }
    for (const std::string& path : listing.unlocked) {
        auto* value = static_cast<SecretValue*>(g_hash_table_lookup(secrets.get(), path.c_str()));
        if (!value) {
            // Locked again meanwhile, or deleted: either way not read.
            complete = false;
            continue;
        }
        gsize length = 0;
        const gchar* bytes = secret_value_get(value, &length);
        items.push_back({path, SecureBytes(QByteArrayView(bytes, qsizetype(length)))});
    }
    return true;
}

// Does `act` to each readable item under the tag that `which` picks; an item that stays locked is never
// picked, and a tag with one is "could not ask" when nothing was picked.
Outcome eachPicked(SecretService* service, const QByteArray& tagUtf8, const KeyStore::Match& which,
                   const std::function<bool(const std::string& path, GError** error)>& act) {
    Outcome outcome;
    std::vector<Readable> items;
    bool complete = false;
    if (!readTag(service, tagUtf8, items, complete, outcome))
        return outcome;
    bool picked = false;
    for (const Readable& item : items) {
        if (!which(item.secret))
            continue;
        picked = true;
        GError* rawError = nullptr;
        const bool done = act(item.path, &rawError);
        const ErrorPtr problem(rawError);
        if (problem || !done)
            return Outcome{KeyStore::failure, describe(problem.get()), false};
    }
    return picked ? outcome : noneRead(complete);
}

ServicePtr connectToService(Outcome& outcome) {
    GError* rawError = nullptr;
    ServicePtr service(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &rawError));
    const ErrorPtr problem(rawError);
    if (problem || !service) {
        outcome = Outcome::failed(problem.get());
        return {};
    }
    return service;
}

// Runs `call` on the shared connection, and once more on a fresh one when the service itself failed.
Outcome onService(const std::function<Outcome(SecretService*)>& call) {
    Outcome outcome;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            secret_service_disconnect();
        ServicePtr service = connectToService(outcome);
        if (service)
            outcome = call(service.get());
        if (!outcome.serviceFailed)
            break;
    }
    return outcome;
}

} // namespace

KeyStore::Status SecretServiceKeyStore::lookUp(const QString& tag, std::vector<SecureBytes>& secrets) {
    const QByteArray tagUtf8 = tag.toUtf8();
    const Outcome outcome = onService([&](SecretService* service) {
        secrets.clear();
        Outcome found;
        std::vector<Readable> items;
        bool complete = false;
        if (!readTag(service, tagUtf8, items, complete, found))
            return found;
        for (Readable& item : items)
            secrets.push_back(std::move(item.secret));
        if (!complete || secrets.empty())
            return noneRead(complete);
        return found;
    });
    return answer(outcome.status, outcome.error);
}

KeyStore::Status SecretServiceKeyStore::add(const QString& tag, const SecureBytes& privateKeyDer) {
    const QByteArray tagUtf8 = tag.toUtf8();
    const Outcome outcome = onService([&](SecretService* service) {
        Outcome filed;
        // An item under the tag wins, wherever it lies and whether or not it is locked: it may be a user's
        // key.
        Listing existing;
        if (!listTag(service, tagUtf8, existing, filed))
            return filed;
        if (!existing.unlocked.empty() || !existing.locked.empty())
            return Outcome{duplicateItem, {}, false};
        GError* rawError = nullptr;
        CollectionPtr collection(secret_collection_for_alias_sync(
            service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &rawError));
        if (rawError) {
            const ErrorPtr problem(rawError);
            return Outcome::failed(problem.get());
        }
        if (!collection) {
            // The first key where the keyring has no default collection yet: it asks for the new one's
            // password.
            collection.reset(
                secret_collection_create_sync(service, "Default keyring", SECRET_COLLECTION_DEFAULT,
                                              SECRET_COLLECTION_CREATE_NONE, nullptr, &rawError));
            const ErrorPtr problem(rawError);
            if (problem || !collection)
                return Outcome{notAvailable, describe(problem.get()), false};
        }
        if (secret_collection_get_locked(collection.get())) {
            const ShallowListPtr objects(g_list_append(nullptr, collection.get()));
            const gint unlocked =
                secret_service_unlock_sync(service, objects.get(), nullptr, nullptr, &rawError);
            const ErrorPtr problem(rawError);
            if (problem || unlocked <= 0)
                return Outcome{
                    notAvailable,
                    problem ? describe(problem.get()) : QStringLiteral("the keyring stayed locked"), false};
        }
        const HashTablePtr attributes = attributesFor(tagUtf8);
        const ValuePtr value(secret_value_new(reinterpret_cast<const gchar*>(privateKeyDer.data()),
                                              gssize(privateKeyDer.size()), "application/octet-stream"));
        // Never the keyring's "replace": an item filed under the tag meanwhile must stay as it is.
        const ItemPtr item(secret_item_create_sync(collection.get(), deviceKeySchema(), attributes.get(),
                                                   itemLabel, value.get(), SECRET_ITEM_CREATE_NONE, nullptr,
                                                   &rawError));
        const ErrorPtr problem(rawError);
        if (problem || !item)
            return Outcome{notAvailable, describe(problem.get()), false};
        return filed;
    });
    return answer(outcome.status, outcome.error);
}

KeyStore::Status SecretServiceKeyStore::retag(const QString& from, const QString& to, const Match& which) {
    const QByteArray fromUtf8 = from.toUtf8();
    const QByteArray toUtf8 = to.toUtf8();
    const Outcome outcome = onService([&](SecretService* service) {
        Outcome moved;
        // A tag finds its items by the tag alone: a key moved beside another would be one of two.
        if (from != to) {
            Listing occupied;
            if (!listTag(service, toUtf8, occupied, moved))
                return moved;
            if (!occupied.unlocked.empty() || !occupied.locked.empty())
                return Outcome{duplicateItem, {}, false};
        }
        const HashTablePtr changed = attributesFor(toUtf8);
        return eachPicked(service, fromUtf8, which, [&](const std::string& path, GError** error) {
            const ItemPtr handle(
                secret_item_new_for_dbus_path_sync(service, path.c_str(), SECRET_ITEM_NONE, nullptr, error));
            if (handle && !*error)
                secret_item_set_attributes_sync(handle.get(), deviceKeySchema(), changed.get(), nullptr,
                                                error);
            return handle != nullptr;
        });
    });
    return answer(outcome.status, outcome.error);
}

KeyStore::Status SecretServiceKeyStore::remove(const QString& tag, const Match& which) {
    const QByteArray tagUtf8 = tag.toUtf8();
    const Outcome outcome = onService([&](SecretService* service) {
        return eachPicked(service, tagUtf8, which, [&](const std::string& path, GError** error) {
            return secret_service_delete_item_dbus_path_sync(service, path.c_str(), nullptr, error) != FALSE;
        });
    });
    return answer(outcome.status, outcome.error);
}

QString SecretServiceKeyStore::lastError() const {
    QMutexLocker lock(&m_mutex);
    return m_lastError;
}

KeyStore::Status SecretServiceKeyStore::answer(Status status, const QString& error) {
    if (status == notAvailable || status == failure)
        setLastError(error);
    return status;
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
    const gint unlocked =
        secret_service_unlock_sync(service.get(), objects.get(), nullptr, nullptr, &rawError);
    const ErrorPtr error(rawError);
    // The collection object's own locked flag may only catch up later; the count is what the service said.
    return !error && unlocked > 0 ? Reachability::reachable : Reachability::locked;
}

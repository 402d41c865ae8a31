#pragma once

#include "SecureBytes.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

// Where the device's private keys live: one item per key, filed under a tag. The item's secret is the
// private key as PKCS#8 DER. A tag may hold more than one item (another program's, or one that is no key at
// all), so every operation that takes or changes an item is told which one by its secret.
// Implementations are safe to call from several threads.
class KeyStore {
public:
    // Status codes of the key operations, 0 for success. The values follow the keychain's own codes so
    // that a status printed by the program means the same thing whichever store is behind it.
    enum Status : qint32 {
        success = 0,
        param = -50,
        notAvailable = -25291,
        duplicateItem = -25299,
        itemNotFound = -25300,
        failure = -25293,
    };

    // Picks, by its secret, the item an operation is for.
    using Match = std::function<bool(const SecureBytes& secret)>;

    virtual ~KeyStore();

    // The secrets of the items under `tag` that the store could read. itemNotFound means that the store
    // surely holds nothing under the tag and success that `secrets` is everything it holds there. Any other
    // status means that some item could not be read (its collection locked, the unlock refused or
    // dismissed) or that the store could not be asked at all: whatever decides to make, drop or delete
    // something on the answer that an item is not there must not take that for "not there".
    virtual Status lookUp(const QString& tag, std::vector<SecureBytes>& secrets) = 0;
    // Adds an item under `tag`. A tag that already has one, readable or not, keeps it and the call reports
    // duplicateItem: an existing item is never replaced.
    virtual Status add(const QString& tag, const SecureBytes& privateKeyDer) = 0;
    // Moves the items under `from` that `which` picks to `to`, in place, and only while `to` holds no item
    // at all (duplicateItem otherwise). itemNotFound when nothing under `from` is picked and every item there
    // was read.
    virtual Status retag(const QString& from, const QString& to, const Match& which) = 0;
    // Deletes the items under `tag` that `which` picks; every other item stays. itemNotFound when nothing is
    // picked and every item under the tag was read; when an item could not be read and none was picked, the
    // answer is that the store could not be asked.
    virtual Status remove(const QString& tag, const Match& which) = 0;
    // A short description of the last failure, for the program's trace lines (never secret material).
    virtual QString lastError() const = 0;

    // The first secret the store could read under `tag`, for tools and tests that file one item per tag.
    std::optional<SecureBytes> find(const QString& tag);
    // Picks every item: for tests and tools that clear tags of their own.
    static bool anyItem(const SecureBytes&) { return true; }
};

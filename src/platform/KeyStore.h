#pragma once

#include "SecureBytes.h"

#include <QString>

#include <optional>

// Where the device's private keys live: one item per key, found by its tag. The item's secret is the
// private key as PKCS#8 DER. Implementations are safe to call from several threads.
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

    virtual ~KeyStore();

    // The secret of the item under `tag`; absent when there is none or the store cannot be asked.
    virtual std::optional<SecureBytes> find(const QString& tag) = 0;
    // find(), telling an empty tag (itemNotFound) from a store that could not be asked (any other status).
    // itemNotFound means that the store surely holds no item under the tag: one it could not read (its
    // collection locked, the unlock refused or dismissed) makes the tag unanswered, never empty, since
    // whatever decides to make or delete a key acts on that answer. A store that cannot tell them apart
    // keeps the default, which never claims that a tag is empty.
    virtual Status lookUp(const QString& tag, std::optional<SecureBytes>& secret);
    // Adds an item under `tag`. A tag that already has one, readable or not, keeps it and the call reports
    // duplicateItem: an existing item is never replaced.
    virtual Status add(const QString& tag, const SecureBytes& privateKeyDer) = 0;
    // Moves every item under `from` to `to`, in place. A `to` that already has an item keeps it, nothing
    // moves and the call reports duplicateItem; when an item under `from` cannot be reached, nothing moves.
    virtual Status retag(const QString& from, const QString& to) = 0;
    // Deletes every item under `tag`; when one of them cannot be reached, none is deleted.
    virtual Status remove(const QString& tag) = 0;
    // A short description of the last failure, for the program's trace lines (never secret material).
    virtual QString lastError() const = 0;
};

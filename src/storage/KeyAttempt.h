#pragma once

#include "KeyChain.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

class CoreDataManager;

// One enrolment's device key, from before it exists until it is settled: under the signing tag of the user
// the enrolment stored, or deleted. The store keeps a record of the attempt that names the very key it makes
// before the keyring holds it, so that when the run ends midway the next start deletes that key and no other
// (CoreDataManager::settleDeviceKeys). Lives on the main thread, within the enrolment that uses it.
class KeyAttempt {
public:
    // Records an attempt under the enrolment tag `tag`; absent when the store did not take the record, and
    // then no key may be made.
    static std::optional<KeyAttempt> begin(CoreDataManager& store, QString tag);

    // The key under the tag: one found there, which is not this attempt's own, or one made now, named in
    // the record and only then filed. Absent when there is none to be had.
    QCoro::Task<std::optional<KeyChain::KeyPair>> getOrCreateKeyPair();
    // The attempt has stored its user; `keyMoved` tells whether the key now lies under the user's signing
    // tag.
    void userStored(bool keyMoved);
    // Ends the attempt. The record goes once the key is settled: moved to a stored user's signing tag,
    // deleted because no user was stored with it, or never this attempt's own. A key still under a stored
    // user's enrolment tag, or one the keyring did not delete, keeps its record for the next start.
    QCoro::Task<void> end();

private:
    KeyAttempt(CoreDataManager& store, qint64 record, QString tag);

    CoreDataManager* m_store;
    qint64 m_record;
    QString m_tag;
    // The key this attempt made, once named in the record; it may have lost the tag to a key filed there
    // first, which end() then leaves alone.
    std::optional<QString> m_keyIdentity;
    bool m_userStored = false;
    bool m_keyMoved = false;
};

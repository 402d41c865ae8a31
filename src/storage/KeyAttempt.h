#pragma once

#include "KeyChain.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

class CoreDataManager;

// One enrolment's device key, from before it exists until it is settled: named by the record of the user
// the enrolment stored, or deleted. The key is made under a tag of the attempt's own, so that no other
// attempt, organisation or data folder ever finds it there, and it stays under that tag for good. The store
// keeps a record of the attempt that names the very key it makes before the keyring holds it, and the user
// it is for before that user is stored, so that when the run ends midway the next start deletes that key and
// no other unless its user is stored (CoreDataManager::settleDeviceKeys). Lives on the main thread, within
// the enrolment that uses it; a copy would settle the same key twice.
class KeyAttempt {
public:
    // Records an attempt for the e-mail and PIN hash of an enrolment; absent when the store did not take the
    // record, and then no key may be made.
    static std::optional<KeyAttempt> begin(CoreDataManager& store, const QString& email,
                                           const QString& pinHash);

    KeyAttempt(const KeyAttempt&) = delete;
    KeyAttempt& operator=(const KeyAttempt&) = delete;
    KeyAttempt(KeyAttempt&&) = default;
    KeyAttempt& operator=(KeyAttempt&&) = default;

    // The attempt's key, once made and filed: what the user's record names.
    std::optional<KeyChain::KnownKey> key() const;

    // A fresh key, named in the record and only then filed under the attempt's tag. Absent when there is
    // none to be had; keyringUnanswered() then tells whether the keyring could not be asked.
    QCoro::Task<std::optional<KeyChain::KeyPair>> makeKeyPair();
    bool keyringUnanswered() const { return m_keyringUnanswered; }
    // Names in the record the user the key is registered for, before that user is stored: a start after a
    // run that ended then gives the key to that user if it is stored, and deletes it otherwise. False when
    // the store did not take it, and then the user must not be stored.
    bool forUser(const QString& zid);
    // The attempt has stored its user, whose record names the key.
    void userStored() { m_userStored = true; }
    // Ends the attempt. The record goes once the key is settled: named by a stored user's record, deleted
    // because no user was stored with it, or never made. A key the keyring did not delete keeps its record
    // for the next start.
    QCoro::Task<void> end();

private:
    KeyAttempt(CoreDataManager& store, qint64 record, QString tag);

    CoreDataManager* m_store;
    qint64 m_record;
    QString m_tag;
    // The key this attempt made, once named in the record.
    std::optional<QString> m_keyIdentity;
    bool m_keyringUnanswered = false;
    bool m_filed = false;
    bool m_userStored = false;
};

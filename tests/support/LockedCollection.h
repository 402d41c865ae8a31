#pragma once

#include <QByteArray>
#include <QString>

// A second collection in the test's keyring that the test locks and unlocks at will, the way a user's
// second keyring is locked while the default one is open. The keyring daemon's own interface makes and
// unlocks it with a password, since the test keyring's prompter refuses every unlock at once
// (scripts/with-keyring.sh): a look at an item in it while it is locked asks for an unlock that nobody
// gives, as when the user dismisses the dialog.
// Made unlocked; deleted when this goes.
class LockedCollection {
public:
    LockedCollection();
    ~LockedCollection();
    LockedCollection(const LockedCollection&) = delete;
    LockedCollection& operator=(const LockedCollection&) = delete;

    // Empty once the collection is there; else what went wrong.
    QString error() const { return m_error; }

    // Files `secret` in this collection as the client files a device key under `tag`.
    bool file(const QString& tag, const QByteArray& secret);
    bool lock();
    bool unlock();

private:
    bool call(const char* path, const char* interface, const char* method, void* parameters, void** reply);

    void* m_connection = nullptr;
    QString m_session;
    QString m_path;
    QString m_error;
    int m_turn = -1;
};

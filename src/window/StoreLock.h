#pragma once

#include <QString>

// One running client per store: the running client holds an exclusive lock on a private file (0600) beside
// the store for as long as it runs. Each window keeps its own copy of the users, so a second one on the
// same store would lose the attempt counts and removals made in the first. The system lets the lock go
// with the process, however the process ends, so a crashed run never blocks the next.
class StoreLock {
public:
    enum class Outcome {
        held,
        // Another running client holds it.
        takenByAnother,
        // The lock file could not be made or locked (see errorString()).
        unavailable,
    };

    // `storePath` empty: the store's default place.
    explicit StoreLock(const QString& storePath = {});
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    // Takes the lock without waiting.
    Outcome take();

    const QString& errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
    int m_descriptor = -1;
};

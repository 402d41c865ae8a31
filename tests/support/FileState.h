#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

// A file or folder as a test saw it: enough to tell afterwards whether anything touched it.
struct FileState {
    bool exists = false;
    mode_t mode = 0;
    off_t size = 0;
    timespec modified{};
    QByteArray bytes;
    QStringList entries;

    static FileState of(const QString& path) {
        FileState state;
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            return state;
        state.exists = true;
        state.mode = status.st_mode;
        state.size = status.st_size;
        state.modified = status.st_mtim;
        if (S_ISDIR(status.st_mode)) {
            state.entries =
                QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        } else if (QFile file(path); file.open(QIODevice::ReadOnly)) {
            state.bytes = file.readAll();
        }
        return state;
    }
    // The same file, unchanged but for a mode the client may have narrowed to the owner's alone (as it
    // does with all of its files): never widened.
    bool isUntouchedFrom(const FileState& before) const {
        const mode_t othersBits = 077;
        return exists == before.exists && (mode & ~othersBits) == (before.mode & ~othersBits) &&
               (mode & othersBits & ~before.mode) == 0 && size == before.size &&
               modified.tv_sec == before.modified.tv_sec && modified.tv_nsec == before.modified.tv_nsec &&
               bytes == before.bytes && entries == before.entries;
    }
};

#pragma once

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <vector>

// Spoils one page in the middle of a table of a closed store, the way a failing disk or an interrupted
// copy does: a walk over the table's rows reads those before it, then stops on an error. False when the
// table does not span the three leaf pages that takes, or the file cannot be written.
inline bool damageMiddlePageOf(const QString& storePath, const QString& table) {
    std::vector<qint64> leaves;
    qint64 pageSize = 0;
    const QString connection = QStringLiteral("damage-") + storePath;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(storePath);
        if (db.open()) {
            QSqlQuery query(db);
            // The pages a rowid-ordered walk visits, in that order.
            if (query.exec(QStringLiteral("SELECT pageno FROM dbstat WHERE name = '%1' AND pagetype = 'leaf' "
                                          "ORDER BY path")
                               .arg(table))) {
                while (query.next())
                    leaves.push_back(query.value(0).toLongLong());
            }
            if (query.exec(QStringLiteral("PRAGMA page_size")) && query.next())
                pageSize = query.value(0).toLongLong();
            // Everything the log holds goes into the file, so that the damage is not read around.
            query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    if (leaves.size() < 3 || pageSize <= 0)
        return false;
    QFile file(storePath);
    if (!file.open(QIODevice::ReadWrite) || !file.seek((leaves[leaves.size() / 2] - 1) * pageSize))
        return false;
    return file.write(QByteArray(int(pageSize), '\xA5')) == pageSize;
}

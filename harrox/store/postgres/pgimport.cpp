#include "pgimport.h"

#include "pgconnection.h"
#include "pgconversationstore.h"
#include "pgschema.h"
#include "sqliteschema.h"
#include "sqlitestatement.h"

#include <QCryptographicHash>

#include <sqlite3.h>

namespace {

QByteArray importKey(qint64 id, const QByteArray &postedAt, const QString &name, const QString &body,
                     const QString &peer)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArray &part : {postedAt, name.toUtf8(), body.toUtf8(), peer.toUtf8()}) {
        hash.addData(QByteArray::number(part.size()) + ':');
        hash.addData(part);
    }
    return "import:" + QByteArray::number(id) + ':' + hash.result().toHex();
}

} // namespace

bool PgImport::run(const QString &sqlitePath, const QString &conninfo, QString *report)
{
    sqlite3 *source = nullptr;
    // Read only: the source is left exactly as it was.
    if (sqlite3_open_v2(sqlitePath.toUtf8().constData(), &source, SQLITE_OPEN_READONLY, nullptr)
        != SQLITE_OK) {
        *report = QStringLiteral("cannot open %1: %2")
                          .arg(sqlitePath, QString::fromUtf8(sqlite3_errmsg(source)));
        sqlite3_close_v2(source);
        return false;
    }
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> closer(source, sqlite3_close_v2);
    const int version = SqliteSchema::version(source);
    if (version < 1 || version > SqliteSchema::LatestVersion) {
        *report = QStringLiteral("%1 is not a conversation of this version of harrox").arg(sqlitePath);
        return false;
    }
    // Before the peer column, nobody's address was kept.
    SqliteStatement rows(source,
                         version >= 2
                                 ? "SELECT id, posted_at, name, body, peer FROM messages ORDER BY id"
                                 : "SELECT id, posted_at, name, body, '' FROM messages ORDER BY id");

    if (!PgSchema::upgrade(conninfo, report))
        return false;
    PgConnection db(conninfo);
    PgConversationStore::prepareMessages(db);
    db.prepare("import_lock",
               "SELECT pg_advisory_xact_lock(" + QByteArray::number(PgSchema::PostLock) + ")");
    db.prepare("import_notify", "SELECT pg_notify('harrox_messages', '')");
    if (!db.open() || !db.exec("BEGIN").ok() || !db.run("import_lock").ok()) {
        *report = db.errorString();
        return false;
    }
    qint64 added = 0;
    qint64 present = 0;
    while (rows.nextRow()) {
        const QByteArray postedAt = QByteArray::number(rows.int64At(1));
        const QString name = rows.textAt(2);
        const QString body = rows.textAt(3);
        const QString peer = rows.textAt(4);
        const PgResult inserted = db.run("post_insert",
                                         {postedAt, name.toUtf8(), body.toUtf8(), peer.toUtf8(),
                                          importKey(rows.int64At(0), postedAt, name, body, peer)});
        if (!inserted.ok()) {
            *report = db.errorString();
            return false; // closing the connection rolls back
        }
        (inserted.rows() == 1 ? added : present) += 1;
    }
    if (rows.failed()) {
        *report = QStringLiteral("reading %1: %2").arg(sqlitePath, rows.errorString());
        return false;
    }
    if (!db.run("import_notify").ok() || !db.exec("COMMIT").ok()) {
        *report = db.errorString();
        return false;
    }
    *report = QStringLiteral("%1 lines of %2 imported, %3 were there already")
                      .arg(added)
                      .arg(sqlitePath)
                      .arg(present);
    return true;
}

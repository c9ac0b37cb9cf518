#include "diskwatch.h"
#include "retention.h"
#include "sqliteconversationstore.h"
#include "sqliteschema.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// Runs SQL on a connection of its own beside the store.
bool run(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    const bool ok = SqliteStatement(db, sql).run();
    sqlite3_close(db);
    return ok;
}

StoredMessage message(const QString &body)
{
    return {QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC), QString::fromUtf8("山田"), body, QStringLiteral("127.0.0.1:5")};
}

bool append(ConversationStore &store, QList<StoredMessage> messages)
{
    return store.append(messages);
}

QStringList bodies(const QList<StoredMessage> &messages)
{
    QStringList out;
    for (const StoredMessage &m : messages)
        out.append(m.body);
    return out;
}

} // namespace

class TestSqliteStore : public QObject
{
    Q_OBJECT

private slots:
    void storesReopensAndUpgrades();
    void failedBatchIsRolledBack();
    void oldestLeaveInBatches();
    void diskRunningLowIsLoggedOnce();

private:
    QTemporaryDir m_dir;
};

void TestSqliteStore::storesReopensAndUpgrades()
{
    const QString path = m_dir.filePath(QStringLiteral("old.db"));
    QVERIFY(run(path, "CREATE TABLE messages (id INTEGER PRIMARY KEY, posted_at INTEGER NOT NULL, name TEXT NOT NULL, body TEXT NOT NULL)"));
    QVERIFY(run(path, "INSERT INTO messages (posted_at, name, body) VALUES (1, 'ann', 'old')"));
    QVERIFY(run(path, "PRAGMA user_version = 1"));
    {
        SqliteConversationStore store(path);
        QVERIFY2(store.isOpen(), qPrintable(store.errorString()));
        QVERIFY(append(store, {message(QStringLiteral("1")), message(QStringLiteral("2"))}));
    }
    SqliteConversationStore again(path);
    QCOMPARE(bodies(again.recent(3)), QStringList({QStringLiteral("old"), QStringLiteral("1"), QStringLiteral("2")}));
    const StoredMessage last = again.recent(1).constFirst();
    QCOMPARE(last.postedAt, message({}).postedAt);
    QCOMPARE(last.name + last.peer, message({}).name + message({}).peer);
    // A backup of the open store, never over an older one.
    const QString copy = m_dir.filePath(QStringLiteral("copy.db"));
    QString error;
    QVERIFY(SqliteConversationStore::backup(path, copy, &error) && !SqliteConversationStore::backup(path, copy, &error));
    QCOMPARE(bodies(SqliteConversationStore(copy).recent(3)), bodies(again.recent(3)));
    // For its owner alone, and never through a link planted at its name.
    QVERIFY(!(QFile::permissions(copy) & (QFile::ReadGroup | QFile::ReadOther)));
    const QString planted = m_dir.filePath(QStringLiteral("planted.db"));
    QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("elsewhere.db")), planted));
    QVERIFY(!SqliteConversationStore::backup(path, planted, &error) && error.contains(QStringLiteral("exists already"))
            && !QFile::exists(m_dir.filePath(QStringLiteral("elsewhere.db"))));
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*.db.*")}), QStringList());
    // The next version's database is refused, not downgraded.
    QVERIFY(run(path, ("PRAGMA user_version = " + QByteArray::number(SqliteSchema::LatestVersion + 1)).constData()));
    SqliteConversationStore newer(path);
    QVERIFY(!newer.isOpen() && newer.errorString().contains(QStringLiteral("newer")));
}

void TestSqliteStore::failedBatchIsRolledBack()
{
    const QString path = m_dir.filePath(QStringLiteral("fails.db"));
    SqliteConversationStore store(path);
    QVERIFY(run(path, "CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN NEW.body = 'bad' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QVERIFY(!append(store, {message(QStringLiteral("first")), message(QStringLiteral("bad"))}));
    QVERIFY(store.errorString().contains(QStringLiteral("refused")));
    // All or none, and the store goes on.
    QVERIFY(append(store, {message(QStringLiteral("after"))}));
    QCOMPARE(bodies(store.recent(10)), QStringList{QStringLiteral("after")});
}

void TestSqliteStore::oldestLeaveInBatches()
{
    SqliteConversationStore store(m_dir.filePath(QStringLiteral("kept.db")));
    const QDateTime now = message({}).postedAt;
    QList<StoredMessage> rows;
    for (int i = 0; i < 600; ++i) {
        rows.append(message(QStringLiteral("%1 ").arg(i) + QString(1000, u'x')));
        rows.last().postedAt = now.addDays(i < 300 ? -8 : -6);
    }
    QVERIFY(append(store, rows));
    for (const Retention::Settings settings : {Retention::Settings{7, 0}, Retention::Settings{0, store.usedBytes() / 4}}) {
        Retention retention(store, settings);
        QSignalSpy swept(&retention, &Retention::swept);
        retention.sweep(now);
        QTRY_COMPARE(swept.size(), 1);
        const QList<StoredMessage> kept = store.recent(1000);
        // By age exactly those; by size the oldest until what is used fits.
        QCOMPARE(swept.first().first().toInt(), settings.keepDays ? 300 : 300 - int(kept.size()));
        QVERIFY(settings.keepDays ? kept.size() == 300 : store.usedBytes() <= settings.keepBytes && !kept.isEmpty());
        QVERIFY(kept.last().body.startsWith(QStringLiteral("599 ")));
    }
}

void TestSqliteStore::diskRunningLowIsLoggedOnce()
{
    constexpr qint64 GiB = 1024LL * 1024 * 1024;
    DiskWatch watch(m_dir.path());
    QVERIFY(!watch.check(100 * GiB, 200 * GiB));
    QVERIFY(watch.check(GiB - 1, 200 * GiB));
    QVERIFY(!watch.check(GiB / 2, 200 * GiB));
    QVERIFY(watch.check(GiB, 10 * GiB)); // 10 %, 1 GiB: room again
    QVERIFY(watch.check(10 * GiB - 1, 200 * GiB)); // under 5 %
    watch.check();
}

QTEST_GUILESS_MAIN(TestSqliteStore)
#include "tst_sqlitestore.moc"

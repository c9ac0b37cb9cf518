#include "sqliteconversationstore.h"
#include "sqliteschema.h"
#include "sqlitestatement.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// A raw connection beside the store, to set up old layouts and faults.
class Database
{
public:
    explicit Database(const QString &path) { sqlite3_open(path.toUtf8().constData(), &m_db); }
    ~Database() { sqlite3_close(m_db); }

    sqlite3 *handle() const { return m_db; }
    bool run(const char *sql) const
    {
        SqliteStatement statement(m_db, sql);
        return statement.isValid() && statement.run();
    }

private:
    sqlite3 *m_db = nullptr;
};

StoredMessage message(const QString &body)
{
    return {QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC), QString::fromUtf8("山田"), body,
            QStringLiteral("127.0.0.1:5")};
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
    void storesAndReopens();
    void upgradeKeepsOldRows();
    void newerDatabaseIsRefused();
    void failedBatchIsRolledBack();

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    QString freshPath() { return m_dir.filePath(QStringLiteral("t%1.db").arg(++m_count)); }
};

void TestSqliteStore::storesAndReopens()
{
    const QString path = freshPath();
    {
        SqliteConversationStore store(path);
        QVERIFY2(store.isOpen(), qPrintable(store.errorString()));
        QVERIFY(store.append({message(QStringLiteral("1")), message(QStringLiteral("2"))}));
        QVERIFY(store.append({message(QStringLiteral("3"))}));
    }
    SqliteConversationStore again(path);
    QCOMPARE(bodies(again.recent(2)), QStringList({QStringLiteral("2"), QStringLiteral("3")}));
    const StoredMessage last = again.recent(1).constFirst();
    QCOMPARE(last.postedAt, message({}).postedAt);
    QCOMPARE(last.name, message({}).name);
    QCOMPARE(last.peer, message({}).peer);
}

void TestSqliteStore::upgradeKeepsOldRows()
{
    const QString path = freshPath();
    {
        Database db(path);
        QString error;
        QVERIFY(SqliteSchema::upgrade(db.handle(), &error, 1));
        QVERIFY(db.run("INSERT INTO messages (posted_at, name, body) VALUES (1, 'ann', 'old')"));
    }
    SqliteConversationStore store(path);
    QVERIFY2(store.isOpen(), qPrintable(store.errorString()));
    QCOMPARE(bodies(store.recent(10)), QStringList{QStringLiteral("old")});
    QVERIFY(store.append({message(QStringLiteral("new"))}));
    QCOMPARE(store.recent(1).constFirst().peer, message({}).peer);
}

void TestSqliteStore::newerDatabaseIsRefused()
{
    const QString path = freshPath();
    QVERIFY(Database(path).run("PRAGMA user_version = 99"));
    SqliteConversationStore store(path);
    QVERIFY(!store.isOpen());
    QVERIFY(store.errorString().contains(QStringLiteral("newer")));
}

void TestSqliteStore::failedBatchIsRolledBack()
{
    const QString path = freshPath();
    SqliteConversationStore store(path);
    QVERIFY(Database(path).run("CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN NEW.body = 'bad'"
                               " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    QVERIFY(!store.append({message(QStringLiteral("first")), message(QStringLiteral("bad"))}));
    QVERIFY(store.errorString().contains(QStringLiteral("refused")));
    // All or none, and the store goes on.
    QVERIFY(store.append({message(QStringLiteral("after"))}));
    QCOMPARE(bodies(store.recent(10)), QStringList{QStringLiteral("after")});
}

QTEST_GUILESS_MAIN(TestSqliteStore)
#include "tst_sqlitestore.moc"

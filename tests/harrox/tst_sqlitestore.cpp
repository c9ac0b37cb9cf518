#include "sqliteconversationstore.h"
#include "sqliteschema.h"
#include "sqlitestatement.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace {

// A raw connection to a temporary file, for setting up old layouts.
class Database
{
public:
    explicit Database(const QString &path) { sqlite3_open(path.toUtf8().constData(), &m_db); }
    ~Database() { sqlite3_close(m_db); }
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    sqlite3 *handle() const { return m_db; }
    bool run(const char *sql) const
    {
        SqliteStatement statement(m_db, sql);
        return statement.isValid() && statement.run();
    }
    QString text(const char *sql) const
    {
        SqliteStatement statement(m_db, sql);
        return statement.nextRow() ? statement.textAt(0) : QString();
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

class TestSqliteStore : public QObject
{
    Q_OBJECT

private slots:
    void stepOneCreatesTheMessages();
    void stepTwoKeepsOldRows();
    void upgradeIsRepeatable();
    void newerDatabaseIsRefused();
    void appendAndRecent();
    void survivesReopening();
    void storesBatches();
    void usesWriteAheadLog();
    void unopenablePathReports();

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    QString freshPath() { return m_dir.filePath(QStringLiteral("t%1.db").arg(++m_count)); }
};

void TestSqliteStore::stepOneCreatesTheMessages()
{
    Database db(freshPath());
    QCOMPARE(SqliteSchema::version(db.handle()), 0);
    QString error;
    QVERIFY2(SqliteSchema::upgrade(db.handle(), &error, 1), qPrintable(error));
    QCOMPARE(SqliteSchema::version(db.handle()), 1);
    QVERIFY(db.run("INSERT INTO messages (posted_at, name, body) VALUES (1, 'a', 'b')"));
    QVERIFY(!db.run("INSERT INTO messages (posted_at, name, body, peer) VALUES (1, 'a', 'b', 'c')"));
}

void TestSqliteStore::stepTwoKeepsOldRows()
{
    Database db(freshPath());
    QString error;
    QVERIFY(SqliteSchema::upgrade(db.handle(), &error, 1));
    QVERIFY(db.run("INSERT INTO messages (posted_at, name, body) VALUES (1, 'ann', 'old')"));
    QVERIFY2(SqliteSchema::upgrade(db.handle(), &error, 2), qPrintable(error));
    QCOMPARE(SqliteSchema::version(db.handle()), 2);
    QCOMPARE(db.text("SELECT body || '|' || peer FROM messages"), QStringLiteral("old|"));
}

void TestSqliteStore::upgradeIsRepeatable()
{
    Database db(freshPath());
    QString error;
    QVERIFY(SqliteSchema::upgrade(db.handle(), &error));
    QCOMPARE(SqliteSchema::version(db.handle()), SqliteSchema::LatestVersion);
    QVERIFY2(SqliteSchema::upgrade(db.handle(), &error), qPrintable(error));
    QCOMPARE(SqliteSchema::version(db.handle()), SqliteSchema::LatestVersion);
}

void TestSqliteStore::newerDatabaseIsRefused()
{
    const QString path = freshPath();
    {
        Database db(path);
        QVERIFY(db.run("PRAGMA user_version = 99"));
        QString error;
        QVERIFY(!SqliteSchema::upgrade(db.handle(), &error));
        QVERIFY(error.contains(QStringLiteral("newer")));
    }
    SqliteConversationStore store(path);
    QVERIFY(!store.isOpen());
    QVERIFY(store.errorString().contains(QStringLiteral("newer")));
}

void TestSqliteStore::appendAndRecent()
{
    SqliteConversationStore store(freshPath());
    QVERIFY2(store.isOpen(), qPrintable(store.errorString()));
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    for (int i = 0; i < 5; ++i) {
        QVERIFY(store.append({StoredMessage{when.addSecs(i), QString::fromUtf8("山田"),
                                            QString::number(i), QStringLiteral("10.0.0.1:5")}}));
    }
    const QList<StoredMessage> last = store.recent(3);
    QCOMPARE(last.size(), 3);
    QCOMPARE(last[0].body, QStringLiteral("2"));
    QCOMPARE(last[2].body, QStringLiteral("4"));
    QCOMPARE(last[2].name, QString::fromUtf8("山田"));
    QCOMPARE(last[2].peer, QStringLiteral("10.0.0.1:5"));
    QCOMPARE(last[2].postedAt, when.addSecs(4));
    QCOMPARE(store.recent(100).size(), 5);
}

void TestSqliteStore::survivesReopening()
{
    const QString path = freshPath();
    {
        SqliteConversationStore store(path);
        QVERIFY(store.append({StoredMessage{QDateTime::currentDateTimeUtc(), QStringLiteral("a"),
                                            QStringLiteral("kept"), {}}}));
    }
    SqliteConversationStore again(path);
    QVERIFY(again.isOpen());
    QCOMPARE(again.recent(10).size(), 1);
    QCOMPARE(again.recent(10).first().body, QStringLiteral("kept"));
}

void TestSqliteStore::storesBatches()
{
    const QString path = freshPath();
    SqliteConversationStore store(path);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(store.append({StoredMessage{now, QStringLiteral("a"), QStringLiteral("1"), {}},
                          StoredMessage{now, QStringLiteral("b"), QStringLiteral("2"), {}}}));
    QCOMPARE(store.recent(10).size(), 2);

    QVERIFY(store.append({StoredMessage{now, QStringLiteral("c"), QStringLiteral("3"), {}}}));
    QCOMPARE(store.recent(10).size(), 3);
    QCOMPARE(store.recent(1).first().body, QStringLiteral("3"));
}

void TestSqliteStore::usesWriteAheadLog()
{
    const QString path = freshPath();
    SqliteConversationStore store(path);
    QVERIFY(store.isOpen());
    Database db(path);
    QCOMPARE(db.text("PRAGMA journal_mode"), QStringLiteral("wal"));
}

void TestSqliteStore::unopenablePathReports()
{
    SqliteConversationStore store(m_dir.filePath(QStringLiteral("missing/dir/x.db")));
    QVERIFY(!store.isOpen());
    QVERIFY(!store.errorString().isEmpty());
    QVERIFY(!store.append({StoredMessage{QDateTime::currentDateTimeUtc(), QStringLiteral("a"),
                                         QStringLiteral("b"), {}}}));
    QVERIFY(store.recent(10).isEmpty());
}

QTEST_GUILESS_MAIN(TestSqliteStore)
#include "tst_sqlitestore.moc"

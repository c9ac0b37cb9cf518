#include "chatclient.h"
#include "harroxprocess.h"
#include "pgcluster.h"
#include "pgrelay.h"

#include "chatroom.h"
#include "pgconnection.h"
#include "pgconversationstore.h"
#include "pgschema.h"
#include "retention.h"

#include <QSignalSpy>

#include <csignal>

// Several real harrox processes sharing one conversation through a private
// PostgreSQL cluster that this test starts and stops itself.
namespace {

// Short beats, so that a dead server's members go in well under a second.
struct Harrox : HarroxProcess
{
    bool start(const QString &conninfo, const QStringList &more = {})
    {
        return HarroxProcess::start(QStringList{QStringLiteral("--postgres"), conninfo, QStringLiteral("--reply-gap=0"),
                                                QStringLiteral("--beat=100"), QStringLiteral("--expiry=400"),
                                                QStringLiteral("--posts-per-minute=0")}
                                    + more); // writers send bursts
    }
};

QStringList bodies(const QStringList &lines, const QString &name = QStringLiteral("\\w+"))
{
    QStringList out;
    static const QRegularExpression line(QStringLiteral("^\\S+ \\S+ (\\S+)> (.*)$"));
    for (const QString &l : lines)
        if (const auto m = line.match(l); m.hasMatch() && QRegularExpression(QStringLiteral("^%1$").arg(name)).match(m.captured(1)).hasMatch())
            out.append(m.captured(2));
    return out;
}

bool acknowledged(ChatClient &client, const QString &text)
{
    const QString right = divide(client.exchange(post(text))).right;
    return !right.isEmpty() && !right.contains(ChatRoom::NotStoredNotice) && right.endsWith(text);
}

} // namespace

class TestHarroxPg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoServersShowOneOrder();
    void databaseRestartLosesNothingAcknowledged();
    void killedLeavesNothing();
    void frozenServerStopsNoOther();
    void lostCommitAnswerStoresOnce();
    void renameFloodKeepsTheHeartbeat();
    void oldestLeave_data();
    void oldestLeave();
    void newerSchemaIsRefused();

private:
    QString freshDatabase();

    PgCluster m_cluster;
    int m_databases = 0;
};

void TestHarroxPg::initTestCase()
{
    if (!PgCluster::installed())
        QSKIP("PostgreSQL 15 is not installed (scripts/setup installs it)");
    QVERIFY(m_cluster.init());
}

QString TestHarroxPg::freshDatabase()
{
    const QString name = QStringLiteral("t%1").arg(++m_databases);
    PgConnection admin(m_cluster.conninfo());
    if (!admin.open() || !admin.exec(qPrintable(QStringLiteral("CREATE DATABASE %1").arg(name))).ok())
        qWarning("%s", qPrintable(admin.errorString()));
    return m_cluster.conninfo(name);
}

void TestHarroxPg::twoServersShowOneOrder()
{
    constexpr int Writers = 6;
    constexpr int Posts = 25;
    const QString db = freshDatabase();
    Harrox a, b;
    // a answers only what is asked, so that its replies are acknowledgements.
    QVERIFY(a.start(db, {QStringLiteral("--max-per-host=2"), QStringLiteral("--no-live")}) && b.start(db, {QStringLiteral("--max-per-host=2")}));
    // Concurrent writers on both servers, each sending all its lines at once.
    std::vector<std::unique_ptr<ChatClient>> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.push_back(std::make_unique<ChatClient>(qPrintable(QStringLiteral("127.0.0.%1").arg(10 + w))));
        QVERIFY(writers.back()->connectTo(w % 2 ? b.port : a.port));
        writers.back()->exchange(join(QStringLiteral("w%1").arg(w)));
    }
    QTcpSocket watcher;
    watcher.bind(QHostAddress(QStringLiteral("127.0.0.40")));
    watcher.connectToHost(QHostAddress::LocalHost, b.port);
    QVERIFY(watcher.waitForConnected(WaitMs) && watcher.write(join(QStringLiteral("watch"))) > 0);
    const QString longLine(9000, u'長'); // beyond what a notification could carry
    QVERIFY(acknowledged(*writers[0], longLine));
    // b's members are shown it without asking.
    QByteArray pushed;
    QTRY_VERIFY_WITH_TIMEOUT((pushed += watcher.readAll()).contains(Cp932::encode(longLine)), WaitMs);
    for (int w = 0; w < Writers; ++w) {
        QByteArray burst;
        for (int i = 0; i < Posts; ++i)
            burst += post(QStringLiteral("n%1").arg(i));
        writers[w]->send(burst);
    }
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(a.port)).size(), Writers * Posts + 1, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(linesOn(b.port), linesOn(a.port), WaitMs);
    QCOMPARE(bodies(linesOn(b.port)).constFirst(), longLine);
    QStringList ordered;
    for (int i = 0; i < Posts; ++i)
        ordered.append(QStringLiteral("n%1").arg(i));
    for (int w = 0; w < Writers; ++w)
        QCOMPARE(bodies(linesOn(b.port), QStringLiteral("w%1").arg(w)).mid(w == 0 ? 1 : 0), ordered);

    // Names told apart, and one host's connections counted, across servers.
    ChatClient twin("127.0.0.30");
    QVERIFY(twin.connectTo(b.port));
    QVERIFY(divide(twin.exchange(join(QStringLiteral("w0")))).left.split(QStringLiteral("\r\n")).contains(QStringLiteral("w0(2)")));
    QTRY_VERIFY_WITH_TIMEOUT(shownOn(a.port).left.contains(QStringLiteral("w0(2)")), WaitMs);
    ChatClient second("127.0.0.30"), third("127.0.0.30");
    QVERIFY(second.connectTo(a.port) && !second.exchange(join(QStringLiteral("x"))).isEmpty());
    QVERIFY(third.connectTo(a.port) && third.exchange(join(QStringLiteral("y"))).isEmpty());
    // A server's own members are not shown again as another's; one that
    // leaves is gone from the others too.
    QCOMPARE(shownOn(b.port).left.split(QStringLiteral("\r\n")).count(QStringLiteral("w1")), 1);
    twin.socket.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(!shownOn(a.port).left.contains(QStringLiteral("w0(2)")), WaitMs);

    // A dead server's members go within the expiry and a sweep, with time to
    // spare for a busy machine.
    QVERIFY(shownOn(b.port).left.contains(QStringLiteral("w2")));
    a.process.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!shownOn(b.port).left.contains(QStringLiteral("w2")), 400 + 100 + 1500);
}

// Also where the administrator made commits asynchronous, for speed.
void TestHarroxPg::databaseRestartLosesNothingAcknowledged()
{
    const QString db = freshDatabase();
    PgConnection admin(db), session(db, 2000);
    QVERIFY(admin.open() && admin.exec(qPrintable(QStringLiteral("ALTER DATABASE %1 SET synchronous_commit = off").arg(db.section(QStringLiteral("dbname="), 1)))).ok());
    // Harrox's sessions set what its promises need, and bound their waits.
    QVERIFY(session.open());
    QCOMPARE(session.exec("SELECT concat_ws(' ', current_setting('synchronous_commit'), current_setting('statement_timeout'),"
                          " current_setting('lock_timeout'), current_setting('idle_in_transaction_session_timeout'))")
                     .text(0, 0),
             QStringLiteral("on 2s 1s 500ms"));
    Harrox a, b;
    QVERIFY(a.start(db, {QStringLiteral("--no-live")}) && b.start(db, {QStringLiteral("--no-live")}));
    ChatClient ann, bob;
    QVERIFY(ann.connectTo(a.port) && bob.connectTo(b.port));
    ann.exchange(join(QStringLiteral("ann")));
    bob.exchange(join(QStringLiteral("bob")));
    QStringList kept{QStringLiteral("before")};
    QVERIFY(acknowledged(ann, kept.constLast()));
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(b.port)), kept, WaitMs); // b knows it before the database goes

    QVERIFY(m_cluster.stop("immediate"));
    for (ChatClient *client : {&ann, &bob}) {
        const QString right = divide(client->exchange(post(QStringLiteral("while down")))).right;
        QVERIFY2(right.endsWith(ChatRoom::NotStoredNotice.toString() + QStringLiteral("while down")), qPrintable(right));
        // What the server knew is still shown.
        QVERIFY(right.contains(QStringLiteral("> before")));
    }
    QVERIFY(m_cluster.start());
    // Refused while the servers reconnect; never acknowledged without being stored.
    for (ChatClient *client : {&ann, &bob}) {
        int tries = 0;
        QVERIFY(QTest::qWaitFor([&] { return acknowledged(*client, QStringLiteral("after %1").arg(++tries)); }, WaitMs));
        kept.append(QStringLiteral("after %1").arg(tries));
    }
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(a.port)), kept, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(b.port)), kept, WaitMs);
}

// Any process whose command line names the folder: the cluster's, a harrox's.
bool anyProcessNames(const QByteArray &folder)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs))
        if (QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid)); cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(folder))
            return true;
    return false;
}

// A run killed mid-way (a ctest time-out, a group kill) leaves no postgres,
// no harrox and no folder: this program runs a copy of itself and kills it.
void TestHarroxPg::killedLeavesNothing()
{
    if (qEnvironmentVariableIsSet("HARROXPG_HELD")) {
        Harrox held;
        QVERIFY(held.start(freshDatabase()));
        std::fprintf(stderr, "held %s\n", qPrintable(m_cluster.conninfo())); // unbuffered
        QTest::qWait(60000); // until killed
        return;
    }
    QProcess copy;
    copy.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("HARROXPG_HELD=1"));
    copy.start(QCoreApplication::applicationFilePath(), {QStringLiteral("killedLeavesNothing")});
    static const QRegularExpression held(QStringLiteral("held host=(\\S+) "));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT(held.match(QString::fromLocal8Bit(out += copy.readAllStandardError())).hasMatch(), 60000);
    const QByteArray folder = held.match(QString::fromLocal8Bit(out)).captured(1).toLocal8Bit();
    QVERIFY(anyProcessNames(folder) && QFileInfo::exists(QString::fromLocal8Bit(folder)));
    ::kill(pid_t(copy.processId()), SIGKILL);
    QVERIFY(copy.waitForFinished(WaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(!anyProcessNames(folder) && !QFileInfo::exists(QString::fromLocal8Bit(folder)), 10000);
}

// a's path to the database freezes while it holds the lock of a post.
void TestHarroxPg::frozenServerStopsNoOther()
{
    const QString db = freshDatabase();
    PgRelay relay;
    Harrox a, b;
    const QStringList bounded{QStringLiteral("--no-live"), QStringLiteral("--db-timeout=1600")};
    const QString frozenPath = relay.start(db);
    QVERIFY(!frozenPath.isEmpty() && a.start(frozenPath, bounded) && b.start(db, bounded));
    ChatClient ann, bob;
    QVERIFY(ann.connectTo(a.port) && bob.connectTo(b.port) && !ann.exchange(join(QStringLiteral("ann"))).isEmpty() && !bob.exchange(join(QStringLiteral("bob"))).isEmpty());
    relay.freezeAfter(QByteArrayLiteral("\0post_lock\0"));
    ann.send(post(QStringLiteral("stuck")));
    QTRY_VERIFY_WITH_TIMEOUT(relay.frozen(), WaitMs);
    // The database ends a's transaction, left idle, and the lock with it.
    QVERIFY(acknowledged(bob, QStringLiteral("meanwhile")));
    // a refuses rather than hangs, again and again.
    QTRY_VERIFY_WITH_TIMEOUT(Cp932::decode(ann.received()).endsWith(ChatRoom::NotStoredNotice.toString() + QStringLiteral("stuck\r\n")), WaitMs);
    QVERIFY(divide(ann.exchange(post(QStringLiteral("still")))).right.endsWith(ChatRoom::NotStoredNotice.toString() + QStringLiteral("still")));
    // Stopped with a post under way, a stops without acknowledging it.
    ann.send(post(QStringLiteral("at the stop")));
    ::kill(pid_t(a.process.processId()), SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(a.process.state() == QProcess::NotRunning, WaitMs);
    QVERIFY(a.log.endsWith(QStringLiteral("stopped\n")));
    QVERIFY(!Cp932::decode(ann.received()).endsWith(QStringLiteral("> at the stop\r\n")));
    relay.thaw();
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(b.port)), QStringList{QStringLiteral("meanwhile")}, WaitMs);
}

// The database commits a's post, and the answer is lost with the connection:
// a connects again, finds the post by its key and acknowledges it, once.
void TestHarroxPg::lostCommitAnswerStoresOnce()
{
    const QString db = freshDatabase();
    PgRelay relay;
    Harrox a, b;
    const QString cutPath = relay.start(db);
    QVERIFY(!cutPath.isEmpty() && a.start(cutPath, {QStringLiteral("--no-live")}) && b.start(db, {QStringLiteral("--no-live")}));
    ChatClient ann;
    QVERIFY(ann.connectTo(a.port) && !ann.exchange(join(QStringLiteral("ann"))).isEmpty());
    relay.cutAtCommitAfter(QByteArrayLiteral("\0post_lock\0"));
    QVERIFY(acknowledged(ann, QStringLiteral("once")));
    QVERIFY(relay.commitCut());
    QVERIFY(acknowledged(ann, QStringLiteral("then")));
    QTRY_COMPARE_WITH_TIMEOUT(bodies(linesOn(b.port)), (QStringList{QStringLiteral("once"), QStringLiteral("then")}), WaitMs);
}

// Renames queued on a's follower must not make b take a for dead.
void TestHarroxPg::renameFloodKeepsTheHeartbeat()
{
    const QString db = freshDatabase();
    Harrox a, b;
    QVERIFY(a.start(db) && b.start(db));
    ChatClient flooder;
    QByteArray flood;
    for (int i = 1; i <= 20000; ++i)
        flood += join(QStringLiteral("r%1").arg(i));
    QVERIFY(flooder.connectTo(a.port));
    flooder.send(flood);
    QTRY_VERIFY_WITH_TIMEOUT(shownOn(b.port).left.contains(QStringLiteral("r20000")), 6 * WaitMs);
    QVERIFY2(!b.log.contains(QStringLiteral("swept")), qPrintable(b.log));
}

QTEST_GUILESS_MAIN(TestHarroxPg)
void TestHarroxPg::oldestLeave_data()
{
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<int>("keepRows"); // the bound in bytes, as rows of 1,000 characters
    QTest::addColumn<int>("kept");
    QTest::newRow("by age") << 7 << 0 << 300;
    QTest::newRow("by size") << 0 << 450 << 600 - Retention::BatchRows;
    QTest::newRow("both") << 7 << 100 << 600 - 2 * Retention::BatchRows;
}

void TestHarroxPg::oldestLeave()
{
    QFETCH(int, keepDays);
    QFETCH(int, keepRows);
    QFETCH(int, kept);
    PgConversationStore store(freshDatabase(), QStringLiteral("t"), WaitMs);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<StoredMessage> rows;
    for (int i = 0; i < 600; ++i)
        rows.append({now.addDays(i < 300 ? -8 : -6), QStringLiteral("a"), QStringLiteral("%1 ").arg(i, 3) + QString(996, u'x'), QStringLiteral("127.0.0.1:1")});
    QVERIFY(store.append(rows));
    Retention retention(store, {keepDays, keepRows * (1000 + PgConversationStore::RowOverheadBytes)});
    QSignalSpy swept(&retention, &Retention::swept);
    retention.sweep(now);
    QTRY_COMPARE(swept.size(), 1);
    const QList<StoredMessage> left = store.recent(1000);
    QCOMPARE(left.size(), kept);
    QVERIFY(left.last().body.startsWith(QStringLiteral("599 ")));
}

// A database a newer server has upgraded is left as it is.
void TestHarroxPg::newerSchemaIsRefused()
{
    const QString db = freshDatabase();
    QString error;
    QVERIFY2(PgSchema::upgrade(db, &error, WaitMs), qPrintable(error));
    PgConnection admin(db);
    QVERIFY(admin.open() && admin.exec("UPDATE harrox_schema SET version = version + 1").ok());
    QVERIFY(!PgSchema::upgrade(db, &error, WaitMs));
    QVERIFY2(error.contains(QStringLiteral("newer than this server's")), qPrintable(error));
}

#include "tst_harroxpg.moc"

#include "chatclient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

// The real harrox binary, for what only a process shows: signals, the
// database on disk after a kill, the command line.
namespace {

class Server
{
public:
    explicit Server(QString database) : m_database(std::move(database))
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_log += QString::fromUtf8(m_process.readAllStandardError()); });
    }
    ~Server()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Runs harrox on the test's database; true once it listens.
    bool start(const QStringList &extra = {})
    {
        m_log.clear();
        m_process.start(QStringLiteral(HARROX_PATH), QStringList{QStringLiteral("--listen=127.0.0.1"),
                                                                 QStringLiteral("--port=0"),
                                                                 QStringLiteral("--db"), m_database}
                                                         + extra);
        static const QRegularExpression listening(QStringLiteral("listening on [^ ]*:(\\d+),"));
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor([&] {
            match = listening.match(m_log);
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        }, WaitMs);
        m_port = quint16(match.captured(1).toUInt());
        return match.hasMatch();
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    bool waitForExit() { return m_process.waitForFinished(WaitMs); }
    int exitCode() const { return m_process.exitCode(); }
    quint16 port() const { return m_port; }
    const QString &log() const { return m_log; }

private:
    QString m_database;
    QProcess m_process;
    QString m_log;
    quint16 m_port = 0;
};

QStringList shownLines(Server &server)
{
    ChatClient bob;
    if (!bob.connectTo(server.port()))
        return {};
    const QString right = divide(bob.exchange(refresh())).right;
    return right.isEmpty() ? QStringList() : right.split(QStringLiteral("\r\n"));
}

} // namespace

class TestHarroxServer : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void killedKeepsEveryAnsweredMessage();
    void terminationSignalsExitCleanly_data();
    void terminationSignalsExitCleanly();
    void badCommandLine();

private:
    QString database() const { return m_dir.filePath(QStringLiteral("harrox.db")); }
    QTemporaryDir m_dir;
};

void TestHarroxServer::killedKeepsEveryAnsweredMessage()
{
    Server server(database());
    QVERIFY(server.start());
    ChatClient ann;
    QVERIFY(ann.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    for (int i = 0; i < 3; ++i)
        QVERIFY(!ann.exchange(post(QStringLiteral("kept %1").arg(i))).isEmpty());
    server.signal(SIGKILL);
    QVERIFY(server.waitForExit());

    QVERIFY(server.start());
    QVERIFY(server.log().contains(QStringLiteral("(3 lines loaded)")));
    const QStringList shown = shownLines(server);
    QCOMPARE(shown.size(), 3);
    QVERIFY(shown[2].endsWith(QStringLiteral("ann> kept 2")));
}

void TestHarroxServer::terminationSignalsExitCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestHarroxServer::terminationSignalsExitCleanly()
{
    QFETCH(int, signalNumber);
    Server server(database());
    QVERIFY(server.start());
    ChatClient ann;
    QVERIFY(ann.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    ann.exchange(post(QStringLiteral("before stopping")));
    server.signal(signalNumber);
    QVERIFY(server.waitForExit());
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(server.log().contains(QStringLiteral("stopped")));
    QVERIFY(server.start());
    QVERIFY(shownLines(server).last().endsWith(QStringLiteral("ann> before stopping")));
}

void TestHarroxServer::badCommandLine()
{
    QProcess harrox;
    harrox.start(QStringLiteral(HARROX_PATH), {QStringLiteral("--port"), QStringLiteral("http")});
    QVERIFY(harrox.waitForFinished(WaitMs));
    QCOMPARE(harrox.exitCode(), 2);
    QVERIFY(harrox.readAllStandardError().contains("not a port: http"));
}

QTEST_GUILESS_MAIN(TestHarroxServer)
#include "tst_harroxserver.moc"

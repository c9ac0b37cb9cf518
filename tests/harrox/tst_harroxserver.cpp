#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The real harrox binary over loopback, on a temporary database and a port
// the system picks.
namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int WaitMs = 10000;

class Server
{
public:
    explicit Server(const QString &database) : m_database(database)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
            m_log += QString::fromUtf8(m_process.readAllStandardError());
        });
    }
    ~Server()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool start(const QStringList &extra = {})
    {
        m_log.clear();
        m_port = 0;
        m_process.start(QStringLiteral(HARROX_PATH),
                        QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                                    QStringLiteral("--port"), QStringLiteral("0"),
                                    QStringLiteral("--db"), m_database,
                                    // one reply per request, as these tests count them
                                    QStringLiteral("--no-live"), QStringLiteral("--reply-gap"),
                                    QStringLiteral("0")}
                            + extra);
        static const QRegularExpression listening(QStringLiteral("listening on [^ ]*:(\\d+),"));
        QDeadlineTimer deadline(StartTimeoutMs);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            const QRegularExpressionMatch match = listening.match(m_log);
            if (match.hasMatch()) {
                m_port = quint16(match.captured(1).toUInt());
                return true;
            }
            QTest::qWait(10);
        }
        return false;
    }

    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    bool waitForExit() { return m_process.waitForFinished(WaitMs); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    quint16 port() const { return m_port; }
    const QString &log() const { return m_log; }

private:
    QString m_database;
    QProcess m_process;
    QString m_log;
    quint16 m_port = 0;
};

// A client socket bound to a chosen loopback address, keeping what it got.
class Client
{
public:
    explicit Client(const char *from = "127.0.0.1")
    {
        m_socket.bind(QHostAddress(QString::fromLatin1(from)), 0);
        QObject::connect(&m_socket, &QTcpSocket::readyRead,
                         [this] { m_received += m_socket.readAll(); });
    }

    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(WaitMs);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // Waits for n more replies; tests keep "/*/" out of what they post, so
    // each reply holds it once.
    bool waitForReplies(int n)
    {
        const qsizetype target = m_seen + n;
        QDeadlineTimer deadline(WaitMs);
        while (m_received.count(QByteArrayView("/*/")) < target && !deadline.hasExpired())
            QTest::qWait(5);
        m_seen = m_received.count(QByteArrayView("/*/"));
        return m_seen >= target;
    }
    QByteArray exchange(const QByteArray &request)
    {
        const qsizetype before = m_received.size();
        send(request);
        if (!waitForReplies(1))
            return {};
        return m_received.mid(before);
    }
    bool waitForClose()
    {
        QDeadlineTimer deadline(WaitMs);
        while (m_socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
            QTest::qWait(5);
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    qsizetype m_seen = 0;
};

QByteArray join(const QString &name, const QByteArray &count = "10")
{
    return "CanEnter?" + Cp932::encode(name) + "/*/~127.0.0.1/**/" + count;
}

QByteArray message(const QString &text, const QByteArray &count = "10")
{
    return "NormalTel" + Cp932::encode(text) + "/*/~127.0.0.1/**/" + count;
}

QByteArray refresh(const QByteArray &count = "10")
{
    return "/Reflesh//*/~127.0.0.1/**/" + count;
}

ChatProtocol::ReplyParts divide(const QByteArray &reply)
{
    return ChatProtocol::divideReply(Cp932::decode(reply));
}

QStringList lines(const QString &text)
{
    return text.isEmpty() ? QStringList() : text.split(QStringLiteral("\r\n"));
}

} // namespace

class TestHarroxServer : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void joinMessageRefresh();
    void membersOfTwoClientsAndLeave();
    void restartAfterKillKeepsHistory();
    void terminateExitsCleanly();
    void splitRequests();
    void coalescedRequests();
    void nameHoldingTheSeparator();
    void messageBeforeJoining();
    void messageRightBeforeClosingIsKept();
    void badLineCounts();
    void oversizedRequest();
    void unknownVerb();
    void notCp932();
    void requestWithoutSeparators();
    void clientThatNeverReads();
    void tooManyClients();
    void peerOutsideAllow();

private:
    QString database() const { return m_dir->filePath(QStringLiteral("harrox.db")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHarroxServer::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestHarroxServer::joinMessageRefresh()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));

    QCOMPARE(ann.exchange(join(QString::fromUtf8("あん"))), Cp932::encode(QString::fromUtf8("あん/*/")));
    const ChatProtocol::ReplyParts posted = divide(ann.exchange(message(QString::fromUtf8("こんにちは"))));
    QCOMPARE(posted.left, QString::fromUtf8("あん"));
    QVERIFY2(posted.right.endsWith(QString::fromUtf8(" あん> こんにちは")), qPrintable(posted.right));
    QCOMPARE(lines(posted.right).size(), 1);
    const ChatProtocol::ReplyParts refreshed = divide(ann.exchange(refresh()));
    QCOMPARE(refreshed.right, posted.right);
    QVERIFY(server.log().contains(QStringLiteral("127.0.0.1:%1: join as")
                                      .arg(ann.socket().localPort())));
}

void TestHarroxServer::membersOfTwoClientsAndLeave()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    Client bob;
    QVERIFY(ann.connectTo(server.port()));
    QVERIFY(bob.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    QCOMPARE(divide(bob.exchange(join(QStringLiteral("bob")))).left, QStringLiteral("ann\r\nbob"));
    QCOMPARE(divide(ann.exchange(refresh())).left, QStringLiteral("ann\r\nbob"));

    bob.socket().close();
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("leave \"bob\"")), WaitMs);
    QCOMPARE(divide(ann.exchange(refresh())).left, QStringLiteral("ann"));
}

void TestHarroxServer::restartAfterKillKeepsHistory()
{
    Server server(database());
    QVERIFY(server.start());
    {
        Client ann;
        QVERIFY(ann.connectTo(server.port()));
        ann.exchange(join(QStringLiteral("ann")));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!ann.exchange(message(QStringLiteral("kept %1").arg(i))).isEmpty());
        // Every message was answered, so every one is on disk.
        server.signal(SIGKILL);
        QVERIFY(server.waitForExit());
    }
    QVERIFY(server.start());
    QVERIFY(server.log().contains(QStringLiteral("(3 lines loaded)")));
    Client bob;
    QVERIFY(bob.connectTo(server.port()));
    const QStringList shown = lines(divide(bob.exchange(refresh())).right);
    QCOMPARE(shown.size(), 3);
    QVERIFY(shown[0].endsWith(QStringLiteral("ann> kept 0")));
    QVERIFY(shown[2].endsWith(QStringLiteral("ann> kept 2")));
}

void TestHarroxServer::terminateExitsCleanly()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    ann.exchange(message(QStringLiteral("before stopping")));
    server.signal(SIGTERM);
    QVERIFY(server.waitForExit());
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(server.log().contains(QStringLiteral("stopped")));

    QVERIFY(server.start());
    Client bob;
    QVERIFY(bob.connectTo(server.port()));
    QVERIFY(divide(bob.exchange(refresh())).right.endsWith(QStringLiteral("ann> before stopping")));
    server.signal(SIGINT);
    QVERIFY(server.waitForExit());
    QCOMPARE(server.exitCode(), 0);
}

void TestHarroxServer::splitRequests()
{
    // However TCP delivers the pieces, each request gets one reply.
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    const QByteArray request = join(QStringLiteral("ann"));
    ann.send(request.left(4));
    ann.send(request.mid(4, 10));
    ann.send(request.mid(14));
    QVERIFY(ann.waitForReplies(1));

    // A double-byte character cut between its two bytes.
    const QByteArray text = message(QString::fromUtf8("ソース"));
    const qsizetype cut = text.indexOf('\x83') + 1;
    ann.send(text.left(cut));
    ann.send(text.mid(cut));
    QVERIFY(ann.waitForReplies(1));
    const QByteArray reply = ann.exchange(refresh());
    QVERIFY2(divide(reply).right.endsWith(QString::fromUtf8("ann> ソース")),
             qPrintable(divide(reply).right));
}

void TestHarroxServer::coalescedRequests()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    ann.send(join(QStringLiteral("ann")) + message(QStringLiteral("one")) + message(QStringLiteral("two"))
             + refresh("1"));
    QVERIFY(ann.waitForReplies(4));
    const QStringList shown = lines(divide(ann.exchange(refresh("5"))).right);
    QCOMPARE(shown.size(), 2);
    QVERIFY(shown[1].endsWith(QStringLiteral("ann> two")));
}

void TestHarroxServer::nameHoldingTheSeparator()
{
    Server server(database());
    QVERIFY(server.start());
    Client odd;
    Client bob;
    QVERIFY(odd.connectTo(server.port()));
    QVERIFY(bob.connectTo(server.port()));
    odd.send(join(QStringLiteral("x/*/y\r\nz/*")));
    QVERIFY(odd.waitForReplies(1));
    const ChatProtocol::ReplyParts parts = divide(bob.exchange(join(QStringLiteral("bob"))));
    QCOMPARE(parts.left, QString::fromUtf8("x/＊/y  z/＊\r\nbob"));
    QCOMPARE(parts.right, QString());
}

void TestHarroxServer::messageBeforeJoining()
{
    Server server(database());
    QVERIFY(server.start());
    Client anon;
    QVERIFY(anon.connectTo(server.port()));
    const ChatProtocol::ReplyParts parts = divide(anon.exchange(message(QStringLiteral("who am i"))));
    QVERIFY(parts.divided);
    QCOMPARE(parts.right, QString());
    QVERIFY(server.log().contains(QStringLiteral("before joining")));
    QCOMPARE(divide(anon.exchange(refresh())).right, QString());
}

void TestHarroxServer::messageRightBeforeClosingIsKept()
{
    Server server(database());
    QVERIFY(server.start());
    {
        Client ann;
        QVERIFY(ann.connectTo(server.port()));
        ann.send(join(QStringLiteral("ann")) + message(QStringLiteral("bye")));
        ann.socket().disconnectFromHost();
        QVERIFY(ann.waitForClose());
    }
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("leave \"ann\"")), WaitMs);
    Client bob;
    QVERIFY(bob.connectTo(server.port()));
    QVERIFY(divide(bob.exchange(refresh())).right.endsWith(QStringLiteral("ann> bye")));
}

void TestHarroxServer::badLineCounts()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    QByteArray burst = join(QStringLiteral("ann"));
    for (int i = 0; i < 12; ++i)
        burst += message(QStringLiteral("m%1").arg(i));
    ann.send(burst);
    QVERIFY(ann.waitForReplies(13));

    const auto shown = [&](const QByteArray &count) {
        return lines(divide(ann.exchange(refresh(count))).right).size();
    };
    QCOMPARE(shown("3"), 3);
    QCOMPARE(shown("abc"), 10);
    QCOMPARE(shown("-1"), 10);
    QCOMPARE(shown(""), 10);
    QCOMPARE(shown("0"), 0);
    QCOMPARE(shown("99999999999999999999"), 12);
}

void TestHarroxServer::oversizedRequest()
{
    Server server(database());
    QVERIFY(server.start());
    Client big;
    Client ann;
    QVERIFY(big.connectTo(server.port()));
    QVERIFY(ann.connectTo(server.port()));
    big.send("NormalTel" + QByteArray(70 * 1024, 'x'));
    QVERIFY(big.waitForClose());
    QVERIFY(server.log().contains(QStringLiteral("request larger than 65536 bytes")));
    QCOMPARE(divide(ann.exchange(join(QStringLiteral("ann")))).left, QStringLiteral("ann"));
}

void TestHarroxServer::unknownVerb()
{
    Server server(database());
    QVERIFY(server.start());
    Client web;
    QVERIFY(web.connectTo(server.port()));
    web.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    QVERIFY(web.waitForClose());
    QVERIFY(server.log().contains(QStringLiteral("unknown verb")));
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    QCOMPARE(divide(ann.exchange(join(QStringLiteral("ann")))).left, QStringLiteral("ann"));
}

void TestHarroxServer::notCp932()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    const QByteArray reply =
        ann.exchange(QByteArray("NormalTelok\xFF\xFD\x81") + "/*/~127.0.0.1/**/10");
    QVERIFY(divide(reply).right.endsWith(QStringLiteral("ann> ok???")));
    QVERIFY(server.log().contains(QStringLiteral("not CP932")));
    QCOMPARE(ann.socket().state(), QAbstractSocket::ConnectedState);
}

void TestHarroxServer::requestWithoutSeparators()
{
    Server server(database());
    QVERIFY(server.start({QStringLiteral("--request-timeout"), QStringLiteral("200")}));
    Client lost;
    QVERIFY(lost.connectTo(server.port()));
    lost.send("CanEnter?bob");
    QVERIFY(lost.waitForClose());
    QVERIFY(server.log().contains(QStringLiteral("request without separators")));

    // A request whose count ends in what could start a verb is completed
    // when nothing more comes.
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    QVERIFY(!ann.exchange(join(QStringLiteral("ann"), "10C")).isEmpty());
}

void TestHarroxServer::clientThatNeverReads()
{
    Server server(database());
    QVERIFY(server.start());
    Client ann;
    QVERIFY(ann.connectTo(server.port()));
    // 40 lines of 2,000 bytes: each 1000-line refresh answers about 80 KB.
    QByteArray burst = join(QStringLiteral("ann"));
    for (int i = 0; i < 40; ++i)
        burst += message(QString(2000, QLatin1Char('a' + i % 26)));
    ann.send(burst);
    QVERIFY(ann.waitForReplies(41));

    Client sink;
    sink.socket().setReadBufferSize(4096); // and then never read
    QVERIFY(sink.connectTo(server.port()));
    QByteArray flood = join(QStringLiteral("sink"));
    for (int i = 0; i < 500; ++i)
        flood += refresh("1000");
    sink.send(flood); // about 40 MB of replies
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("not reading its replies")), WaitMs);
    QVERIFY(divide(ann.exchange(refresh("1"))).right.endsWith(QString(2000, QLatin1Char('n'))));
    QCOMPARE(divide(ann.exchange(refresh())).left, QStringLiteral("ann"));
}

void TestHarroxServer::tooManyClients()
{
    Server server(database());
    QVERIFY(server.start({QStringLiteral("--max-clients"), QStringLiteral("2")}));
    Client ann;
    Client bob;
    Client carol;
    QVERIFY(ann.connectTo(server.port()));
    QVERIFY(bob.connectTo(server.port()));
    ann.exchange(join(QStringLiteral("ann")));
    bob.exchange(join(QStringLiteral("bob")));
    QVERIFY(carol.connectTo(server.port())); // accepted by the kernel, then closed
    QVERIFY(carol.waitForClose());
    QVERIFY(server.log().contains(QStringLiteral("already 2 clients")));
    QCOMPARE(divide(ann.exchange(refresh())).left, QStringLiteral("ann\r\nbob"));

    bob.socket().close();
    QTRY_VERIFY_WITH_TIMEOUT(server.log().contains(QStringLiteral("leave \"bob\"")), WaitMs);
    Client dave;
    QVERIFY(dave.connectTo(server.port()));
    QCOMPARE(divide(dave.exchange(join(QStringLiteral("dave")))).left, QStringLiteral("ann\r\ndave"));
}

void TestHarroxServer::peerOutsideAllow()
{
    Server server(database());
    QVERIFY(server.start({QStringLiteral("--allow"), QStringLiteral("127.0.0.2/32")}));
    Client outsider("127.0.0.1");
    const quint16 outsiderPort = outsider.socket().localPort();
    QVERIFY(outsider.connectTo(server.port()));
    QVERIFY(outsider.waitForClose());
    QTRY_VERIFY_WITH_TIMEOUT(
        server.log().contains(QStringLiteral("127.0.0.1:%1: refused: not in an allowed network")
                                  .arg(outsiderPort)),
        WaitMs);

    Client insider("127.0.0.2");
    QVERIFY(insider.connectTo(server.port()));
    QCOMPARE(divide(insider.exchange(join(QStringLiteral("in")))).left, QStringLiteral("in"));
}

QTEST_GUILESS_MAIN(TestHarroxServer)
#include "tst_harroxserver.moc"

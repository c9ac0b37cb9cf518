#include "chatclient.h"

#include "chatroom.h"
#include "harroxserver.h"
#include "storewriter.h"


// Connections, the room and the store writer in this process, on loopback,
// with a store that fails when told to.
namespace {

// What the server logged, so tests wait for a message rather than a time.
QStringList serverLog;
QtMessageHandler testlibHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    serverLog.append(text);
    if (type != QtInfoMsg)
        testlibHandler(type, context, text);
}

bool logged(const QString &text)
{
    return std::any_of(serverLog.begin(), serverLog.end(),
                       [&](const QString &line) { return line.contains(text); });
}

class FakeStore final : public ConversationStore
{
public:
    bool append(const QList<StoredMessage> &messages) override
    {
        if (!fail)
            rows += messages;
        return !fail;
    }
    QList<StoredMessage> recent(int count) override { return rows.mid(qMax(0, rows.size() - count)); }
    QString errorString() const override { return QStringLiteral("disk full"); }

    bool fail = false;
    QList<StoredMessage> rows;
};

// history: lines the conversation starts with.
class Room
{
public:
    explicit Room(const QStringList &arguments = {}, int history = 0)
    {
        for (int i = 0; i < history; ++i)
            conversation.add({QDateTime::currentDateTimeUtc(), QStringLiteral("old"),
                              QString(100, QLatin1Char('h')), {}});
        const QStringList base{QStringLiteral("harrox"), QStringLiteral("--listen=127.0.0.1"),
                               QStringLiteral("--port=0")};
        options.parse(base + arguments);
        server.listen();
    }
    quint16 port() const { return server.port(); }

    FakeStore store;
    Conversation conversation;
    ChatRoom room{conversation};
    StoreWriter writer{store};
    ServerOptions options;
    HarroxServer server{options, room, writer};
};

} // namespace

class TestClientConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testlibHandler = qInstallMessageHandler(recordMessage); }
    void init() { serverLog.clear(); }
    void joinPostRefreshLeave();
    void requestsInPiecesAndTogether();
    void messageRightBeforeClosingIsKept();
    void badClientIsDropped_data();
    void badClientIsDropped();
    void storeFailure();
};

void TestClientConnection::joinPostRefreshLeave()
{
    Room room;
    ChatClient ann;
    ChatClient bob;
    QVERIFY(ann.connectTo(room.port()));
    QVERIFY(bob.connectTo(room.port()));
    QCOMPARE(ann.exchange(join(QString::fromUtf8("あん"))), Cp932::encode(QString::fromUtf8("あん/*/")));
    QCOMPARE(divide(bob.exchange(join(QStringLiteral("bob")))).left, QString::fromUtf8("あん\r\nbob"));
    const QString posted = divide(ann.exchange(post(QString::fromUtf8("こんにちは")))).right;
    QVERIFY2(posted.endsWith(QString::fromUtf8(" あん> こんにちは")), qPrintable(posted));
    QCOMPARE(room.store.rows.size(), 1);
    QCOMPARE(room.store.rows[0].peer, QStringLiteral("127.0.0.1:%1").arg(ann.socket().localPort()));
    QCOMPARE(divide(bob.exchange(refresh())).right, posted);

    bob.socket().close();
    QTRY_COMPARE(room.room.members().size(), 1);
    QCOMPARE(divide(ann.exchange(refresh())).left, QString::fromUtf8("あん"));
}

void TestClientConnection::requestsInPiecesAndTogether()
{
    Room room;
    ChatClient ann;
    QVERIFY(ann.connectTo(room.port()));
    const QByteArray first = join(QStringLiteral("ann"));
    for (const char c : first)
        ann.send(QByteArray(1, c));
    QVERIFY(ann.waitForReplies(1));
    ann.send(post(QStringLiteral("one")) + post(QStringLiteral("two")) + refresh("1"));
    QVERIFY(ann.waitForReplies(3));
    QCOMPARE(room.store.rows.size(), 2);
}

void TestClientConnection::messageRightBeforeClosingIsKept()
{
    Room room;
    ChatClient ann;
    QVERIFY(ann.connectTo(room.port()));
    ann.send(join(QStringLiteral("ann")) + post(QStringLiteral("bye")));
    ann.socket().disconnectFromHost();
    QTRY_COMPARE(room.store.rows.size(), 1);
    QCOMPARE(room.store.rows[0].body, QStringLiteral("bye"));
}

void TestClientConnection::badClientIsDropped_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("message");

    const QStringList none;
    QTest::newRow("unknown verb") << none << QByteArray("GET / HTTP/1.1\r\n\r\n")
                                  << QStringLiteral("unknown verb");
    QTest::newRow("oversized") << none << "NormalTel" + QByteArray(70 * 1024, 'x')
                               << QStringLiteral("request larger than 65536 bytes");
    QTest::newRow("no separators") << QStringList{QStringLiteral("--request-timeout=200")}
                                   << QByteArray("CanEnter?bob")
                                   << QStringLiteral("request without separators");
    // About 50 MB of replies to a client that reads none: more than the
    // kernel buffers hold.
    QByteArray flood = join(QStringLiteral("sink"));
    for (int i = 0; i < 400; ++i)
        flood += refresh("1000");
    QTest::newRow("never reads") << none << flood << QStringLiteral("not reading its replies");
    QTest::newRow("outside the allowed network")
        << QStringList{QStringLiteral("--allow=127.0.0.1/32")} << QByteArray()
        << QStringLiteral("refused: not in an allowed network");
    QTest::newRow("client limit") << QStringList{QStringLiteral("--max-clients=1")} << QByteArray()
                                  << QStringLiteral("refused: already 1 clients");
}

void TestClientConnection::badClientIsDropped()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, sent);
    QFETCH(QString, message);
    Room room(arguments, Conversation::KeptLines);
    ChatClient member("127.0.0.1");
    QVERIFY(member.connectTo(room.port()));
    QVERIFY(!member.exchange(join(QStringLiteral("member"))).isEmpty());

    ChatClient bad("127.0.0.2");
    QVERIFY(bad.connectTo(room.port()));
    bad.stopReading();
    bad.send(sent);
    QTRY_VERIFY_WITH_TIMEOUT(logged(message), WaitMs);
    QTRY_COMPARE(room.server.connectionCount(), 1);
    QCOMPARE(divide(member.exchange(refresh("0"))).left, QStringLiteral("member"));
}

void TestClientConnection::storeFailure()
{
    Room room;
    room.store.fail = true;
    ChatClient ann;
    QVERIFY(ann.connectTo(room.port()));
    ann.exchange(join(QStringLiteral("ann")));
    QCOMPARE(divide(ann.exchange(post(QStringLiteral("lost")))).right, QString());
    QVERIFY(logged(QStringLiteral("not stored: disk full")));
}

QTEST_GUILESS_MAIN(TestClientConnection)
#include "tst_clientconnection.moc"

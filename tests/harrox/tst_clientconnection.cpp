#include "chatclient.h"

#include "chatroom.h"
#include "clientconnection.h"
#include "harroxserver.h"
#include "storewriter.h"

#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>

// Connections, the room and the store writer in this process, on loopback,
// with a store that fails when told to.
namespace {

// What the server logged, so that tests wait for a message, not a time.
QStringList serverLog;
QtMessageHandler testlibHandler = nullptr;

bool logged(const QString &text)
{
    return std::any_of(serverLog.cbegin(), serverLog.cend(), [&](const QString &line) { return line.contains(text); });
}

class FakeStore final : public ConversationStore
{
public:
    bool append(QList<StoredMessage> &messages) override { return !fail && (rows += messages, true); }
    QList<StoredMessage> recent(int) override { return {}; }
    QString errorString() const override { return QStringLiteral("disk full"); }

    bool fail = false;
    QList<StoredMessage> rows;
};

ServerOptions parsed(const QStringList &arguments, bool live)
{
    // One reply per request, as most tests count them; pacing has its own test.
    ServerOptions options;
    options.parse(QStringList{QStringLiteral("harrox"), QStringLiteral("--listen=127.0.0.1"), QStringLiteral("--port=0"),
                              QStringLiteral("--reply-gap=0")}
                  + (live ? QStringList() : QStringList{QStringLiteral("--no-live")}) + arguments);
    return options;
}

// history: long lines the conversation starts with.
struct Room
{
    explicit Room(const QStringList &arguments = {}, int history = 0, bool live = false) : options(parsed(arguments, live))
    {
        for (int i = 0; i < history; ++i)
            conversation.add({QDateTime::currentDateTimeUtc(), QStringLiteral("old"), QString(100, u'h'), {}});
        server.listen();
    }

    ServerOptions options; // before the server, which reads it as it is made
    FakeStore store;
    Conversation conversation;
    ChatRoom room{conversation};
    StoreWriter writer{store};
    HarroxServer server{options, room, writer};
};

} // namespace

class TestClientConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testlibHandler = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            serverLog.append(text);
            if (type != QtInfoMsg)
                testlibHandler(type, context, text);
        });
    }
    void init() { serverLog.clear(); }
    void joinPostRefreshLeave();
    void badClientIsDropped_data();
    void badClientIsDropped();
    void silentFloodMakesRoomForMembers();
    void postIsPushedToTheOthers();
    void overBudgetIsToldItsSenderAlone();
};

void TestClientConnection::joinPostRefreshLeave()
{
    Room room;
    ChatClient ann;
    ChatClient bob;
    QVERIFY(ann.connectTo(room.server.port()) && bob.connectTo(room.server.port()));
    // A request in pieces is answered once it is whole.
    const QByteArray first = join(QString::fromUtf8("あん"));
    for (const char c : first.chopped(1))
        ann.send(QByteArray(1, c));
    QCOMPARE(ann.exchange(first.right(1)), Cp932::encode(QString::fromUtf8("あん/*/")));
    QCOMPARE(divide(bob.exchange(join(QStringLiteral("bob")))).left, QString::fromUtf8("あん\r\nbob"));
    const QString posted = divide(ann.exchange(post(QString::fromUtf8("こんにちは")))).right;
    QVERIFY2(posted.endsWith(QString::fromUtf8(" あん> こんにちは")), qPrintable(posted));
    QCOMPARE(room.store.rows.constFirst().peer, QStringLiteral("127.0.0.1:%1").arg(ann.socket.localPort()));
    QCOMPARE(divide(bob.exchange(refresh())).right, posted);
    // A post that was not stored comes back to its sender alone, once.
    room.store.fail = true;
    QCOMPARE(divide(ann.exchange(post(QStringLiteral("lost")))).right, posted + QStringLiteral("\r\n") + ChatRoom::NotStoredNotice.toString() + QStringLiteral("lost"));
    QVERIFY(logged(QStringLiteral("not stored: disk full")));
    QCOMPARE(divide(bob.exchange(refresh())).right, posted);
    QCOMPARE(divide(ann.exchange(refresh())).right, posted);
    room.store.fail = false;
    // Half-open connections of sleeping laptops go within minutes.
    int idle = 0;
    socklen_t size = sizeof idle;
    const qintptr accepted = room.server.findChildren<ClientConnection *>().constFirst()->descriptor();
    QCOMPARE(getsockopt(int(accepted), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size), 0);
    QCOMPARE(idle, HarroxServer::KeepAliveIdleSeconds);

    // Requests sent together and right before closing all count; the start of
    // a verb after the last count: only the close ends that request.
    bob.send(post(QStringLiteral("one")) + post(QStringLiteral("two")) + refresh("1") + post(QStringLiteral("bye")) + "Norm");
    bob.socket.disconnectFromHost();
    QTRY_COMPARE(room.store.rows.size(), 4);
    QCOMPARE(room.store.rows.constLast().body, QStringLiteral("bye"));
    QTRY_COMPARE(room.room.members().size(), 1);
    QCOMPARE(divide(ann.exchange(refresh("0"))).left, QString::fromUtf8("あん"));
}

void TestClientConnection::badClientIsDropped_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("byteEveryMs"); // 0: all at once
    QTest::addColumn<QString>("message");
    const QString quick = QStringLiteral("--request-timeout=300");
    // About 50 MB of replies to a client that reads none: more than the
    // kernel's buffers hold.
    QByteArray flood = join(QStringLiteral("sink"));
    for (int i = 0; i < 400; ++i)
        flood += refresh("1000");

    QTest::newRow("unknown verb") << quick << QByteArray("127.0.0.2") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 0 << QStringLiteral("unknown verb");
    QTest::newRow("oversized") << quick << QByteArray("127.0.0.2") << "NormalTel" + QByteArray(70 * 1024, 'x') << 0 << QStringLiteral("larger than 65536");
    QTest::newRow("no separators") << quick << QByteArray("127.0.0.2") << QByteArray("CanEnter?bob") << 0 << QStringLiteral("not complete within 300 ms");
    QTest::newRow("silent") << quick << QByteArray("127.0.0.2") << QByteArray() << 0 << QStringLiteral("no request within 300 ms");
    // Every byte in time, the request as a whole too late.
    QTest::newRow("slowloris") << quick << QByteArray("127.0.0.2") << refresh() << 50 << QStringLiteral("not complete within 300 ms");
    QTest::newRow("never reads") << quick << QByteArray("127.0.0.2") << flood << 0 << QStringLiteral("not reading its replies");
    QTest::newRow("outside the allowed network") << QStringLiteral("--allow=127.0.0.1/32") << QByteArray("127.0.0.2") << QByteArray() << 0
                                                 << QStringLiteral("refused: not in an allowed network");
    QTest::newRow("same address as the member") << QStringLiteral("--max-per-host=1") << QByteArray("127.0.0.1") << QByteArray() << 0
                                                << QStringLiteral("refused: already 1 connections from its address");
    QTest::newRow("client limit, all joined") << QStringLiteral("--max-clients=1") << QByteArray("127.0.0.2") << QByteArray() << 0
                                              << QStringLiteral("refused: already 1 clients");
}

void TestClientConnection::badClientIsDropped()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, sent);
    QFETCH(int, byteEveryMs);
    QFETCH(QString, message);
    Room room({arguments}, Conversation::KeptLines);
    ChatClient member("127.0.0.1");
    QVERIFY(member.connectTo(room.server.port()));
    QVERIFY(!member.exchange(join(QStringLiteral("member"))).isEmpty());

    ChatClient bad(from.constData());
    QVERIFY(bad.connectTo(room.server.port()));
    bad.stopReading();
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] { bad.send(sent.first(std::min<qsizetype>(1, sent.size()))), sent.remove(0, 1); });
    byteEveryMs > 0 ? trickle.start(byteEveryMs) : bad.send(sent);
    QTRY_VERIFY_WITH_TIMEOUT(logged(message), WaitMs);
    QTRY_COMPARE(room.server.connectionCount(), 1);
    // The member stays, however quiet.
    QCOMPARE(divide(member.exchange(refresh("0"))).left, QStringLiteral("member"));
}

void TestClientConnection::silentFloodMakesRoomForMembers()
{
    // 300 silent sockets from one address against room for 20 clients.
    Room room({QStringLiteral("--max-clients=20")});
    ChatClient member("127.0.0.4");
    QVERIFY(member.connectTo(room.server.port()));
    member.exchange(join(QStringLiteral("member")));
    std::vector<std::unique_ptr<ChatClient>> silent;
    for (int i = 0; i < 300; ++i) {
        silent.push_back(std::make_unique<ChatClient>("127.0.0.2"));
        silent.back()->socket.connectToHost(QHostAddress::LocalHost, room.server.port());
    }
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("never joined, and")), WaitMs);
    ChatClient newcomer("127.0.0.3");
    QVERIFY(newcomer.connectTo(room.server.port()));
    QCOMPARE(divide(newcomer.exchange(join(QStringLiteral("new")))).left, QStringLiteral("member\r\nnew"));
    QCOMPARE(divide(member.exchange(refresh())).left, QStringLiteral("member\r\nnew"));
}

void TestClientConnection::postIsPushedToTheOthers()
{
    Room room({}, 0, true);
    ChatClient ann, bob;
    QVERIFY(ann.connectTo(room.server.port()) && bob.connectTo(room.server.port()));
    bob.exchange(join(QStringLiteral("bob")));
    ann.exchange(join(QStringLiteral("ann")));
    ann.send(post(QStringLiteral("to all")));
    QTRY_VERIFY(bob.received().endsWith("ann> to all"));
}

void TestClientConnection::overBudgetIsToldItsSenderAlone()
{
    Room room({QStringLiteral("--posts-per-minute=3")}); // one at once
    ChatClient ann, bob;
    QVERIFY(ann.connectTo(room.server.port()) && bob.connectTo(room.server.port()));
    bob.exchange(join(QStringLiteral("bob")));
    ann.exchange(join(QStringLiteral("ann")));
    const QString posted = divide(ann.exchange(post(QStringLiteral("one")))).right;
    QCOMPARE(divide(ann.exchange(post(QStringLiteral("two")))).right,
             posted + QStringLiteral("\r\n") + ChatRoom::OverBudgetNotice.toString() + QStringLiteral("two"));
    QCOMPARE(divide(ann.exchange(join(QStringLiteral("anne")))).left, QStringLiteral("bob\r\nann"));
    QCOMPARE(divide(bob.exchange(refresh())).right, posted);
    QCOMPARE(room.store.rows.size(), 1);
    QVERIFY(logged(QStringLiteral("over its posting budget")));
}

QTEST_GUILESS_MAIN(TestClientConnection)
#include "tst_clientconnection.moc"

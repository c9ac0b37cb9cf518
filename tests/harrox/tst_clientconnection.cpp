#include "chatclient.h"

#include "chatroom.h"
#include "clientconnection.h"
#include "harroxserver.h"
#include "storewriter.h"

#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>

// Connections, the room and the store writer in this process, on loopback,
// with a store that fails when told to.
namespace {

class FakeStore final : public ConversationStore
{
public:
    bool append(QList<StoredMessage> &messages) override { return !fail && (rows += messages, true); }
    QList<StoredMessage> recent(int) override { return {}; }
    QString errorString() const override { return QStringLiteral("disk full"); }

    bool fail = false;
    QList<StoredMessage> rows;
};

// One reply per request, as most tests count them; pacing has its own test.
ServerSettings settings(const std::function<void(ServerSettings &)> &change = {}, bool live = false)
{
    ServerSettings settings;
    settings.listenAddress = QHostAddress::LocalHost;
    settings.port = 0;
    settings.pacing = {0, ReplyPacer::DefaultPushBytesPerSecond, live};
    if (change)
        change(settings);
    return settings;
}

// history: lines of so many characters the conversation starts with.
struct Room
{
    explicit Room(const ServerSettings &settings = ::settings(), int history = 0, int length = 100)
        : server(settings, room, writer)
    {
        QObject::connect(&server, &HarroxServer::turnedAway, [this](const QString &, const QString &why) { turnedAway += why; });
        for (int i = 0; i < history; ++i)
            conversation.add({QDateTime::currentDateTimeUtc(), QStringLiteral("old"), QString(length, u'h'), {}});
        server.listen();
    }

    FakeStore store;
    Conversation conversation;
    ChatRoom room{conversation};
    StoreWriter writer{store};
    HarroxServer server;
    QString turnedAway; // every reason, one after another
};

} // namespace

Q_DECLARE_METATYPE(ServerSettings)

class TestClientConnection : public QObject
{
    Q_OBJECT

private slots:
    void joinPostRefreshLeave();
    void badClientIsDropped_data();
    void badClientIsDropped();
    void silentFloodMakesRoomForMembers();
    void postIsPushedToTheOthers();
    void longReplyIsTakenBeforeTheNext();
    void greedyReadersShareOneBound_data();
    void greedyReadersShareOneBound();
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
    QCOMPARE(divide(bob.exchange(refresh())).right, posted);
    QCOMPARE(divide(ann.exchange(refresh())).right, posted);
    room.store.fail = false;
    // The longest line the message box holds: 32,767 double-byte characters.
    ann.exchange(post(QString(32767, u'あ')));
    QTRY_VERIFY(ann.received().endsWith(Cp932::encode(QString(32767, u'あ')) + "\r\n"));
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
    QTRY_COMPARE(room.store.rows.size(), 5);
    QCOMPARE(room.store.rows.constLast().body, QStringLiteral("bye"));
    QTRY_COMPARE(room.room.members().size(), 1);
    QCOMPARE(divide(ann.exchange(refresh("0"))).left, QString::fromUtf8("あん"));
    // A name of 60 KB and a claimed address of 255 bytes, each with a line
    // break and an escape: one short line in the log.
    static QStringList logged;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) { logged += m; });
    ChatClient eve;
    QVERIFY(eve.connectTo(room.server.port()));
    eve.exchange("CanEnter?eve\n<3>forged \x1b[2J" + QByteArray(60000, 'n') + "/*/~\n<3>forged \x1b[2J" + QByteArray(240, 'n') + "/**/10");
    qInstallMessageHandler(previous);
    const QString line = logged.filter(QStringLiteral("join as \"eve")).value(0);
    QVERIFY2(!line.isEmpty() && line.size() < 200 && !line.contains(u'\n') && !line.contains(u'\x1b'), qPrintable(line.left(300)));
}

void TestClientConnection::badClientIsDropped_data()
{
    QTest::addColumn<ServerSettings>("settings");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("byteEveryMs"); // 0: all at once
    QTest::addColumn<QString>("message");
    const ServerSettings quick = settings([](ServerSettings &s) { s.requestTimeoutMs = 300; });
    // Requests for about 50 MB of replies from a client that reads none: one
    // reply at a time goes, and stalls.
    QByteArray flood = join(QStringLiteral("sink"));
    for (int i = 0; i < 400; ++i)
        flood += refresh("1000");

    QTest::newRow("unknown verb") << quick << QByteArray("127.0.0.2") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 0 << QStringLiteral("unknown verb");
    QTest::newRow("oversized") << quick << QByteArray("127.0.0.2") << "NormalTel" + QByteArray(70 * 1024, 'x') << 0 << QStringLiteral("larger than 69630");
    QTest::newRow("no separators") << quick << QByteArray("127.0.0.2") << QByteArray("CanEnter?bob") << 0 << QStringLiteral("not complete within 300 ms");
    QTest::newRow("silent") << quick << QByteArray("127.0.0.2") << QByteArray() << 0 << QStringLiteral("no request within 300 ms");
    // Every byte in time, the request as a whole too late.
    QTest::newRow("slowloris") << quick << QByteArray("127.0.0.2") << refresh() << 50 << QStringLiteral("not complete within 300 ms");
    QTest::newRow("never reads") << quick << QByteArray("127.0.0.2") << flood << 0 << QStringLiteral("not reading its replies");
    QTest::newRow("outside the allowed network") << settings([](ServerSettings &s) { s.allowList = {}, s.allowList.add(QStringLiteral("127.0.0.1/32")); }) << QByteArray("127.0.0.2") << QByteArray() << 0
                                                 << QStringLiteral("not in an allowed network");
    QTest::newRow("same address as the member") << settings([](ServerSettings &s) { s.maxPerHost = 1; }) << QByteArray("127.0.0.1") << QByteArray() << 0
                                                << QStringLiteral("already 1 connections from its address");
    QTest::newRow("client limit, all joined") << settings([](ServerSettings &s) { s.maxClients = 1; }) << QByteArray("127.0.0.2") << QByteArray() << 0
                                              << QStringLiteral("already 1 clients");
    // "::" serves IPv4 too, whatever net.ipv6.bindv6only says.
    QTest::newRow("IPv4 peer of ::") << settings([](ServerSettings &s) { s.listenAddress = QHostAddress::AnyIPv6; }) << QByteArray("127.0.0.2")
                                     << QByteArray("GET / HTTP/1.1\r\n\r\n") << 0 << QStringLiteral("unknown verb");
}

void TestClientConnection::badClientIsDropped()
{
    QFETCH(ServerSettings, settings);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, sent);
    QFETCH(int, byteEveryMs);
    QFETCH(QString, message);
    Room room(settings, Conversation::KeptLines);
    ChatClient member("127.0.0.1");
    QVERIFY(member.connectTo(room.server.port()));
    QVERIFY(!member.exchange(join(QStringLiteral("member"))).isEmpty());

    ChatClient bad(from.constData());
    const int little = 4096; // its kernel holds little of what it does not read
    setsockopt(int(bad.socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &little, sizeof little);
    QVERIFY(bad.connectTo(room.server.port()));
    bad.stopReading();
    QTimer trickle;
    connect(&trickle, &QTimer::timeout, this, [&] { bad.send(sent.first(std::min<qsizetype>(1, sent.size()))), sent.remove(0, 1); });
    byteEveryMs > 0 ? trickle.start(byteEveryMs) : bad.send(sent);
    QTRY_VERIFY_WITH_TIMEOUT(room.turnedAway.contains(message), WaitMs);
    QTRY_COMPARE(room.server.connectionCount(), 1);
    // The member stays, however quiet.
    QCOMPARE(divide(member.exchange(refresh("0"))).left, QStringLiteral("member"));
}

void TestClientConnection::silentFloodMakesRoomForMembers()
{
    // 300 silent sockets from one address against room for 20 clients.
    Room room(settings([](ServerSettings &s) { s.maxClients = 20; }));
    ChatClient member("127.0.0.4");
    QVERIFY(member.connectTo(room.server.port()));
    member.exchange(join(QStringLiteral("member")));
    std::vector<std::unique_ptr<ChatClient>> silent;
    for (int i = 0; i < 300; ++i) {
        silent.push_back(std::make_unique<ChatClient>("127.0.0.2"));
        silent.back()->socket.connectToHost(QHostAddress::LocalHost, room.server.port());
    }
    QTRY_VERIFY_WITH_TIMEOUT(room.turnedAway.contains(QStringLiteral("never joined, and")), WaitMs);
    ChatClient newcomer("127.0.0.3");
    QVERIFY(newcomer.connectTo(room.server.port()));
    QCOMPARE(divide(newcomer.exchange(join(QStringLiteral("new")))).left, QStringLiteral("member\r\nnew"));
    QCOMPARE(divide(member.exchange(refresh())).left, QStringLiteral("member\r\nnew"));
}

void TestClientConnection::postIsPushedToTheOthers()
{
    Room room(settings({}, true));
    ChatClient ann, bob;
    QVERIFY(ann.connectTo(room.server.port()) && bob.connectTo(room.server.port()));
    bob.exchange(join(QStringLiteral("bob")));
    ann.exchange(join(QStringLiteral("ann")));
    ann.send(post(QStringLiteral("to all")));
    QTRY_VERIFY(bob.received().endsWith("ann> to all\r\n"));
}

void TestClientConnection::longReplyIsTakenBeforeTheNext()
{
    // Twenty posts of 64 KB, a join and a refresh with line count 20, over a
    // LAN's segments of 1,448 bytes, and a client that reads nothing for a while.
    Room room(settings([](ServerSettings &s) { s.pacing.gapMs = 300; }), 20, 64000);
    ChatClient slow;
    const int segment = 1448, buffer = 64 * 1024, fd = int(slow.socket.socketDescriptor());
    setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment), setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    QVERIFY(slow.connectTo(room.server.port()));
    QMap<qsizetype, qint64> readAt; // bytes so far, when
    connect(&slow.socket, &QTcpSocket::readyRead, this, [&] { readAt.insert(slow.received().size(), QDateTime::currentMSecsSinceEpoch()); });
    slow.pause(true), slow.send(request("CanEnter?", QStringLiteral("slow"), "20") + refresh("20"));
    QTimer::singleShot(900, this, [&] { slow.pause(false); });
    QTRY_COMPARE_WITH_TIMEOUT(slow.received().size(), 2 * room.room.reply(20).size(), WaitMs);
    // Not dropped, and the second reply began well after the first had come.
    const auto end = readAt.constFind(room.room.reply(20).size()); // one read ends there, the next comes later
    QVERIFY(room.turnedAway.isEmpty() && end != readAt.cend() && std::next(end).value() - end.value() >= 150);
}

void TestClientConnection::greedyReadersShareOneBound_data()
{
    QTest::addColumn<QByteArrayList>("counts");
    QTest::addColumn<int>("started"); // replies that go at once
    QTest::newRow("replies of their own") << QByteArrayList{"1000", "999", "998"} << 1;
    QTest::newRow("one reply shared") << QByteArrayList{"1000", "1000", "1000"} << 3;
}

void TestClientConnection::greedyReadersShareOneBound()
{
    QFETCH(QByteArrayList, counts);
    QFETCH(int, started);
    // Replies of 10 MB, more than a kernel takes, a bound of 12 MiB, clients that read none.
    Room room(settings([](ServerSettings &s) { s.queuedBytesLimit = 12 * 1024 * 1024; }), Conversation::KeptLines, 10000);
    ChatClient member;
    QVERIFY(member.connectTo(room.server.port()));
    member.exchange(join(QStringLiteral("member")));
    std::vector<std::unique_ptr<ChatClient>> greedy;
    for (qsizetype k = 0; k < counts.size(); ++k) {
        greedy.push_back(std::make_unique<ChatClient>("127.0.0.2"));
        const int little = 4096;
        setsockopt(int(greedy.back()->socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &little, sizeof little);
        QVERIFY(greedy.back()->connectTo(room.server.port()));
        greedy.back()->stopReading();
    }
    for (qsizetype k = 0; k < counts.size(); ++k)
        greedy[k]->send(refresh(counts[k]));
    const auto isStarted = [](const std::unique_ptr<ChatClient> &c) {
        int n = 0;
        return ::ioctl(int(c->socket.socketDescriptor()), FIONREAD, &n) == 0 && n > 0;
    };
    const auto startedNow = [&] { return int(std::count_if(greedy.begin(), greedy.end(), isStarted)); };
    QTRY_COMPARE_WITH_TIMEOUT(startedNow(), started, WaitMs);
    // Short replies never wait; the long ones still do.
    QCOMPARE(divide(member.exchange(refresh("0"))).left, QStringLiteral("member"));
    QCOMPARE(startedNow(), started);
    // One that goes makes room for the next.
    greedy.erase(std::find_if(greedy.begin(), greedy.end(), isStarted));
    QTRY_COMPARE_WITH_TIMEOUT(room.server.connectionCount(), 3, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(startedNow(), std::min<int>(started, int(greedy.size())), WaitMs);
}

void TestClientConnection::overBudgetIsToldItsSenderAlone()
{
    Room room(settings([](ServerSettings &s) { s.postBudget.postsPerMinute = 3; })); // one at once
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
}

QTEST_GUILESS_MAIN(TestClientConnection)
#include "tst_clientconnection.moc"

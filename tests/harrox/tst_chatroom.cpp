// The room without sockets: what members send, how it is shown and kept.
#include "chatclient.h"

#include "chatroom.h"

namespace {

Request request(Request::Verb verb, const QString &payload = {}, const QByteArray &count = "10")
{
    return {verb, Cp932::encode(payload), "127.0.0.9", count};
}

const QDateTime At = QDateTime(QDate(2024, 4, 1), QTime(9, 5), Qt::LocalTime).toUTC();

// Handles the request as the server does, storing a post (a message shows
// once it is stored); returns the reply.
QByteArray act(ChatRoom &room, quint64 connection, Request::Verb verb, const QString &text)
{
    const ChatRoom::Outcome outcome = room.handle(connection, request(verb, text), At, {});
    if (outcome.effect == ChatRoom::Effect::Posting)
        room.addStored(outcome.message);
    return room.reply(ChatProtocol::DefaultLineCount);
}

} // namespace

class TestChatRoom : public QObject
{
    Q_OBJECT

private slots:
    void shownApart_data();
    void shownApart();
    void keepsTheRecentLines();
    void namesAcrossServers_data();
    void namesAcrossServers();
    void budget_data();
    void budget();
    void cacheKeepsBytes();
};

// Nothing a client sends looks like someone else's line, or moves the
// division of the reply.
void TestChatRoom::shownApart_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("members");
    QTest::addColumn<QString>("line");

    QTest::newRow("separator in the name") << QStringLiteral("a/*/b") << QStringLiteral("x /*/ y")
                                           << QString::fromUtf8("ann\r\na/＊/b") << QStringLiteral("a/*/b> x /*/ y");
    QTest::newRow("name ends in slash-star") << QStringLiteral("a/*") << QStringLiteral("x")
                                             << QString::fromUtf8("ann\r\na/＊") << QStringLiteral("a/*> x");
    QTest::newRow("forged line") << QStringLiteral("ann") << QStringLiteral("ok\r\n01/01 00:00 bob> hi")
                                 << QStringLiteral("ann\r\nann(2)") << QStringLiteral("ann(2)> ok  01/01 00:00 bob> hi");
    QTest::newRow("controls") << QString::fromLatin1("a\nb\0c\x1f", 6) << QString::fromLatin1("\0\t\x1b[1m", 6)
                              << QStringLiteral("ann\r\na b c ") << QStringLiteral("a b c >    [1m");
    QTest::newRow("long name cut") << QString(300, u'長') << QStringLiteral("x")
                                   << QStringLiteral("ann\r\n") + QString(MemberList::MaxNameLength, u'長')
                                   << QString(MemberList::MaxNameLength, u'長') + QStringLiteral("> x");
}

void TestChatRoom::shownApart()
{
    QFETCH(QString, name);
    QFETCH(QString, body);
    QFETCH(QString, members);
    QFETCH(QString, line);
    Conversation conversation;
    ChatRoom room(conversation);
    act(room, 1, Request::Verb::Join, QStringLiteral("ann"));
    QCOMPARE(room.handle(2, request(Request::Verb::Message, body), At, {}).effect, ChatRoom::Effect::NotJoined);
    act(room, 2, Request::Verb::Join, name);
    // Stored clean, not only shown clean.
    QCOMPARE(room.handle(2, request(Request::Verb::Message, body), At, {}).message.body, line.sliced(line.indexOf(u'>') + 2));
    const ChatProtocol::ReplyParts parts = divide(act(room, 2, Request::Verb::Message, body));
    QCOMPARE(parts.left, members);
    QCOMPARE(parts.right, QStringLiteral("04/01 09:05 ") + line);
}

void TestChatRoom::keepsTheRecentLines()
{
    QList<StoredMessage> history;
    for (int i = 0; i <= Conversation::KeptLines; ++i)
        history.append({At, QStringLiteral("a"), QString::number(i), {}});
    Conversation conversation(history);
    QCOMPARE(conversation.lineCount(), Conversation::KeptLines);
    QVERIFY(conversation.recent(Conversation::KeptLines + 1).startsWith("04/01 09:05 a> 1\r\n"));
    QCOMPARE(conversation.recent(2), QByteArray("04/01 09:05 a> 999\r\n04/01 09:05 a> 1000\r\n"));
    QCOMPARE(conversation.recentBytes(2), conversation.recent(2).size()); // what a reply is reckoned to cost
    // A full conversation's reply of the same length still changes.
    ChatRoom room(conversation);
    QVERIFY(room.reply(1).endsWith("a> 1000\r\n"));
    room.addStored({At, QStringLiteral("a"), QStringLiteral("new"), {}});
    QVERIFY(room.reply(1).endsWith("a> new\r\n"));
}

// Another server's entry counts as a second holder of the name unless it is
// the joining member's own from before a fail-over: same name, same host.
void TestChatRoom::namesAcrossServers_data()
{
    QTest::addColumn<QList<OtherMember>>("others");
    QTest::addColumn<QString>("shown");
    const OtherMember own{QStringLiteral("ann"), QStringLiteral("10.0.0.1")}, another{QStringLiteral("ann"), QStringLiteral("10.0.0.2")};
    QTest::newRow("another's") << QList<OtherMember>{another} << QStringLiteral("ann(2)");
    QTest::newRow("own former entry") << QList<OtherMember>{own} << QStringLiteral("ann");
    QTest::newRow("own and another's") << QList<OtherMember>{own, another} << QStringLiteral("ann(2)");
    QTest::newRow("the next suffix") << QList<OtherMember>{another, {QStringLiteral("ann(2)"), QStringLiteral("10.0.0.3")}} << QStringLiteral("ann(3)");
}

void TestChatRoom::namesAcrossServers()
{
    QFETCH(QList<OtherMember>, others);
    Conversation conversation;
    ChatRoom room(conversation);
    room.setOthers(others);
    room.handle(1, request(Request::Verb::Join, QStringLiteral("ann")), At, QStringLiteral("10.0.0.1:40000"));
    QTEST(room.members().nameOf(1), "shown");
    // Once it has left, the name is free for its next connection.
    room.leave(1);
    room.handle(2, request(Request::Verb::Join, QStringLiteral("ann")), At, QStringLiteral("10.0.0.1:40001"));
    QTEST(room.members().nameOf(2), "shown");
}

void TestChatRoom::budget_data()
{
    QTest::addColumn<int>("posts"); // a minute
    QTest::addColumn<int>("kib");
    QTest::addColumn<int>("factor");
    QTest::addColumn<int>("members"); // from one address, taking turns
    QTest::addColumn<int>("bytes"); // a post
    QTest::addColumn<bool>("rename");
    QTest::addColumn<int>("taken"); // of 200 at once
    QTest::addColumn<int>("takenAfter"); // of 200 a second later

    QTest::newRow("posts") << 60 << 1024 << 4 << 1 << 10 << false << 20 << 1;
    QTest::newRow("renames") << 60 << 1024 << 4 << 1 << 10 << true << 20 << 1;
    // The sixth line passes on what is left, and its overdraft is paid first.
    QTest::newRow("bytes") << 60 << 1024 << 4 << 1 << 65000 << false << 6 << 0;
    QTest::newRow("address") << 60 << 1024 << 4 << 5 << 10 << false << 80 << 4;
    QTest::newRow("no address budget") << 60 << 1024 << 0 << 5 << 10 << false << 100 << 5;
    QTest::newRow("off") << 0 << 0 << 4 << 1 << 65000 << false << 200 << 200;
    QTest::newRow("one a minute") << 1 << 1024 << 4 << 1 << 10 << false << 1 << 0;
}

void TestChatRoom::budget()
{
    QFETCH(int, posts);
    QFETCH(int, kib);
    QFETCH(int, factor);
    QFETCH(int, members);
    QFETCH(int, bytes);
    QFETCH(bool, rename);
    QFETCH(int, taken);
    QFETCH(int, takenAfter);
    qint64 now = 0;
    Conversation conversation;
    ChatRoom room(conversation, [&] { return now; });
    room.budget().setLimits({posts, kib * 1024LL, factor});
    const auto from = [](quint64 m) { return QStringLiteral("10.0.0.1:%1").arg(m); };
    for (int m = 0; m < members; ++m)
        room.handle(m, request(Request::Verb::Join, QStringLiteral("m%1").arg(m)), At, from(m));
    for (const int expected : {taken, takenAfter}) {
        int count = 0;
        for (int i = 0; i < 200; ++i) {
            const Request sent = request(rename ? Request::Verb::Join : Request::Verb::Message, QString(bytes, u'x'));
            count += room.handle(quint64(i % members), sent, At, from(i % members)).effect != ChatRoom::Effect::OverBudget;
        }
        QCOMPARE(count, expected);
        now += 1000;
    }
}

void TestChatRoom::cacheKeepsBytes()
{
    Conversation conversation({{At, QStringLiteral("ann"), QString(400, u'x'), {}}, {At, QStringLiteral("bob"), QString(400, u'y'), {}}});
    ChatRoom room(conversation);
    room.setCacheBytes(1000);
    const QByteArray one = room.reply(1);
    QCOMPARE(room.reply(1).constData(), one.constData());
    // Both renders do not fit: the second takes the first's place.
    const QByteArray two = room.reply(2);
    QCOMPARE(room.reply(2).constData(), two.constData());
    QVERIFY(room.reply(1).constData() != one.constData());
    // Larger than the cache: made for its reply alone.
    room.setCacheBytes(100);
    QVERIFY(room.reply(2).constData() != room.reply(2).constData());
}

QTEST_GUILESS_MAIN(TestChatRoom)
#include "tst_chatroom.moc"

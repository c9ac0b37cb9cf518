#include "chatroom.h"

#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QTest>

namespace {

Request request(Request::Verb verb, const QString &payload, const QByteArray &count = "10")
{
    Request r;
    r.verb = verb;
    r.payload = Cp932::encode(payload);
    r.address = "10.0.0.9";
    r.lineCount = count;
    return r;
}

QDateTime at(int minute)
{
    return QDateTime(QDate(2024, 4, 1), QTime(9, minute), Qt::LocalTime).toUTC();
}

ChatProtocol::ReplyParts divide(const QByteArray &reply)
{
    return ChatProtocol::divideReply(Cp932::decode(reply));
}

// Posts as the server does: the message is shown once it is stored.
ChatRoom::Outcome post(ChatRoom &room, quint64 connection, const QString &text, const QDateTime &when,
                       const QString &peer = {})
{
    ChatRoom::Outcome outcome = room.handle(connection, request(Request::Verb::Message, text), when, peer);
    if (outcome.effect == ChatRoom::Effect::Posting) {
        room.addStored(outcome.message);
        outcome.reply = room.reply(10);
    }
    return outcome;
}

} // namespace

class TestChatRoom : public QObject
{
    Q_OBJECT

private slots:
    void joinRefreshAndMessage();
    void renameKeepsPlace();
    void leaveRemovesMember();
    void messageBeforeJoiningIsNotStored();
    void unstoredMessageIsNotShown();
    void lineCountLimitsTheConversation();
    void keepsTheRecentLinesAndLoadsThem();
    void namesNeverMoveTheDivision_data();
    void namesNeverMoveTheDivision();
};

void TestChatRoom::joinRefreshAndMessage()
{
    Conversation conversation;
    ChatRoom room(conversation);

    ChatRoom::Outcome outcome = room.handle(1, request(Request::Verb::Join, QStringLiteral("ann")), at(0), {});
    QCOMPARE(outcome.effect, ChatRoom::Effect::Joined);
    QCOMPARE(outcome.reply, QByteArray("ann/*/"));

    room.handle(2, request(Request::Verb::Join, QString::fromUtf8("ボブ")), at(0), {});
    outcome = post(room, 2, QString::fromUtf8("やあ /*/ hi"), at(5), QStringLiteral("10.0.0.2:4000"));
    QCOMPARE(outcome.effect, ChatRoom::Effect::Posting);
    QCOMPARE(outcome.message.peer, QStringLiteral("10.0.0.2:4000"));
    QCOMPARE(outcome.message.name, QString::fromUtf8("ボブ"));
    const ChatProtocol::ReplyParts parts = divide(outcome.reply);
    QCOMPARE(parts.left, QString::fromUtf8("ann\r\nボブ"));
    QCOMPARE(parts.right, QString::fromUtf8("04/01 09:05 ボブ> やあ /*/ hi"));

    outcome = room.handle(1, request(Request::Verb::Refresh, {}), at(6), {});
    QCOMPARE(outcome.effect, ChatRoom::Effect::Answered);
    QCOMPARE(divide(outcome.reply).right, parts.right);
}

void TestChatRoom::renameKeepsPlace()
{
    Conversation conversation;
    ChatRoom room(conversation);
    room.handle(1, request(Request::Verb::Join, QStringLiteral("ann")), at(0), {});
    room.handle(2, request(Request::Verb::Join, QStringLiteral("bob")), at(0), {});
    const ChatRoom::Outcome outcome =
        room.handle(1, request(Request::Verb::Join, QStringLiteral("anna")), at(0), {});
    QCOMPARE(outcome.effect, ChatRoom::Effect::Renamed);
    QCOMPARE(divide(outcome.reply).left, QStringLiteral("anna\r\nbob"));
}

void TestChatRoom::leaveRemovesMember()
{
    Conversation conversation;
    ChatRoom room(conversation);
    room.handle(1, request(Request::Verb::Join, QStringLiteral("ann")), at(0), {});
    room.handle(2, request(Request::Verb::Join, QStringLiteral("bob")), at(0), {});
    QVERIFY(room.leave(1));
    QVERIFY(!room.leave(1));
    QVERIFY(!room.leave(3));
    QCOMPARE(room.reply(10), QByteArray("bob/*/"));
}

void TestChatRoom::messageBeforeJoiningIsNotStored()
{
    Conversation conversation;
    ChatRoom room(conversation);
    const ChatRoom::Outcome outcome =
        room.handle(1, request(Request::Verb::Message, QStringLiteral("sneaky")), at(0), {});
    QCOMPARE(outcome.effect, ChatRoom::Effect::NotJoined);
    QCOMPARE(outcome.reply, QByteArray("/*/"));
}

void TestChatRoom::unstoredMessageIsNotShown()
{
    Conversation conversation;
    ChatRoom room(conversation);
    room.handle(1, request(Request::Verb::Join, QStringLiteral("ann")), at(0), {});
    const ChatRoom::Outcome outcome =
        room.handle(1, request(Request::Verb::Message, QStringLiteral("not yet")), at(0), {});
    QCOMPARE(outcome.effect, ChatRoom::Effect::Posting);
    QVERIFY(outcome.reply.isEmpty());
    QCOMPARE(room.reply(10), QByteArray("ann/*/"));
    room.addStored(outcome.message);
    QVERIFY(room.reply(10).endsWith("ann> not yet"));
}

void TestChatRoom::lineCountLimitsTheConversation()
{
    Conversation conversation;
    ChatRoom room(conversation);
    room.handle(1, request(Request::Verb::Join, QStringLiteral("a")), at(0), {});
    for (int i = 0; i < 30; ++i)
        post(room, 1, QString::number(i), at(i));

    const auto lines = [&](const QByteArray &count) {
        const QByteArray reply = room.handle(1, request(Request::Verb::Refresh, {}, count), at(0), {}).reply;
        const QString right = divide(reply).right;
        return right.isEmpty() ? QStringList() : right.split(QStringLiteral("\r\n"));
    };
    QCOMPARE(lines("3"), QStringList({QStringLiteral("04/01 09:27 a> 27"),
                                      QStringLiteral("04/01 09:28 a> 28"),
                                      QStringLiteral("04/01 09:29 a> 29")}));
    QCOMPARE(lines("").size(), 10);
    QCOMPARE(lines("x").size(), 10);
    QCOMPARE(lines("0").size(), 0);
    QCOMPARE(lines("999").size(), 30);
}

void TestChatRoom::keepsTheRecentLinesAndLoadsThem()
{
    QList<StoredMessage> history;
    for (int i = 0; i < Conversation::KeptLines + 5; ++i)
        history.append({at(0), QStringLiteral("a"), QString::number(i), {}});
    {
        Conversation conversation;
        for (const StoredMessage &message : history)
            conversation.add(message);
        QCOMPARE(conversation.lineCount(), Conversation::KeptLines);
        QVERIFY(conversation.recent(1).endsWith("a> 1004"));
        QVERIFY(conversation.recent(Conversation::KeptLines).startsWith("04/01 09:00 a> 5\r\n"));
    }
    Conversation reloaded(history.mid(history.size() - Conversation::KeptLines));
    QCOMPARE(reloaded.lineCount(), Conversation::KeptLines);
    QVERIFY(reloaded.recent(2).endsWith("a> 1003\r\n04/01 09:00 a> 1004"));
}

void TestChatRoom::namesNeverMoveTheDivision_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << QStringLiteral("ann") << QStringLiteral("ann");
    QTest::newRow("separator") << QStringLiteral("a/*/b") << QString::fromUtf8("a/＊/b");
    QTest::newRow("separator at the end") << QStringLiteral("a/*/") << QString::fromUtf8("a/＊/");
    QTest::newRow("ends in slash-star") << QStringLiteral("a/*") << QString::fromUtf8("a/＊");
    QTest::newRow("request separators") << QStringLiteral("/*/~/**/")
                                        << QString::fromUtf8("/＊/~/＊*/");
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\nc") << QStringLiteral("a  b c");
    QTest::newRow("japanese") << QString::fromUtf8("山田/*/花子") << QString::fromUtf8("山田/＊/花子");
}

void TestChatRoom::namesNeverMoveTheDivision()
{
    QFETCH(QString, name);
    QFETCH(QString, shown);
    Conversation conversation;
    ChatRoom room(conversation);
    room.handle(1, request(Request::Verb::Join, name), at(0), {});
    post(room, 1, QStringLiteral("x /*/ y"), at(1));
    const QByteArray reply = room.reply(10);
    const ChatProtocol::ReplyParts parts = divide(reply);
    QVERIFY(parts.divided);
    QCOMPARE(parts.left, shown);
    QVERIFY(!parts.left.contains(QStringLiteral("/*/")));
    QVERIFY(parts.right.endsWith(QStringLiteral("> x /*/ y")));
}

QTEST_GUILESS_MAIN(TestChatRoom)
#include "tst_chatroom.moc"

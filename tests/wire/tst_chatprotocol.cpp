#include "wire/chatprotocol.h"

#include <QTest>

using namespace ChatProtocol;

class tst_ChatProtocol : public QObject
{
    Q_OBJECT

private slots:
    void compose_data();
    void compose();
    void divide_data();
    void divide();
};

void tst_ChatProtocol::compose_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("lineCount");
    QTest::addColumn<QString>("expected");
    QTest::newRow("join") << JoinVerb.toString() << QStringLiteral("ゲスト") << QStringLiteral("10")
                          << QStringLiteral("CanEnter?ゲスト/*/~127.0.0.12/**/10");
    QTest::newRow("message") << MessageVerb.toString() << QStringLiteral("こんにちは")
                             << QStringLiteral("10")
                             << QStringLiteral("NormalTelこんにちは/*/~127.0.0.12/**/10");
    QTest::newRow("refresh") << RefreshVerb.toString() << QString() << QStringLiteral("10")
                             << QStringLiteral("/Reflesh//*/~127.0.0.12/**/10");
    QTest::newRow("separators in payload")
        << MessageVerb.toString() << QStringLiteral("a/*/~b/**/c/*/d") << QStringLiteral("20")
        << QStringLiteral("NormalTela/*/~b/**/c/*/d/*/~127.0.0.12/**/20");
    QTest::newRow("spaces kept") << JoinVerb.toString() << QStringLiteral("  名 前 ")
                                 << QStringLiteral("30")
                                 << QStringLiteral("CanEnter?  名 前 /*/~127.0.0.12/**/30");
    QTest::newRow("odd line count") << RefreshVerb.toString() << QString()
                                    << QStringLiteral("abc 99")
                                    << QStringLiteral("/Reflesh//*/~127.0.0.12/**/abc 99");
    QTest::newRow("empty line count") << RefreshVerb.toString() << QString() << QString()
                                      << QStringLiteral("/Reflesh//*/~127.0.0.12/**/");
}

void tst_ChatProtocol::compose()
{
    QFETCH(QString, verb);
    QFETCH(QString, payload);
    QFETCH(QString, lineCount);
    QFETCH(QString, expected);
    QCOMPARE(composeRequest(verb, payload, u"127.0.0.12", lineCount), expected);
}

void tst_ChatProtocol::divide_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<bool>("divided");
    QTest::newRow("worked example") << QStringLiteral("AB/*/CD/*/EF") << QStringLiteral("AB")
                                    << QStringLiteral("CD/*/EF") << true;
    QTest::newRow("begins with separator") << QStringLiteral("/*/rest") << QString()
                                           << QStringLiteral("rest") << true;
    QTest::newRow("ends with separator") << QStringLiteral("members/*/") << QStringLiteral("members")
                                         << QString() << true;
    QTest::newRow("two replies in one event")
        << QStringLiteral("太郎\r\n/*/太郎> やあ\r\n花子\r\n/*/太郎> やあ\r\n")
        << QStringLiteral("太郎\r\n") << QStringLiteral("太郎> やあ\r\n花子\r\n/*/太郎> やあ\r\n")
        << true;
    QTest::newRow("address separator counts") << QStringLiteral("a/*/~b") << QStringLiteral("a")
                                              << QStringLiteral("~b") << true;
    QTest::newRow("no separator: all to the conversation")
        << QStringLiteral("half a reply /*") << QString() << QStringLiteral("half a reply /*")
        << false;
    QTest::newRow("empty") << QString() << QString() << QString() << false;
    QTest::newRow("no width folding") << QStringLiteral("a／＊／b") << QString()
                                      << QStringLiteral("a／＊／b") << false;
}

void tst_ChatProtocol::divide()
{
    QFETCH(QString, reply);
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(bool, divided);
    const ReplyParts parts = divideReply(reply);
    QCOMPARE(parts.left, left);
    QCOMPARE(parts.right, right);
    QCOMPARE(parts.divided, divided);
}

QTEST_GUILESS_MAIN(tst_ChatProtocol)
#include "tst_chatprotocol.moc"

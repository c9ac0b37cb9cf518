#include "wire/cp932.h"

#include <QTest>

class tst_Cp932 : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void encodeOnly_data();
    void encodeOnly();
    void decodeBadBytes_data();
    void decodeBadBytes();
    void streamSplitEverywhere();
    void streamHeldLeadThenBadByte();
    void streamFlush();
};

void tst_Cp932::roundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("wave dash") << QStringLiteral("～") << QByteArray("\x81\x60");
    QTest::newRow("circled one") << QStringLiteral("①") << QByteArray("\x87\x40");
    QTest::newRow("small roman one") << QStringLiteral("ⅰ") << QByteArray("\xFA\x40");
    QTest::newRow("not sign") << QStringLiteral("￢") << QByteArray("\x81\xCA");
    QTest::newRow("parallel") << QStringLiteral("∥") << QByteArray("\x81\x61");
    QTest::newRow("fullwidth hyphen-minus") << QStringLiteral("－") << QByteArray("\x81\x7C");
    QTest::newRow("half-width a") << QStringLiteral("ｱ") << QByteArray("\xB1");
    QTest::newRow("backslash") << QStringLiteral("\\") << QByteArray("\x5C");
    QTest::newRow("ascii") << QStringLiteral("CanEnter?/*/~127.0.0.1/**/10")
                           << QByteArray("CanEnter?/*/~127.0.0.1/**/10");
    QTest::newRow("kana and kanji") << QStringLiteral("ゲスト本社")
                                    << QByteArray("\x83\x51\x83\x58\x83\x67\x96\x7B\x8E\xD0");
    QTest::newRow("user-defined area") << QString(QChar(0xE000)) << QByteArray("\xF0\x40");
    QTest::newRow("controls unswapped") << QStringLiteral("\x1a\x1c\x7f") << QByteArray("\x1a\x1c\x7f");
    QTest::newRow("empty") << QString() << QByteArray();
}

void tst_Cp932::roundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Cp932::encode(text), bytes);
    QCOMPARE(Cp932::decode(bytes), text);
}

void tst_Cp932::encodeOnly_data()
{
    // Windows' best-fit mappings, and "?" for what the code page cannot hold.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("minus sign") << QStringLiteral("−") << QByteArray("\x81\x7C");
    QTest::newRow("emoji keeps neighbours")
        << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("supplementary kanji") << QStringLiteral("𠮷野家") << QByteArray("?\x96\xEC\x89\xC6");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'x' << QByteArray("?x");
    QTest::newRow("hangul") << QStringLiteral("한") << QByteArray("?");
}

void tst_Cp932::encodeOnly()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Cp932::encode(text), bytes);
}

void tst_Cp932::decodeBadBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QString bad(QChar(0xFFFD));
    QTest::newRow("lone trailing lead") << QByteArray("ab\x82") << QStringLiteral("ab") + bad;
    QTest::newRow("lead before space") << QByteArray("\x81 x") << bad + QStringLiteral(" x");
    QTest::newRow("lead before control") << QByteArray("\x81\nx") << bad + QStringLiteral("\nx");
    QTest::newRow("lead before lead pair")
        << QByteArray("\x81\x7F\x83\x51") << bad + QChar(0x7F) + QStringLiteral("ゲ");
    QTest::newRow("unassigned pair") << QByteArray("a\x85\x40z") << QStringLiteral("a") + bad + u'z';
    QTest::newRow("single 0x80") << QByteArray("\x80") << bad;
    QTest::newRow("single 0xA0") << QByteArray("x\xA0y") << QStringLiteral("x") + bad + u'y';
    QTest::newRow("single 0xFD..FF") << QByteArray("\xFD\xFE\xFF") << bad + bad + bad;
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QString(QStringLiteral("a") + QChar(0) + u'b');
}

void tst_Cp932::decodeBadBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(Cp932::decode(bytes), text);
}

void tst_Cp932::streamSplitEverywhere()
{
    const QString text = QStringLiteral("AB/*/ゲスト> こんにちは①ⅰｱ～\r\nend");
    const QByteArray bytes = Cp932::encode(text);
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        for (qsizetype cut2 = cut; cut2 <= bytes.size(); ++cut2) {
            Cp932Decoder decoder;
            QString out = decoder.decode(bytes.first(cut));
            out += decoder.decode(bytes.sliced(cut, cut2 - cut));
            out += decoder.decode(bytes.sliced(cut2));
            QVERIFY(!decoder.hasPending());
            QCOMPARE(out, text);
        }
    }
}

void tst_Cp932::streamHeldLeadThenBadByte()
{
    Cp932Decoder decoder;
    QCOMPARE(decoder.decode("x\x83"), QStringLiteral("x"));
    QVERIFY(decoder.hasPending());
    // The held lead does not pair with a newline: it alone is bad.
    QCOMPARE(decoder.decode("\ny\x83"), QString(QChar(0xFFFD)) + QStringLiteral("\ny"));
    QVERIFY(decoder.hasPending());
    QCOMPARE(decoder.decode(""), QString());
    QVERIFY(decoder.hasPending());
    QCOMPARE(decoder.decode("\x51!"), QStringLiteral("ゲ!"));
}

void tst_Cp932::streamFlush()
{
    Cp932Decoder decoder;
    QCOMPARE(decoder.decode("\x96"), QString());
    QCOMPARE(decoder.flush(), QString(QChar(0xFFFD)));
    QVERIFY(!decoder.hasPending());
    QCOMPARE(decoder.flush(), QString());
}

QTEST_GUILESS_MAIN(tst_Cp932)
#include "tst_cp932.moc"

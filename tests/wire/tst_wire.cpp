// What crosses the wire: code page 932 both ways, and the line count a
// server reads. The request texts, the division of a reply and decoding in
// pieces are checked where the programs send and read them.
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QTest>

using namespace ChatProtocol;

class tst_Wire : public QObject
{
    Q_OBJECT

private slots:
    void codePage_data()
    {
        // both: the bytes decode back to the text. Otherwise one way only:
        // Windows' best fit and "?" out, U+FFFD in.
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("both");
        const QString bad(QChar(0xFFFD));
        QTest::newRow("wave dash") << QStringLiteral("～") << QByteArray("\x81\x60") << true;
        QTest::newRow("NEC and IBM rows") << QStringLiteral("①ⅰ") << QByteArray("\x87\x40\xFA\x40") << true;
        QTest::newRow("last lead of the first range") << QStringLiteral("檗") << QByteArray("\x9F\x40") << true;
        QTest::newRow("first lead of the second range") << QStringLiteral("漾") << QByteArray("\xE0\x40") << true;
        QTest::newRow("fullwidth hyphen-minus") << QStringLiteral("－") << QByteArray("\x81\x7C") << true;
        QTest::newRow("half-width kana, backslash") << QStringLiteral("ｱ\\") << QByteArray("\xB1\x5C") << true;
        QTest::newRow("kana and kanji") << QStringLiteral("ゲスト本社")
                                        << QByteArray("\x83\x51\x83\x58\x83\x67\x96\x7B\x8E\xD0") << true;
        QTest::newRow("user-defined area") << QString(QChar(0xE000)) << QByteArray("\xF0\x40") << true;
        QTest::newRow("controls unswapped") << QStringLiteral("\x1a\x1c\x7f") << QByteArray("\x1a\x1c\x7f") << true;
        QTest::newRow("minus sign") << QStringLiteral("−") << QByteArray("\x81\x7C") << false;
        QTest::newRow("cent, pound, not") << QStringLiteral("¢£¬") << QByteArray("\x81\x91\x81\x92\x81\xCA") << false;
        QTest::newRow("emoji keeps neighbours") << QStringLiteral("a😀b") << QByteArray("a?b") << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'x' << QByteArray("?x") << false;
        QTest::newRow("lone trailing lead") << QStringLiteral("ab") + bad << QByteArray("ab\x82") << false;
        QTest::newRow("lead before control") << bad + QStringLiteral("\nx") << QByteArray("\x81\nx") << false;
        QTest::newRow("unassigned pair") << QStringLiteral("a") + bad + u'z' << QByteArray("a\x85\x40z") << false;
        QTest::newRow("0x80, 0xA0, 0xFD") << bad + bad + bad << QByteArray("\x80\xA0\xFD") << false;
    }

    void codePage()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, both);
        if (both || !text.contains(QChar(0xFFFD)))
            QCOMPARE(Cp932::encode(text), bytes);
        if (both || text.contains(QChar(0xFFFD)))
            QCOMPARE(Cp932::decode(bytes), text);
    }

    void lineCount_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("lines");
        QTest::newRow("leading zeros") << QByteArray("007") << 7;
        QTest::newRow("zero") << QByteArray("0") << 0;
        QTest::newRow("the most") << QByteArray("1000") << 1000;
        QTest::newRow("more than the most") << QByteArray("1001") << 1000;
        QTest::newRow("huge") << QByteArray("99999999999999999999999") << 1000;
        QTest::newRow("empty") << QByteArray() << 10;
        QTest::newRow("sign") << QByteArray("-5") << 10;
        QTest::newRow("space") << QByteArray("20 ") << 10;
        QTest::newRow("wide digits") << Cp932::encode(u"２０") << 10;
    }

    void lineCount()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, lines);
        QCOMPARE(lineCountFrom(text), lines);
    }
};

QTEST_GUILESS_MAIN(tst_Wire)
#include "tst_wire.moc"

// A posted line is let go once a reply shows it, as a post or behind the
// not-stored notice, and only then.
#include "postedlines.h"

#include <QTest>

class tst_PostedLines : public QObject
{
    Q_OBJECT

private slots:
    void replyShown_data()
    {
        QTest::addColumn<QStringList>("posted");
        QTest::addColumn<QString>("conversation"); // as the reply holds it, CRLF between lines
        QTest::addColumn<QStringList>("kept");
        const QString notice = PostedLines::NotStoredNotice.toString();
        QTest::newRow("a post among others") << QStringList{QStringLiteral("hello")} << QStringLiteral("12/08 10:00 ann> hello\r\n12/08 10:01 bob> later") << QStringList();
        QTest::newRow("the text alone is no post") << QStringList{QStringLiteral("hello")} << QStringLiteral("12/08 10:00 ann> x\r\nhello") << QStringList{QStringLiteral("hello")};
        QTest::newRow("not stored") << QStringList{QStringLiteral("hello")} << notice + QStringLiteral("hello") << QStringList();
        QTest::newRow("as Harrox stores it") << QStringList{QStringLiteral("a\tb")} << QStringLiteral("12/08 10:00 ann> a b") << QStringList();
        QTest::newRow("pushed out, kept") << QStringList{QStringLiteral("one"), QStringLiteral("two")} << QStringLiteral("12/08 10:00 ann> two\r\n") << QStringList{QStringLiteral("one")};
    }
    void replyShown()
    {
        QFETCH(QStringList, posted);
        QFETCH(QString, conversation);
        QFETCH(QStringList, kept);
        PostedLines lines;
        for (const QString &line : posted)
            lines.posted(line);
        lines.replyShown(conversation);
        QCOMPARE(lines.takeAll(), kept);
    }
};

QTEST_GUILESS_MAIN(tst_PostedLines)
#include "tst_postedlines.moc"

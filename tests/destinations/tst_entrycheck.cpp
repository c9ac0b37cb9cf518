#include "destinations/entrycheck.h"

#include <QTest>

using EntryCheck::Verdict;
using Groups = std::array<QString, 4>;
Q_DECLARE_METATYPE(Groups)
Q_DECLARE_METATYPE(Verdict)

class tst_EntryCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void numericUnderAnotherLocale();
    void split_data();
    void split();
};

void tst_EntryCheck::check_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Groups>("groups");
    QTest::addColumn<Verdict>("verdict");
    auto g = [](const char *a, const char *b, const char *c, const char *d) {
        return Groups{QString::fromUtf8(a), QString::fromUtf8(b), QString::fromUtf8(c),
                      QString::fromUtf8(d)};
    };
    const QString name = QStringLiteral("本社");
    QTest::newRow("plain address") << name << g("192", "168", "0", "10") << Verdict::Accepted;
    QTest::newRow("all 999") << name << g("999", "999", "999", "999") << Verdict::Accepted;
    QTest::newRow("blank name") << QStringLiteral("   ") << g("1", "2", "3", "4") << Verdict::Accepted;
    QTest::newRow("empty name") << QString() << g("1", "2", "3", "4") << Verdict::Missing;
    QTest::newRow("empty group") << name << g("1", "", "3", "4") << Verdict::Missing;
    QTest::newRow("four digits") << name << g("1921", "168", "0", "1") << Verdict::TooLong;
    QTest::newRow("letter") << name << g("1a", "168", "0", "1") << Verdict::NotNumeric;
    QTest::newRow("word") << name << g("abc", "1", "1", "1") << Verdict::NotNumeric;
    QTest::newRow("decimal") << name << g("1.5", "2", "3", "4") << Verdict::Accepted;
    QTest::newRow("leading blank") << name << g(" 7", "2", "3", "4") << Verdict::Accepted;
    QTest::newRow("trailing blank") << name << g("7 ", "2", "3", "4") << Verdict::Accepted;
    QTest::newRow("exponent") << name << g("1E2", "2", "3", "4") << Verdict::Accepted;
    QTest::newRow("signed") << name << g("-1", "+2", "3", "4") << Verdict::Accepted;
    QTest::newRow("lone sign") << name << g("-", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("lone separator") << name << g(".", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("blank only") << name << g(" ", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("exponent without digits") << name << g("1e", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("two separators") << name << g("1.2.", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("hex prefix") << name << g("&H1", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("full-width digits") << name << g("１２", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("group separator") << name << g("1,0", "2", "3", "4") << Verdict::NotNumeric;
    QTest::newRow("numeric but long") << name << g("1.25", "2", "3", "4") << Verdict::TooLong;
    // The rules apply in order: presence, then numbers, then length.
    QTest::newRow("missing before letters") << QString() << g("x", "2", "3", "4") << Verdict::Missing;
    QTest::newRow("letters before length") << name << g("1234", "x", "3", "4") << Verdict::NotNumeric;
}

void tst_EntryCheck::check()
{
    QFETCH(QString, name);
    QFETCH(Groups, groups);
    QFETCH(Verdict, verdict);
    QCOMPARE(EntryCheck::check(name, groups, QLocale::c()), verdict);
}

void tst_EntryCheck::numericUnderAnotherLocale()
{
    const QLocale german(QLocale::German, QLocale::Germany);
    QVERIFY(EntryCheck::isNumeric(u"1,5", german));
    QVERIFY(!EntryCheck::isNumeric(u"1.5", german));
    QVERIFY(EntryCheck::isNumeric(u"12", german));
}

void tst_EntryCheck::split_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<Groups>("groups");
    QTest::newRow("four groups") << QStringLiteral("127.168.0.10")
                                 << Groups{"127", "168", "0", "10"};
    QTest::newRow("four dots") << QStringLiteral("1.5.2.3.4") << Groups{"1", "5", "2", "3.4"};
    QTest::newRow("two dots") << QStringLiteral("1.2.3") << Groups{"1", "2", "3", ""};
    QTest::newRow("no dot") << QStringLiteral("abc") << Groups{"abc", "", "", ""};
    QTest::newRow("empty") << QString() << Groups{"", "", "", ""};
    QTest::newRow("trailing dots") << QStringLiteral("1...") << Groups{"1", "", "", ""};
}

void tst_EntryCheck::split()
{
    QFETCH(QString, address);
    QFETCH(Groups, groups);
    QCOMPARE(EntryCheck::splitAddress(address), groups);
}

QTEST_GUILESS_MAIN(tst_EntryCheck)
#include "tst_entrycheck.moc"

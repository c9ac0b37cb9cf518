// The entry check, in the editor's function and in pcipwrite, which must
// refuse what the editor refuses and also a group above 255.
#include "entrycheck.h"

#include "support/records.h"

#include <QtTest>

using EntryCheck::Verdict;
Q_DECLARE_METATYPE(Verdict)

class tst_EntryCheck : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("said"); // by pcipwrite
        const QString n = QStringLiteral("本社");
        QTest::newRow("255") << n << "255.255.255.255" << Verdict::Accepted << "";
        QTest::newRow("999") << n << "127.0.0.999" << Verdict::Accepted << "refused: an address group is above 255";
        QTest::newRow("blank name") << "   "
                                    << "1.2.3.4" << Verdict::Accepted << "";
        QTest::newRow("empty name") << ""
                                    << "1.2.3.4" << Verdict::Missing << "refused: a name and four";
        QTest::newRow("empty group") << n << "1..3.4" << Verdict::Missing << "refused";
        QTest::newRow("four digits") << n << "1.2.3.1921" << Verdict::TooLong << "refused: each address group must be at most 3";
        QTest::newRow("1.5 last") << n << "1.2.3.1.5" << Verdict::Accepted << "";
        QTest::newRow("letter") << n << "1a.2.3.4" << Verdict::NotNumeric << "refused: each address group must be a number";
        QTest::newRow("lone sign") << n << "-.2.3.4" << Verdict::NotNumeric << "refused";
        QTest::newRow("exponent") << n << "1E2.2.3.4" << Verdict::Accepted << "";
        QTest::newRow("exponent without digits") << n << "1e.2.3.4" << Verdict::NotNumeric << "refused";
        QTest::newRow("blanks around") << n << " 7.2 .3.4" << Verdict::Accepted << "";
        QTest::newRow("full-width digits") << n << "１２.2.3.4" << Verdict::NotNumeric << "refused";
        // The rules apply in order: presence, then numbers, then length.
        QTest::newRow("letters before length") << n << "1234.x.3.4" << Verdict::NotNumeric << "a number";
        QTest::newRow("name cut") << "abcdefghijklmnopqrstuvwxy"
                                  << "1.2.3.4" << Verdict::Accepted
                                  << "the name was cut to 20 bytes: abcdefghijklmnopqrst";
    }

    void check()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(Verdict, verdict);
        QFETCH(QString, said);
        QCOMPARE(EntryCheck::check(name, EntryCheck::splitAddress(address), QLocale::c()), verdict);

        const QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("PCIP.dat"));
        QVERIFY(writeFile(file, records("a"))); // pcipwrite appends
        QProcess pcipwrite;
        pcipwrite.setProcessChannelMode(QProcess::MergedChannels);
        pcipwrite.setEnvironment({QStringLiteral("LC_ALL=C.UTF-8")});
        pcipwrite.start(QStringLiteral(PCIPWRITE), {file, name, address});
        QVERIFY(pcipwrite.waitForFinished());
        const bool refused = verdict != Verdict::Accepted || said.contains(u"above 255");
        QCOMPARE(pcipwrite.exitCode(), refused ? 2 : 0);
        const QString out = QString::fromUtf8(pcipwrite.readAll());
        QVERIFY2(said.isEmpty() ? out.isEmpty() : out.contains(said), qPrintable(out));
        QCOMPARE(fileBytes(file), records("a") + (refused ? QByteArray() : destination(VBTrue, name, address.toLower()).toBytes()));
    }
};

QTEST_GUILESS_MAIN(tst_EntryCheck)
#include "tst_entrycheck.moc"

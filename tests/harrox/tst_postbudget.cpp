// A member's and an address's posting budget on a stepped clock: what a
// bucket holds after a pause, a limit that counts bytes alone, and the
// addresses let go to save memory.
#include "postbudget.h"

#include <QTest>

class TestPostBudget : public QObject
{
    Q_OBJECT

private slots:
    void takes_data();
    void takes();
};

void TestPostBudget::takes_data()
{
    QTest::addColumn<QList<qint64>>("limits"); // posts a minute, KiB a minute, address factor
    QTest::addColumn<QList<QList<qint64>>>("tries"); // each: ms, member, address, bytes
    QTest::addColumn<QString>("taken"); // + or - for each try
    // 3 KiB a minute: a full bucket holds 1 KiB, and no pause fills it further.
    QTest::newRow("bytes alone, after a long pause") << QList<qint64>{0, 3, 0} << QList<QList<qint64>>{{0, 1, 1, 1024}, {0, 1, 1, 1}, {600000, 1, 1, 1024}, {600000, 1, 1, 1}} << QStringLiteral("+-+-");
    // A second later the address has its posts back but few of its bytes;
    // letting the other addresses go must keep it.
    QList<QList<qint64>> crowd{{0, 1, 1, 1024}};
    QString expected = QStringLiteral("+");
    for (int k = 2; k <= 70; ++k) {
        crowd.append({1000, k, k, 1});
        expected += u'+';
    }
    crowd.append({{1000, 71, 1, 100}, {1000, 72, 1, 1}});
    QTest::newRow("an address still short is kept") << QList<qint64>{60, 3, 1} << crowd << expected + QStringLiteral("+-");
}

void TestPostBudget::takes()
{
    QFETCH(QList<qint64>, limits);
    QFETCH(QList<QList<qint64>>, tries);
    qint64 now = 0;
    PostBudget budget([&] { return now; });
    budget.setLimits({int(limits[0]), limits[1] * 1024, int(limits[2])});
    QString taken;
    for (const QList<qint64> &t : tries) {
        now = t[0];
        taken += budget.take(quint64(t[1]), QStringLiteral("10.0.0.%1").arg(t[2]), t[3]) ? u'+' : u'-';
    }
    QTEST(taken, "taken");
}

QTEST_GUILESS_MAIN(TestPostBudget)
#include "tst_postbudget.moc"

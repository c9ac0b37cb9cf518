#include "eraclock.h"

#include <QTest>
#include <QTimeZone>

class tst_EraClock : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        auto at = [](int y, int mo, int d, int h, int mi) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone(9 * 3600));
        };
        QTest::newRow("example") << at(2001, 3, 5, 15, 7) << QStringLiteral("平成13年3月5日(月)午後3時7分");
        QTest::newRow("half past midnight") << at(2001, 3, 5, 0, 30)
                                            << QStringLiteral("平成13年3月5日(月)午前12時30分");
        QTest::newRow("noon") << at(2001, 3, 5, 12, 0) << QStringLiteral("平成13年3月5日(月)午後12時0分");
        QTest::newRow("last day of heisei") << at(2019, 4, 30, 23, 59)
                                            << QStringLiteral("平成31年4月30日(火)午後11時59分");
        QTest::newRow("first day of reiwa") << at(2019, 5, 1, 0, 0)
                                            << QStringLiteral("令和1年5月1日(水)午前12時0分");
        QTest::newRow("showa") << at(1989, 1, 7, 9, 5) << QStringLiteral("昭和64年1月7日(土)午前9時5分");
        QTest::newRow("sunday") << at(2026, 12, 6, 11, 59) << QStringLiteral("令和8年12月6日(日)午前11時59分");
    }

    void format()
    {
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        EraClock clock;
        QCOMPARE(clock.format(time), text);
        // The machine's own zone never moves the date shown.
        QCOMPARE(clock.format(time.toUTC().toOffsetFromUtc(9 * 3600)), text);
    }
};

QTEST_GUILESS_MAIN(tst_EraClock)
#include "tst_eraclock.moc"

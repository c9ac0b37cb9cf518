// Harrox's reply pacing with a stepped clock: the gap, pushes, the budget.
#include "replypacer.h"

#include <QTest>

#include <algorithm>

namespace {

constexpr int Gap = 300;
constexpr qint64 ReplyBytes = 1000;
using Sent = QList<QPair<quint64, int>>; // client, lines

struct Pacer
{
    explicit Pacer(ReplyPacer::Settings settings)
        : pacer(
                settings, [this](quint64 id, int lines) { sent.append({id, lines}); return bytes.value(id, ReplyBytes); }, [this] { return now; })
    {
    }
    // What has gone out by t, in client order: a round promises none.
    Sent at(qint64 t)
    {
        pacer.tick(now = t);
        std::sort(sent.begin(), sent.end());
        return std::exchange(sent, {});
    }

    qint64 now = 0;
    Sent sent;
    QHash<quint64, qint64> bytes;
    ReplyPacer pacer;
};

} // namespace

class tst_ReplyPacer : public QObject
{
    Q_OBJECT

private slots:
    void gapAndPushes();
    void budgetSpacesPushes();
    void gapCountsFromTheTake();
    void addressesShareTheBudget();
    void changeWakesThePacer();
};

void tst_ReplyPacer::gapAndPushes()
{
    for (const bool live : {true, false}) {
        Pacer p({Gap, ReplyPacer::DefaultPushBytesPerSecond, live});
        p.pacer.request(1, 10, true);
        p.pacer.request(2, 20, true);
        p.pacer.request(3, 30, false);
        QCOMPARE(p.at(0).size(), 3);
        p.now = Gap / 2;
        p.pacer.roomChanged();
        p.pacer.roomChanged();
        p.pacer.request(2, 25, true);
        p.pacer.request(2, 26, true);
        QVERIFY(p.at(Gap - 1).isEmpty());
        // One reply answers both requests and the changes; 3 has not joined.
        QCOMPARE(p.at(Gap), live ? (Sent{{1, 10}, {2, 26}}) : (Sent{{2, 26}}));
        QVERIFY(p.at(5 * Gap).isEmpty());
    }
}

void tst_ReplyPacer::budgetSpacesPushes()
{
    constexpr int Clients = 20;
    Pacer p({Gap, 10 * ReplyBytes, true}); // a push each 100 ms, all 20 in 2 s
    for (int c = 1; c <= Clients; ++c)
        p.pacer.request(c, 10, true);
    QCOMPARE(p.at(0).size(), Clients);
    p.pacer.roomChanged();
    for (int pushed = 0; pushed < Clients; ++pushed) {
        QVERIFY(p.at(Gap + 100 * pushed - ReplyPacer::BurstMs - 1).isEmpty());
        QCOMPARE(p.at(Gap + 100 * pushed).size(), 1);
    }
    QVERIFY(p.at(Gap + 5000).isEmpty());
}

// One address whose members take 100 KB replies against a bystander's.
void tst_ReplyPacer::addressesShareTheBudget()
{
    Pacer p({Gap, 100 * ReplyBytes, true});
    for (int c = 1; c <= 11; ++c) {
        p.pacer.setHost(c, c == 11 ? QStringLiteral("bystander") : QStringLiteral("greedy"));
        p.bytes[c] = c == 11 ? ReplyBytes : 100 * ReplyBytes;
        p.pacer.request(c, 10, true);
    }
    p.at(0);
    // The bystander asks as the room changes: the greedy address, alone with
    // a push waiting, has the whole budget and pays 1 s for 100 KB.
    p.now = Gap;
    p.pacer.roomChanged();
    p.pacer.request(11, 10, true);
    QCOMPARE(p.at(Gap), (Sent{{1, 10}, {11, 10}}));
    // Its large push holds up the bystander no longer than the debt. Both
    // wait from then on: 100 KB take the greedy address's half 2 s.
    for (const auto &[change, pushed] : {QPair<qint64, int>{2 * Gap, 1}, {Gap + 1000, 2}, {Gap + 2000, 1}}) {
        p.now = change;
        p.pacer.roomChanged();
        Sent round = p.at(change);
        round += p.at(change + ReplyPacer::MaxDebtMs);
        QVERIFY2(round.contains({11, 10}), qPrintable(QString::number(round.size())));
        QCOMPARE(round.size(), pushed);
    }
}

void tst_ReplyPacer::gapCountsFromTheTake()
{
    // A reply still arriving after the gap: the next waits until it is taken.
    Pacer p({Gap, ReplyPacer::DefaultPushBytesPerSecond, true});
    qint64 untaken = ReplyBytes; // checked every TakeCheckMs from the write
    p.pacer.setUntaken([&](quint64) { return untaken; });
    p.pacer.request(1, 10, true); // sent at once
    p.pacer.roomChanged(), p.pacer.request(1, 20, true); // one reply for both
    QCOMPARE(p.at(2 * Gap), (Sent{{1, 10}}));
    untaken = 0; // seen taken at the next check, 2 * Gap + TakeCheckMs
    QVERIFY(p.at(2 * Gap + ReplyPacer::TakeCheckMs).isEmpty() && p.at(3 * Gap + ReplyPacer::TakeCheckMs - 1).isEmpty());
    QCOMPARE(p.at(3 * Gap + ReplyPacer::TakeCheckMs), (Sent{{1, 20}}));
}

QTEST_GUILESS_MAIN(tst_ReplyPacer)
// A change from another server comes with no request: the pacer wakes itself.
void tst_ReplyPacer::changeWakesThePacer()
{
    Pacer p({Gap, ReplyPacer::DefaultPushBytesPerSecond, true});
    p.pacer.request(1, 10, true);
    QCOMPARE(p.at(0).size(), 1);
    p.now = 2 * Gap;
    p.pacer.roomChanged();
    QTRY_COMPARE(p.sent, (Sent{{1, 10}}));
}

#include "tst_replypacer.moc"

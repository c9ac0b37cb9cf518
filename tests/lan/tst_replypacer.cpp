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
    explicit Pacer(ReplyPacer::Settings settings = {})
        : pacer(settings, [this](quint64 id, int lines) { sent.append({id, lines}); return ReplyBytes; },
                [this] { return now; })
    {
    }
    Sent take() // in client order: the rounds do not promise one
    {
        std::sort(sent.begin(), sent.end());
        return std::exchange(sent, {});
    }
    void at(qint64 t) { pacer.tick(now = t); }

    qint64 now = 1000;
    Sent sent;
    ReplyPacer pacer;
};

} // namespace

class tst_ReplyPacer : public QObject
{
    Q_OBJECT

private slots:
    void gapHoldsAndMergesRequests();
    void pushesOnlyToJoinedClients();
    void budgetSpacesPushes();
};

void tst_ReplyPacer::gapHoldsAndMergesRequests()
{
    Pacer p;
    p.pacer.request(1, 10, true);
    QCOMPARE(p.take(), (Sent{{1, 10}}));
    p.now += 100;
    p.pacer.request(1, 20, true);
    p.pacer.request(1, 30, true);
    p.at(1000 + Gap - 1);
    QVERIFY(p.take().isEmpty());
    p.at(1000 + Gap);
    QCOMPARE(p.take(), (Sent{{1, 30}})); // one reply, the latest line count
}

void tst_ReplyPacer::pushesOnlyToJoinedClients()
{
    for (const bool live : {true, false}) {
        Pacer p({Gap, ReplyPacer::DefaultPushBytesPerSecond, live});
        p.pacer.request(1, 10, true);
        p.pacer.request(2, 20, true);
        p.pacer.request(3, 30, false);
        p.take();
        p.now += 50;
        p.pacer.roomChanged();
        p.pacer.roomChanged();
        p.at(p.now);
        QVERIFY(p.take().isEmpty()); // within the gap
        p.pacer.request(2, 25, true); // answers the change as well
        p.at(1000 + Gap);
        QCOMPARE(p.take(), live ? (Sent{{1, 10}, {2, 25}}) : (Sent{{2, 25}}));
        p.at(1000 + 5 * Gap);
        QVERIFY(p.take().isEmpty()); // each change shown once
    }
}

void tst_ReplyPacer::budgetSpacesPushes()
{
    constexpr int Clients = 20;
    Pacer p({Gap, 10 * ReplyBytes, true}); // a round of 20 replies takes 2 s
    for (int c = 1; c <= Clients; ++c)
        p.pacer.request(c, 10, true);
    p.take();
    QCOMPARE(p.pacer.pushIntervalMs(), qint64(2000));
    p.pacer.roomChanged();
    p.at(1000 + Gap);
    QCOMPARE(p.take().size(), Clients);
    p.pacer.roomChanged();
    p.at(1000 + Gap + 1999);
    QVERIFY(p.take().isEmpty());
    p.at(1000 + Gap + 2000);
    QCOMPARE(p.take().size(), Clients);
    for (int c = 1; c <= Clients / 2; ++c)
        p.pacer.remove(c);
    QCOMPARE(p.pacer.pushIntervalMs(), qint64(1000)); // a smaller room is pushed to sooner
}

QTEST_GUILESS_MAIN(tst_ReplyPacer)
#include "tst_replypacer.moc"

#include "lanpeer.h"
#include "measures.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int CpuClients = 200;
constexpr int CpuSeconds = 30;
constexpr int PollEveryMs = 11000; // "10秒で更新" sends every 11 s

// Harrox's CPU over CpuSeconds with CpuClients joined and one post a second.
double serverCpu(const QString &lan, const QString &db, bool live, bool polling, const QString &binary)
{
    QStringList more;
    if (!live)
        more << QStringLiteral("--no-live");
    // The conversation is posted in one burst; an older build given with
    // --old has no posting budget to lift.
    if (binary == QStringLiteral(HARROX_PATH))
        more += HarroxProcess::NoPostingBudget;
    LanHarrox harrox(lan, db, more, binary);
    if (!harrox.isUp())
        return -1;
    std::vector<std::unique_ptr<Peer>> peers;
    for (int k = 0; k < CpuClients; ++k)
        peers.push_back(std::make_unique<Peer>(QStringLiteral("q%1").arg(k)));
    waitUntil(
            [&] {
                return std::all_of(peers.begin(), peers.end(),
                                   [](const auto &p) { return p->received > 0; });
            },
            WaitMs);
    serveFor(2000);
    QTimer poll; // each client in turn, so that every one asks every PollEveryMs
    int next = 0;
    poll.setInterval(PollEveryMs / CpuClients);
    QObject::connect(&poll, &QTimer::timeout, [&] { peers[size_t(next++ % CpuClients)]->refresh(); });
    if (polling)
        poll.start();
    const double before = harrox.cpuSeconds();
    const auto [user, system] = harrox.userSystem();
    for (int s = 0; s < CpuSeconds; ++s) {
        peers.front()->post(QStringLiteral("tick %1").arg(s));
        serveFor(1000);
    }
    const auto [userAfter, systemAfter] = harrox.userSystem();
    std::printf("   harrox %s%s: user %.0f ms, system %.0f ms\n", live ? "live" : "--no-live",
                polling ? ", clients polling" : "", (userAfter - user) * 1e3,
                (systemAfter - system) * 1e3);
    return harrox.cpuSeconds() - before;
}

} // namespace

void compareServerCpu(const QString &lan, const QString &dbStem, const QStringList &builds)
{
    for (const QString &binary : builds) {
        const QString db = dbStem + QStringLiteral("-%1-%2.db").arg(builds.indexOf(binary));
        const double live = serverCpu(lan, db.arg(QLatin1Char('b')), true, false, binary);
        const double off = serverCpu(lan, db.arg(QLatin1Char('c')), false, false, binary);
        const double polled = serverCpu(lan, db.arg(QLatin1Char('d')), false, true, binary);
        std::printf("4. %s: harrox CPU over %d s, %d joined clients, one post a second: live %.0f ms; "
                    "--no-live %.0f ms "
                    "(ratio %.2f, goal <= 2: %s); --no-live with every client polling each %d s %.0f "
                    "ms (ratio %.2f)\n",
                    binary == builds.first() ? "this build" : "--old", CpuSeconds, CpuClients,
                    live * 1e3, off * 1e3, live / off, live <= 2 * off ? "met" : "NOT met",
                    PollEveryMs / 1000, polled * 1e3, live / polled);
    }
}

#include "lanpeer.h"
#include "measures.h"
#include "percentile.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int LiveClients = 50;
constexpr int LiveSamples = 15;
constexpr int LivePostEveryMs = 700;

} // namespace

void liveLatency(BenchWindow &window)
{
    window.refresh(ChatProtocol::DefaultLineCount); // pushes carry the latest request's count
    std::vector<std::unique_ptr<Peer>> peers;
    for (int k = 0; k < LiveClients - 1; ++k)
        peers.push_back(std::make_unique<Peer>(QStringLiteral("p%1").arg(k)));
    if (!waitUntil(
                [&] {
                    return std::all_of(peers.begin(), peers.end(),
                                       [](const auto &p) { return p->received > 0; });
                },
                WaitMs)) {
        std::printf("3. live: the clients did not join, skipped\n");
        return;
    }
    serveFor(1000);
    std::vector<double> latency;
    for (int k = 0; k < LiveSamples; ++k) {
        const QString text = QStringLiteral("live %1").arg(k);
        bool shown = false;
        QElapsedTimer t;
        const auto c = QObject::connect(window.text3, &QPlainTextEdit::textChanged, [&] {
            shown = shown || window.text3->toPlainText().endsWith(text);
        });
        t.start();
        peers.front()->post(text);
        if (waitUntil([&] { return shown; }, 5000))
            latency.push_back(double(t.nsecsElapsed()) / 1e6);
        QObject::disconnect(c);
        serveFor(LivePostEveryMs);
    }
    std::printf("3. live delivery, post to another client's screen, %d joined clients: median %.0f ms, "
                "largest %.0f ms of %zu (goal: median < 300 ms: %s)\n",
                LiveClients, median(latency), percentile(latency, 1.0), latency.size(),
                median(latency) < 300 ? "met" : "NOT met");
}

// Lintra and harrox over a shaped LAN (scripts/shaped-lan: two network
// namespaces, veth, MTU 1500, 100 Mbit/s), each figure beside its baseline
// from the same run:
//  1. the gaps between the pieces of a long reply as the client's socket
//     reads them: what the reply's quiet window must bridge (gaps.cpp);
//  2. a refresh of 1,000 lines to both areas replaced, against the bare
//     transfer of the same bytes plus setPlainText alone (refreshtime.cpp);
//  3. a post to another client's screen with 50 joined clients
//     (livelatency.cpp);
//  4. harrox's CPU with live delivery, 200 joined clients and one post a
//     second, against --no-live with the same load (and with polling);
//     with --old PATH, the same for another harrox build in the same run;
//     --cpu: this figure alone (servercpu.cpp).
// Needs root; harrox runs in the server namespace, and this process moves
// into the client namespace before it makes any socket. About three minutes,
// two more with --old. --links: replies over bad links instead (links.cpp).
#include "lanpeer.h"
#include "links.h"
#include "measures.h"
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures appear as they are measured
    QApplication app(argc, argv);
    if (QCoreApplication::arguments().contains(QStringLiteral("--links")))
        return runLinks(QCoreApplication::arguments());
    if (::geteuid() != 0) {
        std::printf("bench_lan needs root for the network namespaces: skipped\n");
        return 0;
    }
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    ShapedLan lan(QStringLiteral("lan%1b").arg(QCoreApplication::applicationPid()));
    if (!lan.isMade()) {
        std::printf("cannot make the shaped LAN (iproute2, veth, tbf): skipped\n");
        return 0;
    }
    if (!lan.enterClient()) {
        std::printf("cannot enter the client namespace: skipped\n");
        return 1;
    }
    // --cpu alone: only the CPU figures, to try a change of the push path quickly.
    if (!QCoreApplication::arguments().contains(QStringLiteral("--cpu"))) {
        LanHarrox harrox(lan.name(), work.filePath(QStringLiteral("a.db")),
                         HarroxProcess::NoPostingBudget);
        if (!harrox.isUp()) {
            std::printf("cannot start harrox: skipped\n");
            return 1;
        }
        {
            Peer fill(QStringLiteral("fill"), 1);
            fill.keep = true;
            fill.waitConnected();
            for (int k = 0; k < Lines; ++k)
                fill.post(Fill + QString::number(k));
            waitUntil([&] { return fill.received > 0; }, WaitMs);
            QByteArray reply;
            const bool filled = waitUntil(
                    [&] {
                        serveFor(ChatProtocol::ReplyGapMs);
                        fill.socket.write(request("/Reflesh/", QString(), Lines));
                        reply = readReply(fill);
                        return ChatProtocol::withoutReplyEnd(reply).endsWith(
                                Cp932::encode(Fill + QString::number(Lines - 1)));
                    },
                    WaitMs);
            if (!filled) {
                std::printf("cannot fill the conversation: skipped\n");
                return 1;
            }
        }
        BenchWindow window;
        if (!window.refresh(Lines)) {
            std::printf("the window did not connect: skipped\n");
            return 1;
        }
        Peer probe(QString(), Lines);
        probe.keep = true;
        probe.waitConnected();
        probe.refresh();
        const qsizetype replyBytes = readReply(probe).size();
        probe.socket.abort();
        segmentGaps(replyBytes);
        refreshRoundTrip(window, replyBytes);
        liveLatency(window);
    }
    const int oldAt = int(QCoreApplication::arguments().indexOf(QStringLiteral("--old")));
    QStringList builds{QStringLiteral(HARROX_PATH)};
    if (oldAt > 0 && oldAt + 1 < QCoreApplication::arguments().size())
        builds << QCoreApplication::arguments().at(oldAt + 1);
    compareServerCpu(lan.name(), work.filePath(QStringLiteral("cpu")), builds);
    return 0;
}

// Harrox against one greedy address, with the posting budgets and the
// bounded reply cache as they come, and with them turned off, in one run:
//
//   flood   8 connections from one address post 65,000-byte lines back to back;
//   greedy  after 1,000 posts of 60,000 bytes, 16 connections from one address
//           ask refreshes of 1000 down to 985 lines and never read (dropped,
//           they connect again);
//   long    after 20 posts of 64 KB, 4 clients join with line count 20, read
//           the reply and join again.
//
// Meanwhile a bystander on another address posts a short line every second
// and a second one waits for it to be pushed. Per case and setting it prints
// the database's growth per hour, harrox's peak RSS, the longest wait of the
// bystander's post for its reply and for its push (a line not seen at all
// counts until the case ends).
//
//   bench_harrox_flood [--seconds N] [--case NAME]   (N per case and setting,
//                                                    default 10; NAME alone)
//
// Goals: growth under a flood bounded by the budget, peak RSS under 300 MB
// in the greedy case, bystanders answered within 1 s.
#include "harroxprocess.h"
#include "postbudget.h"
#include "processstatus.h"
#include "sqliteconversationstore.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int DefaultSeconds = 10;
constexpr int Flooders = 8;
constexpr int FloodLineBytes = 65000;
constexpr int GreedyRows = 1000;
constexpr int GreedyLineBytes = 60000;
constexpr int Greedy = 16;
constexpr int LongRows = 20;
constexpr int LongLineBytes = 64 * 1024 - 200; // a whole request stays within 64 KiB
constexpr int Joiners = 4;
// As often as a member's budget allows for good: past it a line is refused,
// never pushed, and its wait would run to the end of the case.
constexpr int BystanderEveryMs = 60 * 1000 / PostBudget::DefaultPostsPerMinute;
constexpr int BystanderLines = 10; // Lintra's default
constexpr int GreedyEveryMs = 100;
constexpr int ReconnectMs = 100;
constexpr int SeedBatch = 100;
constexpr int MarkerTail = 64;
constexpr double SecondsPerHour = 3600;
constexpr double MiB = 1024 * 1024;
// Off: no budget, a cache as large as the 16 renders it held before, and
// queues as long as clients like.
const QStringList BudgetsOff = HarroxProcess::NoPostingBudget
        + QStringList{QStringLiteral("--host-budget=0"), QStringLiteral("--reply-cache-mib=4096"),
                      QStringLiteral("--queue-mib=1048576")};

QByteArray request(QByteArrayView verb, const QByteArray &payload, int lines)
{
    return verb.toByteArray() + payload + "/*/~127.0.0.1/**/" + QByteArray::number(lines);
}

// A client bound to one loopback address; it (re)joins on every connect.
struct Peer
{
    Peer(const char *from, QByteArray joinRequest, quint16 port)
        : join(std::move(joinRequest)), port(port)
    {
        socket.bind(QHostAddress(QString::fromLatin1(from)), 0);
        QObject::connect(&socket, &QTcpSocket::connected, [this] { socket.write(join); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    void reconnectWhenDropped()
    {
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] {
            QTimer::singleShot(ReconnectMs, &socket,
                               [this] { socket.connectToHost(QHostAddress::LocalHost, port); });
        });
    }
    QByteArray join;
    quint16 port;
    QTcpSocket socket;
};

// Whether a marker arrived, across reads that cut it.
struct MarkerScan
{
    bool seen(const QByteArray &chunk, const QByteArray &marker)
    {
        tail += chunk;
        const bool found = tail.contains(marker);
        tail = tail.right(MarkerTail);
        return found;
    }
    QByteArray tail;
};

struct Figures
{
    double growthMiBPerHour = 0;
    double peakRssMiB = 0;
    qint64 postWaitMs = 0;
    qint64 pushWaitMs = 0;
    QString note;
};

qint64 fileBytes(const QString &db)
{
    return QFileInfo(db).size() + QFileInfo(db + QStringLiteral("-wal")).size();
}

double peakRssMiB(qint64 pid)
{
    const qint64 kib = processStatusKiB(pid, QStringLiteral("VmHWM"));
    return kib < 0 ? -1 : double(kib) / 1024;
}

void seed(const QString &db, int rows, int bytes)
{
    SqliteConversationStore store(db);
    for (int done = 0; done < rows; done += SeedBatch) {
        QList<StoredMessage> batch;
        for (int i = done; i < std::min(rows, done + SeedBatch); ++i)
            batch.append({QDateTime::currentDateTimeUtc(), QStringLiteral("seed"), QString(bytes, u'x'),
                          QStringLiteral("127.0.0.9:9")});
        store.append(batch);
    }
}

Figures runCase(const QString &name, bool budgets, int seconds)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("harrox.db"));
    if (name == QLatin1String("greedy"))
        seed(db, GreedyRows, GreedyLineBytes);
    else if (name == QLatin1String("long"))
        seed(db, LongRows, LongLineBytes);
    HarroxProcess server;
    // Its log would grow with every join and drop; only its end is shown.
    server.process.setStandardErrorFile(dir.filePath(QStringLiteral("harrox.log")));
    Figures figures;
    if (!server.start(QStringList{QStringLiteral("--db"), db}
                      + (budgets ? QStringList() : BudgetsOff))) {
        figures.note = QStringLiteral("harrox did not start");
        return figures;
    }
    QProcess &harrox = server.process;
    const quint16 port = server.port;
    const qint64 startBytes = fileBytes(db);
    QElapsedTimer clock;
    clock.start();

    std::vector<std::unique_ptr<Peer>> load;
    qint64 joinsAnswered = 0, joinsDropped = 0;
    if (name == QLatin1String("flood")) {
        const QByteArray line = request("NormalTel", QByteArray(FloodLineBytes, 'f'), 1);
        for (int i = 0; i < Flooders; ++i) {
            auto peer = std::make_unique<Peer>(
                    "127.0.0.1", request("CanEnter?", "flood" + QByteArray::number(i), 1), port);
            // Back to back: the next line as soon as the last has left.
            const auto more = [p = peer.get(), line] {
                p->socket.readAll();
                if (p->socket.bytesToWrite() < FloodLineBytes)
                    p->socket.write(line);
            };
            QObject::connect(&peer->socket, &QTcpSocket::readyRead, more);
            QObject::connect(&peer->socket, &QTcpSocket::bytesWritten, more);
            load.push_back(std::move(peer));
        }
    } else if (name == QLatin1String("greedy")) {
        for (int i = 0; i < Greedy; ++i) {
            const int lines = GreedyRows - i;
            auto peer = std::make_unique<Peer>(
                    "127.0.0.1", request("CanEnter?", "greedy" + QByteArray::number(i), lines), port);
            peer->socket.setReadBufferSize(1);
            peer->reconnectWhenDropped();
            auto *timer = new QTimer(&peer->socket);
            QObject::connect(timer, &QTimer::timeout, [p = peer.get(), lines] {
                if (p->socket.state() == QAbstractSocket::ConnectedState
                    && p->socket.bytesToWrite() == 0)
                    p->socket.write(request("/Reflesh/", {}, lines));
            });
            timer->start(GreedyEveryMs);
            load.push_back(std::move(peer));
        }
    } else {
        for (int i = 0; i < Joiners; ++i) {
            auto peer = std::make_unique<Peer>(
                    "127.0.0.1", request("CanEnter?", "joiner" + QByteArray::number(i), LongRows),
                    port);
            auto received = std::make_shared<qint64>(0);
            QObject::connect(&peer->socket, &QTcpSocket::readyRead,
                             [p = peer.get(), received, &joinsAnswered] {
                                 *received += p->socket.readAll().size();
                                 if (*received >= qint64(LongRows) * LongLineBytes) {
                                     ++joinsAnswered;
                                     *received = -1; // what still comes is not a drop
                                     p->socket.disconnectFromHost();
                                 }
                             });
            QObject::connect(&peer->socket, &QTcpSocket::disconnected, [received, &joinsDropped] {
                joinsDropped += *received >= 0;
                *received = 0;
            });
            peer->reconnectWhenDropped();
            load.push_back(std::move(peer));
        }
    }

    // The bystanders: a posts, b is told of it by a push.
    Peer a("127.0.0.2", request("CanEnter?", "bystander-a", BystanderLines), port);
    Peer b("127.0.0.3", request("CanEnter?", "bystander-b", BystanderLines), port);
    MarkerScan aScan, bScan;
    QByteArray marker;
    QElapsedTimer sent;
    bool aWaits = false, bWaits = false;
    int posted = 0;
    QObject::connect(&a.socket, &QTcpSocket::readyRead, [&] {
        if (aScan.seen(a.socket.readAll(), marker) && aWaits) {
            aWaits = false;
            figures.postWaitMs = std::max(figures.postWaitMs, sent.elapsed());
        }
    });
    QObject::connect(&b.socket, &QTcpSocket::readyRead, [&] {
        if (bScan.seen(b.socket.readAll(), marker) && bWaits) {
            bWaits = false;
            figures.pushWaitMs = std::max(figures.pushWaitMs, sent.elapsed());
        }
    });
    QTimer bystander;
    QObject::connect(&bystander, &QTimer::timeout, [&] {
        if (aWaits || bWaits || a.socket.state() != QAbstractSocket::ConnectedState)
            return;
        marker = "bystander line " + QByteArray::number(++posted);
        aWaits = bWaits = true;
        sent.start();
        a.socket.write(request("NormalTel", marker, BystanderLines));
    });
    bystander.start(BystanderEveryMs);

    serveFor(seconds * 1000);
    // A line still not seen has waited all this time.
    if (aWaits)
        figures.postWaitMs = std::max(figures.postWaitMs, sent.elapsed());
    if (bWaits)
        figures.pushWaitMs = std::max(figures.pushWaitMs, sent.elapsed());
    figures.peakRssMiB = peakRssMiB(harrox.processId());
    figures.growthMiBPerHour =
            double(fileBytes(db) - startBytes) / MiB * SecondsPerHour * 1000 / double(clock.elapsed());
    if (name == QLatin1String("long"))
        figures.note =
                QStringLiteral("joins answered %1, dropped %2").arg(joinsAnswered).arg(joinsDropped);
    bystander.stop();
    load.clear();
    harrox.terminate();
    if (!harrox.waitForFinished(HarroxProcess::StartMs))
        harrox.kill();
    if (qEnvironmentVariableIsSet("FLOOD_LOG")) {
        QFile file(dir.filePath(QStringLiteral("harrox.log")));
        if (file.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "%s\n", file.readAll().right(3000).constData());
    }
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds per case and setting."),
                                           QStringLiteral("n"), QString::number(DefaultSeconds));
    parser.addOption(secondsOption);
    const QCommandLineOption caseOption(QStringLiteral("case"),
                                        QStringLiteral("Only this case: flood, greedy or long."),
                                        QStringLiteral("name"));
    parser.addOption(caseOption);
    parser.process(app);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    QStringList cases{QStringLiteral("flood"), QStringLiteral("greedy"), QStringLiteral("long")};
    if (parser.isSet(caseOption))
        cases = QStringList{parser.value(caseOption)}.filter(
                QRegularExpression(QStringLiteral("^(flood|greedy|long)$")));

    std::printf("%d s per case; growth of the database file and its WAL; bystanders on their own "
                "addresses\n",
                seconds);
    std::printf("%-7s %-8s %14s %10s %12s %12s  %s\n", "case", "budgets", "growth MiB/h", "peak RSS",
                "post wait", "push wait", "");
    for (const QString &name : std::as_const(cases)) {
        for (const bool budgets : {true, false}) {
            const Figures f = runCase(name, budgets, seconds);
            std::printf("%-7s %-8s %14.0f %7.0f MiB %9lld ms %9lld ms  %s\n", qPrintable(name),
                        budgets ? "on" : "off", f.growthMiBPerHour, f.peakRssMiB,
                        qlonglong(f.postWaitMs), qlonglong(f.pushWaitMs), qPrintable(f.note));
            std::fflush(stdout);
        }
    }
    const double perMinute =
            double(PostBudget::DefaultBytesPerMinute * PostBudget::DefaultHostFactor) / MiB;
    // Within a short run the burst counts for much: the bound for this run.
    const double burst = perMinute / PostBudget::BurstDivisor;
    std::printf("the budget of one address as it comes: %.0f MiB a minute after a burst of %.1f MiB: "
                "%.0f MiB an hour, %.0f MiB/h over %d s\n",
                perMinute, burst, perMinute * 60,
                (burst + perMinute * seconds / 60) * SecondsPerHour / seconds, seconds);
    return 0;
}

// Harrox on PostgreSQL beside Harrox on SQLite, under the same load, and the
// time a post takes from one server's acknowledgement to the screen of a
// client of another server sharing the conversation. Starts its own
// PostgreSQL cluster (fsync on, like SQLite's synchronous=FULL).
//
//   bench_harrox_pg [--seconds N] [--clients N]
//
// Each client joins, then every 100 ms sends a refresh (a message every 5 s
// instead) once its previous reply has come, and times the reply. Then 200
// clients of a second server time each post through the first, one a second.
#include "harroxprocess.h"
#include "percentile.h"
#include "pgcluster.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int TickMs = 100;
constexpr int MessageEveryTicks = 50;
constexpr int WaitMs = 20000;
constexpr int CrossPosts = 60;
// A push to each of 200 clients is held back to keep within --push-rate
// (about 450 ms apart at the default); a post a second is an office's busy hour.
constexpr int CrossGapMs = 1000;
const QByteArray Address = "/*/~127.0.0.1/**/";

// A Lintra-like client: one data event is one reply.
class Client : public QObject
{
public:
    Client(int index, quint16 port) : m_index(index)
    {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { onReply(m_socket.readAll()); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_socket.waitForConnected(WaitMs);
        send("CanEnter?user" + QByteArray::number(index) + Address + "10");
        connect(&m_timer, &QTimer::timeout, this, &Client::tick);
    }
    void send(const QByteArray &request)
    {
        m_waiting = true;
        m_sent.start();
        m_socket.write(request);
    }
    void startLoad(int offsetMs)
    {
        QTimer::singleShot(offsetMs, this, [this] { m_timer.start(TickMs); });
    }
    void stop() { m_timer.stop(), m_measuring = false; }

    bool joined = false;
    std::vector<double> posts, refreshes; // ms
    std::function<void(const QByteArray &)> seen;

private:
    void tick()
    {
        if (m_waiting)
            return;
        m_measuring = true;
        m_posting = ++m_ticks % MessageEveryTicks == m_index % MessageEveryTicks;
        send(m_posting ? "NormalTelmessage " + QByteArray::number(m_ticks) + " from "
                             + QByteArray::number(m_index) + Address + "10"
                       : "/Reflesh/" + Address + "10");
    }
    void onReply(const QByteArray &data)
    {
        if (seen)
            seen(data);
        if (!m_waiting || !data.contains("/*/"))
            return;
        m_waiting = false;
        joined = true;
        if (m_measuring)
            (m_posting ? posts : refreshes).push_back(double(m_sent.nsecsElapsed()) / 1e6);
    }

    int m_index;
    QTcpSocket m_socket;
    QTimer m_timer;
    QElapsedTimer m_sent;
    qint64 m_ticks = 0;
    bool m_waiting = false, m_posting = false, m_measuring = false;
};

struct Harrox : HarroxProcess
{
    explicit Harrox(const QStringList &arguments)
    {
        if (!start(QStringList{QStringLiteral("--max-clients=1000")} + arguments + NoPostingBudget))
            std::fprintf(stderr, "harrox did not start:\n%s\n", qPrintable(log));
    }
    ~Harrox() { process.terminate(), process.waitForFinished(WaitMs); }
};

std::vector<std::unique_ptr<Client>> joinAll(int count, quint16 port)
{
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i)
        clients.push_back(std::make_unique<Client>(i, port));
    waitUntil(
            [&] {
                return std::all_of(clients.begin(), clients.end(),
                                   [](const auto &c) { return c->joined; });
            },
            WaitMs);
    return clients;
}

// p99 of post and refresh round trips under the load: what the server and
// its store take, so neither the reply gap nor pushes are in the way.
void load(const char *name, const QStringList &arguments, int clients, int seconds)
{
    Harrox harrox(arguments
                  + QStringList{QStringLiteral("--no-live"), QStringLiteral("--reply-gap=0")});
    auto all = joinAll(clients, harrox.port);
    std::mt19937 random(1);
    for (auto &c : all)
        c->startLoad(std::uniform_int_distribution<int>(0, TickMs - 1)(random));
    serveFor(seconds * 1000);
    std::vector<double> posts, refreshes;
    for (auto &c : all) {
        c->stop();
        posts.insert(posts.end(), c->posts.begin(), c->posts.end());
        refreshes.insert(refreshes.end(), c->refreshes.begin(), c->refreshes.end());
    }
    std::printf(
            "%-10s post p50 %7.3f ms  p99 %7.3f ms (%zu)   refresh p50 %7.3f ms  p99 %7.3f ms (%zu)\n",
            name, percentile(posts, 0.5), percentile(posts, 0.99), posts.size(),
            percentile(refreshes, 0.5), percentile(refreshes, 0.99), refreshes.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds per run."), QStringLiteral("n"),
                                           QStringLiteral("20"));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("Concurrent clients."), QStringLiteral("n"),
                                           QStringLiteral("200"));
    parser.addOptions({secondsOption, clientsOption});
    parser.process(app);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    const int clients = std::max(1, parser.value(clientsOption).toInt());

    PgCluster cluster;
    cluster.durable = true;
    if (!PgCluster::installed() || !cluster.init()) {
        std::fprintf(stderr, "no PostgreSQL 15 cluster could be started\n");
        return 1;
    }
    QTemporaryDir dir;
    std::printf("%d clients, one request each per %d ms, %d s per run; SQLite WAL synchronous=FULL, "
                "PostgreSQL fsync=on synchronous_commit=on\n",
                clients, TickMs, seconds);
    load("sqlite", {QStringLiteral("--db"), dir.filePath(QStringLiteral("bench.db"))}, clients,
         seconds);
    load("postgres", {QStringLiteral("--postgres"), cluster.conninfo()}, clients, seconds);

    // Cross-server: posts through a, every client of b times the push that shows them.
    Harrox a({QStringLiteral("--postgres"), cluster.conninfo(), QStringLiteral("--no-live")});
    Harrox b({QStringLiteral("--postgres"), cluster.conninfo()});
    auto watchers = joinAll(clients, b.port);
    auto poster = joinAll(1, a.port);
    // A push may reach b's client before a's reply reaches its sender: a
    // delay below zero.
    std::vector<double> delays;
    QElapsedTimer clock;
    clock.start();
    QByteArray marker;
    std::vector<qint64> seenAt(watchers.size());
    for (size_t k = 0; k < watchers.size(); ++k) {
        watchers[k]->seen = [&, k](const QByteArray &data) {
            if (seenAt[k] == 0 && !marker.isEmpty() && data.contains(marker))
                seenAt[k] = clock.nsecsElapsed();
        };
    }
    const auto allSeen = [&] { return std::count(seenAt.begin(), seenAt.end(), 0) == 0; };
    for (int i = 0; i < CrossPosts; ++i) {
        serveFor(CrossGapMs);
        marker = "cross-" + QByteArray::number(i) + '.';
        std::fill(seenAt.begin(), seenAt.end(), 0);
        qint64 ackedAt = 0;
        poster[0]->seen = [&](const QByteArray &data) {
            if (data.contains(marker))
                ackedAt = clock.nsecsElapsed();
        };
        poster[0]->send("NormalTel" + marker + Address + "1");
        waitUntil([&] { return ackedAt > 0 && allSeen(); }, WaitMs);
        for (qint64 at : seenAt) {
            if (at > 0)
                delays.push_back(double(at - ackedAt) / 1e6);
        }
    }
    std::printf("cross-server post to screen (a's ack to b's clients, live): p50 %7.3f ms  p99 %7.3f "
                "ms  max %7.3f ms (%zu of %d)\n",
                percentile(delays, 0.5), percentile(delays, 0.99), percentile(delays, 1.0),
                delays.size(), CrossPosts * clients);
    return 0;
}

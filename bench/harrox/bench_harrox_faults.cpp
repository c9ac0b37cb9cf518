// Two Harrox servers on one private PostgreSQL cluster, each fault in turn
// for a fixed time under a few writers on each server: server a killed
// (SIGKILL) and started again, the database restarted at once (immediate),
// the database stopped (SIGSTOP), and a's path to it frozen right after a
// took the lock of a post (a relay that stops forwarding but keeps its
// sockets). a always reaches the database through the relay, b directly;
// each database commits asynchronously unless told otherwise, as an
// administrator may set for speed. Per case it prints the posts
// acknowledged, refused, unanswered (the server was killed, or 15 s
// passed), lost (acknowledged but not in the database), duplicated, the
// longest a post waited for its answer, and whether b kept acknowledging,
// never 2 s without, while a was down or frozen.
//
//   bench_harrox_faults [--fault-seconds N]     (BENCH_LOGS=DIR keeps the logs)
//
// Goals: lost 0 in every case, no post waits 10 s without an answer.
#include "chatroom.h"
#include "harroxprocess.h"
#include "pgcluster.h"
#include "pgconnection.h"
#include "pgrelay.h"
#include "waituntil.h"
#include "wire/cp932.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int WritersPerServer = 2;
constexpr int WarmUpMs = 3000;
constexpr int RecoverMs = 6000;
// A post unanswered this long is given up: the goal is 10 s.
constexpr int GiveUpMs = 15000;
constexpr int PostGapMs = 50;
constexpr int HealthyGapMs = 2000;
const QByteArray Address = "/*/~127.0.0.1/**/";

struct Server : HarroxProcess
{
    ~Server() { stop(SIGKILL); }
    bool start(const QString &conninfo)
    {
        return HarroxProcess::start(QStringList{QStringLiteral("--postgres"), conninfo,
                                                QStringLiteral("--no-live"),
                                                QStringLiteral("--reply-gap=0")}
                                    + NoPostingBudget);
    }
    void stop(int signalNumber)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process.processId()), signalNumber);
        waitUntil([&] { return process.state() == QProcess::NotRunning; }, 20000);
        if (process.state() != QProcess::NotRunning)
            process.kill(), process.waitForFinished();
    }
};

// Posts one line after another, each once its answer came, and keeps what
// happened to each.
class Writer : public QObject
{
public:
    Writer(QString name, const quint16 &port, QElapsedTimer &clock)
        : m_name(std::move(name)), m_port(port), m_clock(clock)
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this] {
            m_joining = true;
            m_socket.write("CanEnter?" + m_name.toUtf8() + Address + "10");
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &Writer::read);
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { answered(false); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] {
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                QTimer::singleShot(200, this, &Writer::connectAgain);
        });
        m_giveUp.setSingleShot(true);
        connect(&m_giveUp, &QTimer::timeout, this,
                [this] { answered(false), m_socket.abort(), connectAgain(); });
    }
    void begin() { m_running = true, connectAgain(); }
    void end() { m_running = false; }
    bool idle() const { return m_text.isEmpty(); }

    QStringList acknowledged;
    QList<qint64> ackTimes;
    qint64 longestWaitMs = 0;
    int refused = 0;
    int unanswered = 0;

private:
    void connectAgain()
    {
        if (!m_running || m_socket.state() != QAbstractSocket::UnconnectedState)
            return;
        m_socket.connectToHost(QHostAddress::LocalHost, m_port);
    }
    void postNext()
    {
        if (!m_running || m_socket.state() != QAbstractSocket::ConnectedState)
            return;
        m_text = QStringLiteral("%1-%2").arg(m_name).arg(m_next++);
        m_received.clear();
        m_sentAt = m_clock.elapsed();
        m_giveUp.start(GiveUpMs);
        m_socket.write("NormalTel" + m_text.toUtf8() + Address + "50");
    }
    void read()
    {
        m_received += m_socket.readAll();
        if (m_joining) {
            if (m_received.contains("/*/"))
                m_joining = false, m_received.clear(), postNext();
            return;
        }
        if (m_text.isEmpty())
            return;
        if (m_received.endsWith(Cp932::encode(ChatRoom::NotStoredNotice.toString() + m_text))) {
            ++refused;
            answered(true);
        } else if (m_received.contains("/*/")
                   && (m_received.endsWith("> " + m_text.toUtf8())
                       || m_received.contains("> " + m_text.toUtf8() + "\r\n"))) {
            // Lines of others committed since may follow it.
            acknowledged.append(m_text);
            ackTimes.append(m_clock.elapsed());
            answered(true);
        }
    }
    // The connection closed or was given up: unknown, and counted as such.
    void answered(bool answer)
    {
        if (m_text.isEmpty()) {
            if (!answer)
                QTimer::singleShot(200, this, &Writer::connectAgain);
            return;
        }
        m_giveUp.stop();
        longestWaitMs = std::max(longestWaitMs, m_clock.elapsed() - m_sentAt);
        unanswered += !answer;
        m_text.clear();
        if (answer)
            QTimer::singleShot(PostGapMs, this, &Writer::postNext);
        else
            QTimer::singleShot(200, this, &Writer::connectAgain);
    }

    QString m_name;
    const quint16 &m_port;
    QElapsedTimer &m_clock;
    QTcpSocket m_socket;
    QTimer m_giveUp;
    QByteArray m_received;
    QString m_text;
    qint64 m_sentAt = 0;
    int m_next = 0;
    bool m_joining = false;
    bool m_running = false;
};

// Every process of the cluster: the postmaster of postmaster.pid and its children.
QList<pid_t> clusterProcesses(const QString &conninfo)
{
    const QString folder =
            QRegularExpression(QStringLiteral("host=(\\S+)")).match(conninfo).captured(1);
    QFile pidFile(folder + QStringLiteral("/data/postmaster.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return {};
    const pid_t postmaster = pid_t(pidFile.readLine().trimmed().toInt());
    QList<pid_t> pids{postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (entry.toInt() > 0 && stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            if (line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toInt() == postmaster)
                pids.append(pid_t(entry.toInt()));
        }
    }
    return pids;
}

// Runs work off the event loop's thread, so that the relay and the writers
// go on meanwhile.
void offLoop(const std::function<void()> &work)
{
    std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    waitUntil([&] { return thread->isFinished(); }, 120000);
    thread->wait();
}

struct Outcome
{
    int acknowledged = 0, refused = 0, unanswered = 0, lost = 0, duplicated = 0;
    qint64 longestWaitMs = 0;
    QString healthy = QStringLiteral("-");
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption faultSeconds(QStringLiteral("fault-seconds"),
                                          QStringLiteral("How long each fault lasts (default 8)."),
                                          QStringLiteral("n"), QStringLiteral("8"));
    parser.addOption(faultSeconds);
    parser.addHelpOption();
    parser.process(app);
    const int faultMs = std::clamp(parser.value(faultSeconds).toInt(), 1, 60) * 1000;

    PgCluster cluster;
    if (!PgCluster::installed() || !cluster.init()) {
        std::fprintf(stderr, "no PostgreSQL 15 cluster could be started\n");
        return 1;
    }
    const QStringList cases{
            QStringLiteral("SIGKILL of server a"), QStringLiteral("database restarted (immediate)"),
            QStringLiteral("database stopped (SIGSTOP)"), QStringLiteral("a's path frozen (relay)")};
    std::printf("%d writers on each of two servers; each fault lasts %d s, then %d s to recover\n\n",
                WritersPerServer, faultMs / 1000, RecoverMs / 1000);
    std::printf("%-32s %6s %7s %10s %5s %10s %12s %14s\n", "case", "acked", "refused", "unanswered",
                "lost", "duplicated", "longest wait", "b kept acking");
    bool goals = true;
    for (int c = 0; c < cases.size(); ++c) {
        const QString name = QStringLiteral("f%1").arg(c);
        PgConnection admin(cluster.conninfo());
        // Asynchronous commit, as an administrator may set for speed: what
        // harrox acknowledges must not depend on it.
        if (!admin.open()
            || !admin.exec(qPrintable(QStringLiteral("CREATE DATABASE %1").arg(name))).ok()
            || !admin.exec(qPrintable(QStringLiteral("ALTER DATABASE %1 SET synchronous_commit = off")
                                              .arg(name)))
                        .ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(admin.errorString()));
            return 1;
        }
        admin.close();
        const QString db = cluster.conninfo(name);
        PgRelay relay;
        Server a, b;
        const QString frozenPath = relay.start(db);
        if (frozenPath.isEmpty() || !a.start(frozenPath) || !b.start(db)) {
            std::fprintf(stderr, "servers did not start: %s%s\n", qPrintable(a.log), qPrintable(b.log));
            return 1;
        }
        QElapsedTimer clock;
        clock.start();
        std::vector<std::unique_ptr<Writer>> writers;
        for (int w = 0; w < 2 * WritersPerServer; ++w) {
            const bool onA = w < WritersPerServer;
            writers.push_back(std::make_unique<Writer>(
                    QStringLiteral("%1w%2").arg(QLatin1Char(onA ? 'a' : 'b')).arg(w),
                    onA ? a.port : b.port, clock));
            writers.back()->begin();
        }
        serveFor(WarmUpMs);
        // The worst moment: a holds the lock of the posts' order.
        if (c == 3)
            relay.freezeAfter(QByteArrayLiteral("\0post_lock\0")),
                    waitUntil([&] { return relay.frozen(); }, GiveUpMs);
        const qint64 faultStart = clock.elapsed();
        QList<pid_t> stopped;
        switch (c) {
        case 0:
            a.stop(SIGKILL);
            serveFor(faultMs);
            a.start(frozenPath);
            break;
        case 1:
            offLoop([&] { cluster.stop("immediate"), cluster.start(); });
            serveFor(std::max<qint64>(0, faultMs - (clock.elapsed() - faultStart)));
            break;
        case 2:
            stopped = clusterProcesses(cluster.conninfo());
            for (pid_t pid : stopped)
                ::kill(pid, SIGSTOP);
            serveFor(faultMs);
            for (pid_t pid : stopped)
                ::kill(pid, SIGCONT);
            break;
        case 3:
            serveFor(faultMs);
            relay.thaw();
            break;
        }
        const qint64 faultEnd = clock.elapsed();
        serveFor(RecoverMs);
        for (auto &writer : writers)
            writer->end();
        waitUntil(
                [&] {
                    return std::all_of(writers.begin(), writers.end(),
                                       [](const auto &w) { return w->idle(); });
                },
                GiveUpMs + 1000);

        Outcome outcome;
        QList<qint64> bAcks;
        QStringList acked;
        for (int w = 0; w < int(writers.size()); ++w) {
            const Writer &writer = *writers[size_t(w)];
            acked += writer.acknowledged;
            outcome.refused += writer.refused;
            outcome.unanswered += writer.unanswered;
            outcome.longestWaitMs = std::max(outcome.longestWaitMs, writer.longestWaitMs);
            if (w >= WritersPerServer)
                bAcks += writer.ackTimes;
        }
        outcome.acknowledged = int(acked.size());
        PgConnection reader(db);
        const PgResult rows = reader.open()
                ? reader.exec("SELECT body, count(*) FROM messages GROUP BY body")
                : PgResult();
        QHash<QString, qint64> stored;
        for (int row = 0; row < rows.rows(); ++row)
            stored.insert(rows.text(row, 0), rows.int64(row, 1));
        for (const QString &text : std::as_const(acked))
            outcome.lost += !stored.contains(text);
        for (qint64 count : std::as_const(stored))
            outcome.duplicated += count > 1;
        if (c == 0 || c == 3) {
            std::sort(bAcks.begin(), bAcks.end());
            qint64 last = faultStart, gap = 0;
            for (qint64 at : std::as_const(bAcks)) {
                if (at > faultStart && at <= faultEnd)
                    gap = std::max(gap, at - last), last = at;
            }
            gap = std::max(gap, faultEnd - last);
            outcome.healthy = gap <= HealthyGapMs ? QStringLiteral("yes (%1 ms)").arg(gap)
                                                  : QStringLiteral("NO (%1 ms)").arg(gap);
            goals = goals && gap <= HealthyGapMs;
        }
        if (!rows.ok())
            std::fprintf(stderr, "the database could not be read: %s\n",
                         qPrintable(reader.errorString()));
        goals = goals && rows.ok() && outcome.lost == 0 && outcome.longestWaitMs <= 10000;
        std::printf("%-32s %6d %7d %10d %5d %10d %9lld ms %14s\n", qPrintable(cases[c]),
                    outcome.acknowledged, outcome.refused, outcome.unanswered, outcome.lost,
                    outcome.duplicated, qlonglong(outcome.longestWaitMs), qPrintable(outcome.healthy));
        std::fflush(stdout);
        writers.clear();
        a.stop(SIGTERM);
        b.stop(SIGTERM);
        if (!qEnvironmentVariableIsEmpty("BENCH_LOGS")) {
            QFile la(qEnvironmentVariable("BENCH_LOGS") + QStringLiteral("/%1-a.log").arg(c)),
                    lb(qEnvironmentVariable("BENCH_LOGS") + QStringLiteral("/%1-b.log").arg(c));
            if (la.open(QIODevice::WriteOnly) && lb.open(QIODevice::WriteOnly))
                la.write(a.log.toUtf8()), lb.write(b.log.toUtf8());
        }
    }
    std::printf("\ngoals (lost 0, every answer within 10 s, b acknowledging every 2 s): %s\n",
                goals ? "met" : "NOT met");
    return goals ? 0 : 1;
}

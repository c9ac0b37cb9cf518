// Loads a real harrox with many clients over loopback, then the same clients
// against a bare echo server in this process, and prints both side by side.
//
//   bench_harrox [--seconds N] [--clients N] [--harrox PATH]
//
// Each client joins, then sends a refresh every 100 ms (a message now and
// then instead) whenever its previous reply has arrived, and times the reply.
#include "harroxprocess.h"
#include "processstatus.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int DefaultSeconds = 20;
constexpr int DefaultClients = 200;
constexpr int TickMs = 100;
constexpr int MessageEveryTicks = 50; // about one message per client per 5 s
constexpr int WaitMs = 10000;
constexpr int NanosPerMicro = 1000;
constexpr double Percent50 = 0.50;
constexpr double Percent99 = 0.99;

const QByteArray Address = "/*/~127.0.0.1/**/";

struct Figures
{
    double requestsPerSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    qint64 replies = 0;
    qint64 replyBytes = 0;
    double messageP99Ms = 0; // replies to messages wait for the disk
    qint64 messages = 0;
};

class LoadClient : public QObject
{
public:
    explicit LoadClient(int index, std::vector<qint64> &latencies,
                        std::vector<qint64> &messageLatencies, QObject *parent = nullptr)
        : QObject(parent), m_index(index), m_latencies(latencies), m_messageLatencies(messageLatencies)
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(&m_socket, &QTcpSocket::readyRead, this, &LoadClient::onReadyRead);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(TickMs);
        connect(&m_timer, &QTimer::timeout, this, &LoadClient::tick);
    }

    void connectTo(quint16 port) { m_socket.connectToHost(QHostAddress::LocalHost, port); }
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool joined() const { return m_joined; }
    void join()
    {
        m_waiting = true;
        m_sent.start();
        m_socket.write("CanEnter?user" + QByteArray::number(m_index) + Address + "10");
    }
    void startLoad(int offsetMs)
    {
        m_measuring = true;
        QTimer::singleShot(offsetMs, this, [this] { m_timer.start(); });
    }
    void stopLoad()
    {
        m_measuring = false;
        m_timer.stop();
    }
    qint64 replyBytes() const { return m_replyBytes; }

private:
    void tick()
    {
        if (m_waiting)
            return; // the previous reply is late: do not pile up
        ++m_ticks;
        m_waiting = true;
        m_sent.start();
        m_posting = m_ticks % MessageEveryTicks == m_index % MessageEveryTicks;
        if (m_posting)
            m_socket.write("NormalTelmessage " + QByteArray::number(m_ticks) + " from user"
                           + QByteArray::number(m_index) + Address + "10");
        else
            m_socket.write("/Reflesh/" + Address + "10");
    }
    void onReadyRead()
    {
        // Like the client: one data event is one reply.
        const QByteArray data = m_socket.readAll();
        if (!m_waiting || !data.contains("/*/"))
            return;
        m_waiting = false;
        if (!m_joined) {
            m_joined = true;
            return;
        }
        if (m_measuring) {
            m_latencies.push_back(m_sent.nsecsElapsed());
            if (m_posting)
                m_messageLatencies.push_back(m_sent.nsecsElapsed());
            m_replyBytes += data.size();
        }
    }

    int m_index;
    std::vector<qint64> &m_latencies;
    std::vector<qint64> &m_messageLatencies;
    QTcpSocket m_socket;
    QTimer m_timer;
    QElapsedTimer m_sent;
    qint64 m_ticks = 0;
    qint64 m_replyBytes = 0;
    bool m_waiting = false;
    bool m_posting = false;
    bool m_joined = false;
    bool m_measuring = false;
};

// Answers every request with a fixed reply of about harrox's size.
class EchoThread : public QThread
{
public:
    explicit EchoThread(qsizetype replySize, QObject *parent = nullptr)
        : QThread(parent), m_reply(std::max<qsizetype>(replySize - 3, 0), 'x')
    {
        m_reply.prepend("/*/");
    }
    quint16 port() const { return m_port.load(); }

protected:
    void run() override
    {
        QTcpServer server;
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray data = socket->readAll();
                    for (qsizetype n = data.count(QByteArrayView("/**/")); n > 0; --n)
                        socket->write(m_reply);
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
        m_port.store(server.serverPort());
        exec();
    }

private:
    QByteArray m_reply;
    std::atomic<quint16> m_port{0};
};

qint64 residentKiB(qint64 pid)
{
    return processStatusKiB(pid, QStringLiteral("VmRSS"));
}

struct Load
{
    std::vector<qint64> latencies;
    std::vector<qint64> messageLatencies;
    std::vector<std::unique_ptr<LoadClient>> clients;
};

bool connectAll(Load &load, int count, quint16 port)
{
    for (int i = 0; i < count; ++i) {
        load.clients.push_back(std::make_unique<LoadClient>(i, load.latencies, load.messageLatencies));
        load.clients.back()->connectTo(port);
    }
    if (!waitUntil(
                [&] {
                    return std::all_of(load.clients.begin(), load.clients.end(),
                                       [](const auto &c) { return c->isConnected(); });
                },
                WaitMs))
        return false;
    for (auto &client : load.clients)
        client->join();
    return waitUntil(
            [&] {
                return std::all_of(load.clients.begin(), load.clients.end(),
                                   [](const auto &c) { return c->joined(); });
            },
            WaitMs);
}

Figures run(Load &load, int seconds)
{
    std::mt19937 random(1);
    std::uniform_int_distribution<int> offset(0, TickMs - 1);
    for (auto &client : load.clients)
        client->startLoad(offset(random));
    QElapsedTimer elapsed;
    elapsed.start();
    serveFor(seconds * 1000);
    for (auto &client : load.clients)
        client->stopLoad();
    const double secs = double(elapsed.nsecsElapsed()) / 1e9;

    const auto percentile = [](std::vector<qint64> values, double q) {
        if (values.empty())
            return 0.0;
        std::sort(values.begin(), values.end());
        return double(values[size_t(q * double(values.size() - 1))]) / NanosPerMicro / 1000;
    };
    Figures figures;
    figures.replies = qint64(load.latencies.size());
    figures.requestsPerSecond = double(figures.replies) / secs;
    figures.p50Ms = percentile(load.latencies, Percent50);
    figures.p99Ms = percentile(load.latencies, Percent99);
    figures.messages = qint64(load.messageLatencies.size());
    figures.messageP99Ms = percentile(load.messageLatencies, Percent99);
    for (const auto &client : load.clients)
        figures.replyBytes += client->replyBytes();
    return figures;
}

void print(const char *name, const Figures &f)
{
    std::printf("%-7s %9.1f req/s  p50 %7.3f ms  p99 %7.3f ms  (%lld replies, %.0f bytes avg; "
                "%lld to messages, p99 %.3f ms)\n",
                name, f.requestsPerSecond, f.p50Ms, f.p99Ms, qlonglong(f.replies),
                f.replies ? double(f.replyBytes) / double(f.replies) : 0.0, qlonglong(f.messages),
                f.messageP99Ms);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Seconds per run."), QStringLiteral("n"),
                                           QString::number(DefaultSeconds));
    const QCommandLineOption clientsOption(QStringLiteral("clients"),
                                           QStringLiteral("Concurrent clients."), QStringLiteral("n"),
                                           QString::number(DefaultClients));
    const QCommandLineOption harroxOption(QStringLiteral("harrox"),
                                          QStringLiteral("The server binary."), QStringLiteral("path"),
                                          QStringLiteral(HARROX_PATH));
    parser.addOptions({secondsOption, clientsOption, harroxOption});
    parser.process(app);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());
    const int clients = std::max(1, parser.value(clientsOption).toInt());

    QTemporaryDir dir;
    HarroxProcess harrox;
    harrox.program = parser.value(harroxOption);
    if (!harrox.start(QStringList{QStringLiteral("--db"), dir.filePath(QStringLiteral("bench.db")),
                                  QStringLiteral("--max-clients"), QString::number(clients + 10),
                                  // The request path, as the echo server has it: no gap between
                                  // replies to one client (which would pace a request every
                                  // 100 ms to one reply every 300), no pushes.
                                  QStringLiteral("--reply-gap=0"), QStringLiteral("--no-live")}
                      + HarroxProcess::NoPostingBudget)) {
        std::fprintf(stderr, "harrox did not start:\n%s\n", qPrintable(harrox.log));
        return 1;
    }
    const quint16 port = harrox.port;
    serveFor(200); // let it settle before measuring memory
    const qint64 rssBefore = residentKiB(harrox.process.processId());

    std::printf("%d clients, one request each per %d ms, %d s per run, database on disk "
                "(WAL, synchronous=FULL)\n",
                clients, TickMs, seconds);
    Load harroxLoad;
    if (!connectAll(harroxLoad, clients, port)) {
        std::fprintf(stderr, "clients did not all join harrox\n");
        return 1;
    }
    const qint64 rssAfter = residentKiB(harrox.process.processId());
    const Figures server = run(harroxLoad, seconds);
    const qint64 rssLoaded = residentKiB(harrox.process.processId());
    harroxLoad.clients.clear();
    harrox.process.terminate();
    harrox.process.waitForFinished(WaitMs);

    const qsizetype replySize = server.replies ? qsizetype(server.replyBytes / server.replies) : 64;
    EchoThread echo(replySize);
    echo.start();
    waitUntil([&] { return echo.port() != 0; }, WaitMs);
    Load echoLoad;
    if (!connectAll(echoLoad, clients, echo.port())) {
        std::fprintf(stderr, "clients did not all reach the echo server\n");
        return 1;
    }
    const Figures bare = run(echoLoad, seconds);
    echoLoad.clients.clear();
    echo.quit();
    echo.wait();

    print("harrox", server);
    print("echo", bare);
    std::printf("harrox/echo request rate: %.2f\n",
                bare.requestsPerSecond > 0 ? server.requestsPerSecond / bare.requestsPerSecond : 0.0);
    std::printf("harrox resident memory: %lld KiB idle, %lld KiB with %d clients joined "
                "(%.1f KiB per client), %lld KiB after the run\n",
                qlonglong(rssBefore), qlonglong(rssAfter), clients,
                double(rssAfter - rssBefore) / clients, qlonglong(rssLoaded));
    return 0;
}

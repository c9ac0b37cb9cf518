// Lintra and harrox over a shaped LAN (scripts/shaped-lan: two network
// namespaces, veth, MTU 1500, 100 Mbit/s), each figure beside its baseline
// from the same run:
//  1. the gaps between the pieces of a long reply as the client's socket
//     reads them: what the reply's quiet window must bridge;
//  2. a refresh of 1,000 lines to both areas replaced, against the bare
//     transfer of the same bytes plus setPlainText alone;
//  3. a post to another client's screen with 50 joined clients;
//  4. harrox's CPU with live delivery, 200 joined clients and one post a
//     second, against --no-live with the same load (and with polling);
//     with --old PATH, the same for another harrox build in the same run;
//     --cpu: this figure alone.
// Needs root; harrox runs in the server namespace, and this process moves
// into the client namespace before it makes any socket. About three minutes,
// two more with --old. --links: replies over bad links instead (links.cpp).
#include "links.h"

#include "harroxprocess.h"
#include "lanwindow.h"
#include "percentile.h"
#include "waituntil.h"
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

const QString ServerAddress = QStringLiteral("127.77.0.2");
constexpr int WaitMs = 60000;
constexpr int Lines = 1000;
constexpr int RefreshRounds = 15;
constexpr int GapTransfers = 5;
constexpr int LiveClients = 50;
constexpr int LiveSamples = 15;
constexpr int LivePostEveryMs = 700;
constexpr int CpuClients = 200;
constexpr int CpuSeconds = 30;
constexpr int PollEveryMs = 11000; // "10秒で更新" sends every 11 s
const QString Fill =
        QStringLiteral("本日の会議は15時から会議室Ａで行います。資料は各自ご持参ください。");

void serveFor(int ms)
{
    waitUntil([] { return false; }, ms);
}

bool shapedLan(const QString &action, const QString &name = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(SHAPED_LAN), {action, name});
    return p.waitForFinished() && p.exitCode() == 0;
}

// The shaped LAN for the run; removed again however the run ends normally.
struct Lan
{
    explicit Lan(const QString &n) : name(n)
    {
        shapedLan(QStringLiteral("sweep"));
        made = shapedLan(QStringLiteral("up"), name);
    }
    ~Lan()
    {
        if (made)
            shapedLan(QStringLiteral("down"), name);
    }
    QString name;
    bool made = false;
};

class Harrox
{
public:
    Harrox(const QString &lan, const QString &db, bool live,
           const QString &binary = QStringLiteral(HARROX_PATH))
    {
        m_harrox.program = binary;
        QStringList args{QStringLiteral("--listen"), ServerAddress,
                         QStringLiteral("--port"),   QString::number(ChatProtocol::Port),
                         QStringLiteral("--allow"),  QStringLiteral("127.77.0.0/30"),
                         QStringLiteral("--db"),     db};
        if (!live)
            args << QStringLiteral("--no-live");
        // The conversation is posted in one burst; an older build given with
        // --old has no posting budget to lift.
        if (binary == QStringLiteral(HARROX_PATH))
            args += HarroxProcess::NoPostingBudget;
        // ip execs harrox: the pid is harrox's.
        m_up = m_harrox.start(args, HarroxProcess::StartMs,
                              {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                               lan + QStringLiteral("-s")});
    }
    ~Harrox()
    {
        m_harrox.process.terminate();
        m_harrox.process.waitForFinished();
    }
    bool isUp() const { return m_up; }
    // CPU seconds of all its threads so far.
    double cpuSeconds() const
    {
        double sum = 0;
        const QString tasks = QStringLiteral("/proc/%1/task").arg(m_harrox.process.processId());
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile f(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
            if (f.open(QIODevice::ReadOnly))
                sum += f.readAll().split(' ').value(0).toDouble() / 1e9;
        }
        return sum;
    }
    // User and system CPU seconds so far, in clock ticks' resolution.
    std::pair<double, double> userSystem() const
    {
        QFile f(QStringLiteral("/proc/%1/stat").arg(m_harrox.process.processId()));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = f.readAll().split(')').last().trimmed().split(' ');
        const double tick = double(::sysconf(_SC_CLK_TCK));
        return {fields.value(11).toDouble() / tick, fields.value(12).toDouble() / tick};
    }

private:
    HarroxProcess m_harrox;
    bool m_up = false;
};

QByteArray request(const char *verb, const QString &payload, int lines)
{
    return Cp932::encode(QLatin1String(verb) + payload
                         + QStringLiteral("/*/~127.77.0.1/**/%1").arg(lines));
}

// A raw client: joins (unless nameless), reads whatever comes and counts
// the replies' bytes. One that has not joined gets no pushes.
class Peer : public QObject
{
public:
    explicit Peer(const QString &name, int lines = ChatProtocol::DefaultLineCount)
        : m_name(name), m_lines(lines)
    {
        connect(&socket, &QTcpSocket::connected, this, [this] {
            if (!m_name.isEmpty())
                socket.write(request("CanEnter?", m_name, m_lines));
        });
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray more = socket.readAll();
            received += more.size();
            if (keep)
                inbox += more;
        });
        socket.connectToHost(QHostAddress(ServerAddress), ChatProtocol::Port);
    }
    bool waitConnected()
    {
        return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }, WaitMs);
    }
    void post(const QString &text)
    {
        socket.write(request("NormalTel", text, m_lines));
        socket.flush();
    }
    void refresh() { socket.write(request("/Reflesh/", QString(), m_lines)); }

    QTcpSocket socket;
    qint64 received = 0;
    bool keep = false;
    QByteArray inbox;

private:
    QString m_name;
    int m_lines;
};

// Everything that arrives until the connection has been quiet for quietMs.
QByteArray readReply(Peer &peer, int quietMs = 500)
{
    QByteArray whole;
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
            [&] {
                const QByteArray more = std::exchange(peer.inbox, {});
                if (!more.isEmpty())
                    quiet.restart();
                whole += more;
                return !whole.isEmpty() && quiet.elapsed() > quietMs;
            },
            WaitMs);
    return whole;
}

double nowUs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// Reads replies with plain blocking reads, as fast as they come, and notes
// the size of each read and the time since the one before.
void segmentGaps(qsizetype replyBytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(ChatProtocol::Port);
    inet_pton(AF_INET, "127.77.0.2", &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        std::printf("gaps: cannot connect, skipped\n");
        ::close(fd);
        return;
    }
    std::vector<double> gaps, sizes, transfers;
    std::vector<char> buffer(1 << 16);
    const QByteArray refresh = request("/Reflesh/", QString(), Lines);
    for (int k = 0; k < GapTransfers; ++k) {
        ::usleep(ChatProtocol::ReplyGapMs * 1000);
        if (::send(fd, refresh.constData(), size_t(refresh.size()), 0) != refresh.size())
            break;
        qsizetype got = 0;
        double last = 0, first = 0;
        while (got < replyBytes) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            const double t = nowUs();
            if (got > 0)
                gaps.push_back((t - last) / 1e3);
            else
                first = t;
            last = t;
            got += n;
            sizes.push_back(double(n));
        }
        transfers.push_back((last - first) / 1e3);
    }
    ::close(fd);
    std::printf(
            "1. reply pieces on the shaped link, %d transfers of %lld bytes: %zu reads, median %.0f "
            "bytes a read; gaps between reads median %.3f ms, 99th percentile %.3f ms, largest %.3f "
            "ms; "
            "first to last byte %.1f ms. Quiet window %d ms = %.0f x the largest gap\n",
            GapTransfers, qlonglong(replyBytes), sizes.size(), median(sizes), median(gaps),
            percentile(gaps, 0.99), percentile(gaps, 1.0), median(transfers),
            ChatProtocol::ReplyQuietMs,
            ChatProtocol::ReplyQuietMs / std::max(percentile(gaps, 1.0), 1e-3));
}

struct Window : LanWindow
{
    Window() : LanWindow(ServerAddress, QStringLiteral("bench")) { }
    // Asks with lines, and waits for the reply to show.
    bool refresh(int lines)
    {
        combo4->setEditText(QString::number(lines));
        serveFor(ChatProtocol::ReplyGapMs);
        text3->clear();
        send->click();
        return waitUntil([&] { return text3->document()->blockCount() >= std::min(lines, Lines); },
                         WaitMs);
    }
};

void refreshRoundTrip(Window &window, qsizetype replyBytes)
{
    Peer bare(QString(), Lines);
    bare.waitConnected();
    QPlainTextEdit plain; // the toolkit's own share: setPlainText alone
    plain.setFont(window.text3->font());
    plain.resize(window.text3->size());
    plain.show();
    std::vector<double> ours, transfer, setText;
    for (int round = 0; round < RefreshRounds; ++round) {
        serveFor(ChatProtocol::ReplyGapMs);
        window.text3->clear();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        bool replaced = false;
        double replacedAt = 0;
        QElapsedTimer t;
        const auto c = QObject::connect(window.text3, &QPlainTextEdit::textChanged, [&] {
            replaced = window.text3->document()->blockCount() >= Lines;
            replacedAt = double(t.nsecsElapsed()) / 1e6;
        });
        t.start();
        window.send->click();
        waitUntil([&] { return replaced; }, WaitMs);
        QObject::disconnect(c);
        ours.push_back(replacedAt);

        bare.received = 0;
        t.restart();
        bare.refresh();
        waitUntil([&] { return bare.received >= replyBytes; }, WaitMs);
        transfer.push_back(double(t.nsecsElapsed()) / 1e6);

        const QString shown = window.text3->toPlainText();
        plain.clear();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        t.restart();
        plain.setPlainText(shown);
        setText.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double base = median(transfer) + median(setText);
    const double goal = ChatProtocol::ReplyQuietMs + 1.5 * base;
    std::printf(
            "2. refresh of %d lines (%lld bytes) to both areas replaced, median of %d: ours %.1f ms; "
            "bare transfer %.1f ms + setPlainText %.1f ms = %.1f ms; goal <= %d + 1.5 x %.1f = %.1f "
            "ms: %s\n",
            Lines, qlonglong(replyBytes), RefreshRounds, median(ours), median(transfer),
            median(setText), base, ChatProtocol::ReplyQuietMs, base, goal,
            median(ours) <= goal ? "met" : "NOT met");
}

void liveLatency(Window &window)
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

// Harrox's CPU over CpuSeconds with CpuClients joined and one post a second.
double serverCpu(const QString &lan, const QString &db, bool live, bool polling, const QString &binary)
{
    Harrox harrox(lan, db, live, binary);
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
    Lan lan(QStringLiteral("lan%1b").arg(QCoreApplication::applicationPid()));
    if (!lan.made) {
        std::printf("cannot make the shaped LAN (iproute2, veth, tbf): skipped\n");
        return 0;
    }
    // Harrox is started through `ip netns exec`, so only this process moves.
    const int fd =
            ::open(qPrintable(QStringLiteral("/run/netns/%1-c").arg(lan.name)), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        std::printf("cannot enter the client namespace: skipped\n");
        return 1;
    }
    ::close(fd);
    // --cpu alone: only the CPU figures, to try a change of the push path quickly.
    if (!QCoreApplication::arguments().contains(QStringLiteral("--cpu"))) {
        Harrox harrox(lan.name, work.filePath(QStringLiteral("a.db")), true);
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
        Window window;
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
    for (const QString &binary : builds) {
        // Each run from an empty room.
        const QString db = work.filePath(QStringLiteral("%1-%2.db").arg(builds.indexOf(binary)));
        const double live = serverCpu(lan.name, db.arg(QLatin1Char('b')), true, false, binary);
        const double off = serverCpu(lan.name, db.arg(QLatin1Char('c')), false, false, binary);
        const double polled = serverCpu(lan.name, db.arg(QLatin1Char('d')), false, true, binary);
        std::printf("4. %s: harrox CPU over %d s, %d joined clients, one post a second: live %.0f ms; "
                    "--no-live %.0f ms "
                    "(ratio %.2f, goal <= 2: %s); --no-live with every client polling each %d s %.0f "
                    "ms (ratio %.2f)\n",
                    binary == builds.first() ? "this build" : "--old", CpuSeconds, CpuClients,
                    live * 1e3, off * 1e3, live / off, live <= 2 * off ? "met" : "NOT met",
                    PollEveryMs / 1000, polled * 1e3, live / polled);
    }
    return 0;
}

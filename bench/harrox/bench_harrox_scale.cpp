// Harrox sized for a company: 1,000, 5,000 and 10,000 joined clients, of
// which 10 % refresh every 10 s and post once a minute, with time compressed
// by --speedup (default 5: every 2 s and every 12 s). For each size it prints
// the server's CPU, its memory per joined client and the p99 round trip of
// honest probes, for this build and, with --old, another build in the same
// run. A probe has not joined, so no push crosses its round trip, and asks
// no sooner than the server's reply gap allows, so that it measures the
// server, not the pacing; several probes in turn give enough samples.
//
//   bench_harrox_scale [--seconds N] [--speedup N] [--sizes 1000,5000,10000] [--old PATH]
//
// The load runs on raw sockets and epoll, so that the load generator's own
// cost does not grow with its idle sockets. Clients come from 127.0.0.2 on,
// 200 to an address, under any per-address limit.
#include "harroxprocess.h"
#include "processstatus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int ClientsPerAddress = 200;
constexpr int ActivePercent = 10;
constexpr int RefreshSeconds = 10;
constexpr int PostSeconds = 60;
constexpr int Probes = 4;
constexpr int ProbeEveryMs = 400; // beyond the 300 ms reply gap
constexpr int SetupTimeoutSeconds = 120;
constexpr int ReadChunk = 256 * 1024;
constexpr int MaxEvents = 256;

const QByteArray Tail = "/*/~127.0.0.1/**/";

struct Client
{
    int fd = -1;
    bool joined = false;
    Clock::time_point due;
    int ticks = 0;
};

struct Result
{
    double cpuPercent = 0;
    double kibPerClient = 0;
    double probeP99Ms = 0;
    double probeP50Ms = 0;
    long requests = 0;
    bool ok = false;
};

int openClient(int index, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl((127u << 24) + 2u + unsigned(index / ClientsPerAddress));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0
        || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

void sendAll(int fd, const QByteArray &bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n =
                ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += n;
    }
}

// Reads what is there; true when the bytes held a "/*/" (a reply that
// asked for 0 lines ends there).
bool drain(int fd, QByteArray &carry)
{
    static char buffer[ReadChunk];
    bool separator = false;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return separator;
        carry.append(buffer, n);
        if (carry.contains("/*/"))
            separator = true;
        carry = carry.right(2);
    }
}

qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    return fields.size() > 15 ? fields[13].toLongLong() + fields[14].toLongLong() : 0;
}

qint64 residentKiB(qint64 pid)
{
    return std::max<qint64>(processStatusKiB(pid, QStringLiteral("VmRSS")), 0);
}

Result measure(const QString &binary, int size, int seconds, int speedup)
{
    Result result;
    QTemporaryDir dir;
    HarroxProcess harrox;
    harrox.program = binary;
    // To a file: a pipe that nobody reads would stop the server.
    harrox.process.setStandardErrorFile(dir.filePath(QStringLiteral("harrox.log")));
    if (!harrox.start({QStringLiteral("--db"), dir.filePath(QStringLiteral("bench.db")),
                       QStringLiteral("--max-clients"), QString::number(size + 100)},
                      10000))
        return result;
    const quint16 port = harrox.port;
    const qint64 rssIdle = residentKiB(harrox.process.processId());

    const int epoll = ::epoll_create1(0);
    std::vector<Client> clients(size_t(size) + Probes); // the last ones probe
    std::vector<QByteArray> carry(clients.size());
    int joined = 0;
    const auto pump = [&](int timeoutMs, auto onReply) {
        epoll_event events[MaxEvents];
        const int n = ::epoll_wait(epoll, events, MaxEvents, timeoutMs);
        for (int i = 0; i < n; ++i) {
            const size_t index = events[i].data.u32;
            if (drain(clients[index].fd, carry[index]))
                onReply(index);
        }
    };
    const auto joinReply = [&](size_t index) {
        if (!clients[index].joined) {
            clients[index].joined = true;
            ++joined;
        }
    };
    const Clock::time_point setupEnd = Clock::now() + std::chrono::seconds(SetupTimeoutSeconds);
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i].fd = openClient(int(i), port);
        if (clients[i].fd < 0)
            break;
        epoll_event event{EPOLLIN, {}};
        event.data.u32 = uint32_t(i);
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, clients[i].fd, &event);
        sendAll(clients[i].fd,
                i < size_t(size) ? "CanEnter?user" + QByteArray::number(qulonglong(i)) + Tail + "0"
                                 : "/Reflesh/" + Tail + "0");
        pump(0, joinReply);
    }
    while (joined < int(clients.size()) && Clock::now() < setupEnd)
        pump(10, joinReply);
    if (joined < int(clients.size())) {
        std::fprintf(stderr, "%s: only %d of %zu clients joined\n", qPrintable(binary), joined,
                     clients.size());
        harrox.process.kill();
        harrox.process.waitForFinished();
        return result;
    }
    // Idle members read nothing more; the active ones and the probe do.
    const int active = size * ActivePercent / 100;
    for (size_t i = size_t(active); i < size_t(size); ++i)
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, clients[i].fd, nullptr);
    result.kibPerClient = double(residentKiB(harrox.process.processId()) - rssIdle) / size;

    const auto refreshEvery = std::chrono::milliseconds(RefreshSeconds * 1000 / speedup);
    const int postEveryTicks = PostSeconds / RefreshSeconds;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < active; ++i)
        clients[size_t(i)].due = start + refreshEvery * i / active;
    std::vector<Clock::time_point> probeSent(Probes);
    std::vector<bool> probeWaiting(Probes);
    // Each one first past the gap after its reply in the setup.
    for (int p = 0; p < Probes; ++p)
        clients[size_t(size + p)].due =
                start + std::chrono::milliseconds(ProbeEveryMs) * (Probes + p) / Probes;
    std::vector<double> probeMs;
    const Clock::time_point end = start + std::chrono::seconds(seconds);
    const qint64 cpuBefore = cpuTicks(harrox.process.processId());
    while (Clock::now() < end) {
        const Clock::time_point now = Clock::now();
        for (int i = 0; i < active; ++i) {
            Client &c = clients[size_t(i)];
            if (now < c.due)
                continue;
            const bool posting = ++c.ticks % postEveryTicks == 0;
            sendAll(c.fd,
                    posting ? "NormalTelmessage " + QByteArray::number(c.ticks) + Tail + "10"
                            : "/Reflesh/" + Tail + "10");
            c.due += refreshEvery;
            ++result.requests;
        }
        for (int p = 0; p < Probes; ++p) {
            Client &probe = clients[size_t(size + p)];
            if (!probeWaiting[size_t(p)] && now >= probe.due) {
                probeSent[size_t(p)] = Clock::now();
                probeWaiting[size_t(p)] = true;
                sendAll(probe.fd, "/Reflesh/" + Tail + "0");
                probe.due = probeSent[size_t(p)] + std::chrono::milliseconds(ProbeEveryMs);
            }
        }
        pump(1, [&](size_t index) {
            const size_t p = index - size_t(size);
            if (index >= size_t(size) && probeWaiting[p]) {
                probeMs.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - probeSent[p]).count());
                probeWaiting[p] = false;
            }
        });
    }
    const double cpuSeconds =
            double(cpuTicks(harrox.process.processId()) - cpuBefore) / double(sysconf(_SC_CLK_TCK));
    result.cpuPercent = 100.0 * cpuSeconds / seconds;
    std::sort(probeMs.begin(), probeMs.end());
    if (!probeMs.empty()) {
        result.probeP99Ms = probeMs[size_t(0.99 * double(probeMs.size() - 1))];
        result.probeP50Ms = probeMs[probeMs.size() / 2];
    }
    result.ok = true;
    for (const Client &c : clients)
        ::close(c.fd);
    ::close(epoll);
    harrox.process.terminate();
    harrox.process.waitForFinished();
    return result;
}

void print(const char *build, int size, const Result &r)
{
    if (!r.ok) {
        std::printf("%-6s %6d clients: failed\n", build, size);
        return;
    }
    std::printf("%-6s %6d clients: server CPU %5.1f %%, %5.1f KiB per client, probe p50 %6.2f ms p99 "
                "%6.2f ms (%ld requests)\n",
                build, size, r.cpuPercent, r.kibPerClient, r.probeP50Ms, r.probeP99Ms, r.requests);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Measured seconds per size."),
                                           QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption speedupOption(QStringLiteral("speedup"),
                                           QStringLiteral("Time compression."), QStringLiteral("n"),
                                           QStringLiteral("5"));
    const QCommandLineOption sizesOption(QStringLiteral("sizes"), QStringLiteral("Joined clients."),
                                         QStringLiteral("list"), QStringLiteral("1000,5000,10000"));
    const QCommandLineOption oldOption(QStringLiteral("old"),
                                       QStringLiteral("Another harrox to compare."),
                                       QStringLiteral("path"));
    const QCommandLineOption harroxOption(QStringLiteral("harrox"),
                                          QStringLiteral("This build's harrox."),
                                          QStringLiteral("path"), QStringLiteral(HARROX_PATH));
    parser.addOptions({secondsOption, speedupOption, sizesOption, oldOption, harroxOption});
    parser.process(app);
    const int seconds = std::clamp(parser.value(secondsOption).toInt(), 1, 120);
    const int speedup = std::clamp(parser.value(speedupOption).toInt(), 1, 60);

    // Two files a client (ours and, through the child, the server's).
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    std::printf("10 %% of the clients refresh every %d s and post every %d s (real time / %d); %d "
                "probes, each every %d ms; %d s each\n",
                RefreshSeconds / speedup, PostSeconds / speedup, speedup, Probes, ProbeEveryMs,
                seconds);
    for (const QString &text : parser.value(sizesOption).split(u',')) {
        const int size = std::clamp(text.toInt(), 1, 15000);
        print("new", size, measure(parser.value(harroxOption), size, seconds, speedup));
        if (parser.isSet(oldOption))
            print("old", size, measure(parser.value(oldOption), size, seconds, speedup));
    }
    return 0;
}

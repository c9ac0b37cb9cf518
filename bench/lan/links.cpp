// Replies over bad links, beside the good LAN in one run. For each link a
// harrox runs in the server namespace of a LAN of its own; this process moves
// into the client namespace and
//  1. a raw client joined with line count 1,000 (1,000 lines of 120
//     characters stored) takes, in each try, the push of another member's post
//     and its own refresh asked 50 ms after: every reply must be whole (the
//     separator and 1,000 lines, told by their content, not by pauses) and
//     apart from the next by at least the client's quiet window;
//  2. (not with --check) Lintra's window refreshes 1,000 lines: the time until
//     all of them are on screen, against 1.2 x the bytes' transfer time plus
//     one round trip, and where it goes: the request, the reply's first and
//     last piece, beside a raw socket's refresh;
//  3. (not with --check, the link with a switch) the link is cut and the user
//     posts: the time until the window says the link is gone.
#include "links.h"

#include "chatsocket.h"
#include "lan.h"
#include "lanwindow.h"
#include "percentile.h"
#include "waituntil.h"
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

constexpr int LineChars = 120;
constexpr int DefaultTries = 50;
constexpr int SecondPostAfterMs = 50;
constexpr int SettleMs = 1500; // no byte for this long: a try's replies are in
constexpr int TryLimitMs = 60000; // a try that takes longer has failed
constexpr int WindowTries = 5;
constexpr int NoticeLimitMs = 30000;
const QChar LineEnd = u'終'; // every stored line ends with it

struct Link
{
    const char *name;
    QStringList shape; // scripts/shaped-lan up arguments
    double megabits;
    double roundTripMs;
};

QString body(int k)
{
    const QString head = QStringLiteral("%1 ").arg(k);
    QString text = head;
    while (text.size() < LineChars - 1)
        text += Fill;
    return text.left(LineChars - 1) + LineEnd;
}

// One shaped LAN with harrox in its server namespace, this process in its
// client one while it lasts.
class Lan
{
public:
    Lan(const QString &name, const QStringList &shape, const QString &db) : m_lan(name, shape)
    {
        if (!m_lan.isMade())
            return;
        // The stored conversation is posted here in one burst.
        m_harrox.emplace(name, db, HarroxProcess::NoPostingBudget);
        m_up = m_harrox->isUp() && m_lan.enterClient();
    }
    ~Lan() { ShapedLan::enterHome(); }
    bool isUp() const { return m_up; }
    bool cut() const { return m_lan.cut(); }

private:
    ShapedLan m_lan;
    std::optional<LanHarrox> m_harrox; // goes before the LAN
    bool m_up = false;
};

// A raw client that keeps every byte with the time it arrived.
class Peer
{
public:
    Peer(const QString &name, int lines) : m_lines(lines)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray more = socket.readAll();
            stream += more;
            arrivals.push_back({stream.size(), clock.elapsed()});
        });
        clock.start();
        socket.connectToHost(QHostAddress(ServerAddress), ChatProtocol::Port);
        socket.write(request("CanEnter?", name, lines));
    }
    void post(const QString &text) { socket.write(request("NormalTel", text, m_lines)); }
    void refresh() { socket.write(request("/Reflesh/", QString(), m_lines)); }
    // When the byte at offset came.
    qint64 arrivedAt(qsizetype offset) const
    {
        return std::upper_bound(arrivals.begin(), arrivals.end(), offset,
                                [](qsizetype o, const auto &a) { return o < a.first; })
                ->second;
    }

    QTcpSocket socket;
    QElapsedTimer clock;
    QByteArray stream;
    std::vector<std::pair<qsizetype, qint64>> arrivals; // bytes so far, ms
private:
    int m_lines;
};

struct Replies
{
    int count = 0;
    int whole = 0;
    int runTogether = 0; // closer to the one before than the quiet window
    qint64 closestMs = -1;
};

// Cuts the stream into replies by content: each holds the separator once,
// and the members before it are the same text in every reply.
Replies replies(const Peer &peer)
{
    const QByteArray separator = ChatProtocol::Bytes::ReplySeparator.toByteArray();
    const QByteArray lineEnd = Cp932::encode(QString(LineEnd));
    const qsizetype members = peer.stream.indexOf(separator);
    std::vector<qsizetype> starts;
    for (qsizetype at = members; at >= 0; at = peer.stream.indexOf(separator, at + 1))
        starts.push_back(at - members);
    starts.push_back(peer.stream.size() + members); // the end, as if one more began
    Replies r;
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const QByteArray reply =
                peer.stream.sliced(starts[k], std::min(starts[k + 1], peer.stream.size()) - starts[k]);
        const QByteArray right = reply.sliced(members + separator.size());
        ++r.count;
        // Harrox ends each line, the last one too.
        r.whole += right.count("\r\n") == Lines && right.endsWith(lineEnd + "\r\n");
        if (k > 0) {
            const qint64 gap = peer.arrivedAt(starts[k]) - peer.arrivedAt(starts[k] - 1);
            r.closestMs = r.closestMs < 0 ? gap : std::min(r.closestMs, gap);
            r.runTogether += gap < ChatProtocol::ReplyQuietMs;
        }
    }
    return r;
}

// Waits until the last reply is whole and nothing has come for a while.
// Bytes came after the first `before` arrivals, and then nothing for a while.
bool settle(const Peer &peer, size_t before = 0)
{
    const QByteArray lineEnd = Cp932::encode(QString(LineEnd));
    return waitUntil(
            [&] {
                return peer.stream.endsWith(lineEnd + "\r\n") && peer.arrivals.size() > before
                        && peer.clock.elapsed() - peer.arrivals.back().second > SettleMs;
            },
            TryLimitMs);
}

struct Window : LanWindow
{
    Window() : LanWindow(ServerAddress, QStringLiteral("window"))
    {
        combo4->setEditText(QString::number(Lines));
    }
    bool wholeOnScreen() const
    {
        const QString shown = text3->toPlainText();
        return text3->document()->blockCount() == Lines && shown.endsWith(LineEnd)
                && shown.count(LineEnd) == Lines;
    }
};

// One refresh by the window, in ms from the click: the request handed to
// the kernel, its reply's first and last piece read, all of it on screen
// (-1: never whole).
struct WindowRefresh
{
    double sent = -1;
    double first = -1;
    double last = -1;
    double shown = -1;
};

std::vector<WindowRefresh> windowRefreshes(int tries)
{
    Window window;
    std::vector<WindowRefresh> times;
    if (!waitUntil([&] { return window.send->isEnabled(); }, 20000))
        return times;
    serveFor(3000); // the join's reply is in
    auto *socket = window.form.link().findChild<ChatSocket *>();
    auto *tcp = socket->findChild<QTcpSocket *>();
    for (int k = 0; k < tries; ++k) {
        window.text3->clear();
        QElapsedTimer t;
        WindowRefresh r;
        const QList<QMetaObject::Connection> watches{
                QObject::connect(window.text3->document(), &QTextDocument::contentsChanged,
                                 [&] {
                                     // The time before the check, which is ours, not Lintra's.
                                     const double now = double(t.elapsed());
                                     if (r.shown < 0 && window.wholeOnScreen())
                                         r.shown = now;
                                 }),
                QObject::connect(tcp, &QTcpSocket::bytesWritten,
                                 [&] { r.sent = r.sent < 0 ? double(t.elapsed()) : r.sent; }),
                // Before the piece is read: when it came.
                QObject::connect(socket, &ChatSocket::received, [&] {
                    r.first = r.first < 0 ? double(t.elapsed()) : r.first;
                    r.last = double(t.elapsed());
                })};
        t.start();
        window.send->click();
        waitUntil([&] { return r.shown >= 0; }, 20000);
        for (const auto &watch : watches)
            QObject::disconnect(watch);
        times.push_back(r);
        serveFor(1000);
    }
    return times;
}

// The same refreshes by a raw socket, after the same idle second: what the
// link, its TCP and Harrox take without Lintra.
double rawRefreshMs(Peer &probe, int tries)
{
    const QByteArray separator = ChatProtocol::Bytes::ReplySeparator.toByteArray();
    // Whole by its content: every line ends alike, so a piece that ends at
    // a line's end is not yet the reply's end.
    const auto whole = [&] {
        const qsizetype at = probe.stream.indexOf(separator);
        return at >= 0 && QByteArrayView(probe.stream).sliced(at).count("\r\n") >= Lines;
    };
    std::vector<double> times;
    for (int k = 0; k < tries; ++k) {
        serveFor(1000);
        probe.stream.clear();
        probe.arrivals.clear();
        const qint64 asked = probe.clock.elapsed();
        probe.refresh();
        if (waitUntil(whole, 20000))
            times.push_back(double(probe.arrivals.back().second - asked));
    }
    return times.empty() ? -1 : median(times);
}

// After a cut, the user posts: ms until the window says the link is gone, -1 not within the limit.
double deadLinkNotice(Lan &lan)
{
    Window window;
    if (!waitUntil([&] { return window.send->isEnabled(); }, 20000))
        return -2;
    serveFor(3000);
    lan.cut();
    QElapsedTimer t;
    t.start();
    window.text2->setText(QStringLiteral("切れた後の投稿"));
    window.send->click();
    const bool noticed = waitUntil([&] { return !window.send->isEnabled(); }, NoticeLimitMs);
    const double ms = noticed ? double(t.elapsed()) : -1;
    lan.cut(); // restored
    return ms;
}

} // namespace

int runLinks(const QStringList &arguments)
{
    const bool check = arguments.contains(QStringLiteral("--check"));
    const int triesAt = int(arguments.indexOf(QStringLiteral("--tries")));
    const int tries = triesAt > 0 ? arguments.value(triesAt + 1).toInt() : DefaultTries;
    if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/dev/net/tun")) || !ShapedLan::enterHome()) {
        std::printf(
                "--links needs root and /dev/net/tun for the shaped LANs and their switch: skipped\n");
        return check ? 77 : 0;
    }
    qputenv("LANSWITCH", LANSWITCH_PATH); // for scripts/shaped-lan
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const QString db = work.filePath(QStringLiteral("filled.db"));
    const std::vector<Link> links{
            {"good LAN", {}, 100, 0},
            {"1 Mbit/s", {QStringLiteral("--rate"), QStringLiteral("1mbit")}, 1, 0},
            {"5 % loss", {QStringLiteral("--loss"), QStringLiteral("5")}, 100, 0},
            {"100 ms round trip", {QStringLiteral("--delay"), QStringLiteral("50")}, 100, 100},
    };
    bool allWhole = true;
    for (size_t i = 0; i < links.size(); ++i) {
        const Link &link = links[i];
        // Every LAN from the same stored conversation.
        const QString copy = work.filePath(QStringLiteral("%1.db").arg(i));
        if (i > 0 && !QFile::copy(db, copy))
            return 1;
        Lan lan(QStringLiteral("lan%1l%2").arg(QCoreApplication::applicationPid()).arg(i), link.shape,
                i > 0 ? copy : db);
        if (!lan.isUp()) {
            std::printf("%s: cannot make the LAN or start harrox: skipped\n", link.name);
            return check ? 77 : 1;
        }
        Peer probe(QStringLiteral("probe"), Lines);
        Peer other(QStringLiteral("other"), 1);
        if (i == 0) {
            for (int k = 0; k < Lines; ++k)
                other.post(body(k));
        }
        if (!settle(probe)) {
            std::printf("%s: the conversation did not come: skipped\n", link.name);
            return 1;
        }
        // From here both are members: the same members text in every reply.
        probe.stream.clear();
        probe.arrivals.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        int done = 0;
        for (; done < tries; ++done) {
            const size_t before = probe.arrivals.size();
            other.post(body(Lines + done));
            QTimer::singleShot(SecondPostAfterMs, &probe.socket, [&] { probe.refresh(); });
            if (!settle(probe, before))
                break;
        }
        const Replies r = replies(probe);
        // Each try brings the push and the refresh's answer, or one reply for both.
        const bool whole =
                done == tries && r.count >= tries && r.whole == r.count && r.runTogether == 0;
        allWhole = allWhole && whole;
        const qsizetype replyBytes = probe.stream.size() / std::max(r.count, 1);
        std::printf("%s: %d tries (post, refresh %d ms later) in %.0f s: %d replies of %lld bytes, %d "
                    "whole, %d run "
                    "together; closest two %lld ms apart (quiet window %d ms): %s\n",
                    link.name, done, SecondPostAfterMs, double(elapsed.elapsed()) / 1e3, r.count,
                    qlonglong(replyBytes), r.whole, r.runTogether, qlonglong(r.closestMs),
                    ChatProtocol::ReplyQuietMs, whole ? "whole every time" : "NOT whole every time");
        if (check)
            continue;
        const double goal = 1.2 * double(replyBytes) * 8 / (link.megabits * 1e3) + link.roundTripMs;
        const double raw = rawRefreshMs(probe, std::min(tries, WindowTries));
        const std::vector<WindowRefresh> times = windowRefreshes(std::min(tries, WindowTries));
        std::vector<double> sent, first, last, shown;
        for (const WindowRefresh &r : times) {
            if (r.shown < 0)
                continue;
            sent.push_back(r.sent), first.push_back(r.first), last.push_back(r.last);
            shown.push_back(r.shown);
        }
        std::printf("   Lintra window, refresh of %d lines: whole on screen %zu of %zu, median %.0f "
                    "ms; goal 1.2 x transfer + round trip = %.0f ms: %s\n"
                    "      request to the kernel %.1f ms, first piece read %.1f ms, last %.1f ms; "
                    "a raw socket's last byte: %.0f ms\n",
                    Lines, shown.size(), times.size(), median(shown), goal,
                    !shown.empty() && shown.size() == times.size() && median(shown) <= goal ? "met"
                                                                                            : "NOT met",
                    median(sent), median(first), median(last), raw);
        if (link.roundTripMs > 0) {
            const double notice = deadLinkNotice(lan);
            if (notice >= 0)
                std::printf("   dead-link notice after a cut and a post: %.1f s (goal < 20 s)\n",
                            notice / 1e3);
            else
                std::printf(
                        "   dead-link notice after a cut and a post: none within %d s (goal < 20 s)\n",
                        NoticeLimitMs / 1000);
        }
    }
    return check && !allWhole ? 1 : 0;
}

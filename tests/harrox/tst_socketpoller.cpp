#include "clientsocket.h"
#include "sendring.h"
#include "socketpoller.h"

#include <QTest>

#include <array>
#include <memory>
#include <optional>

#include <arpa/inet.h>
#include <liburing.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Sends batched through the poller, through io_uring and through plain
// send() alike, and sent at once: nothing leaves before a batch closes, a
// reader with little room gets the rest as it reads, in order, and a peer
// that has gone ends its socket.
class tst_SocketPoller : public QObject
{
    Q_OBJECT

private slots:
    void batchedSends_data();
    void batchedSends();
    void goneBeforeItsBatch();
    void ringTakesSendsOnly();
};

namespace {
// Whatever has arrived at fd, appended to into.
qsizetype drain(int fd, QByteArray &into)
{
    char buffer[16384];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        into.append(buffer, n);
    return into.size();
}
} // namespace

void tst_SocketPoller::batchedSends_data()
{
    QTest::addColumn<bool>("ring");
    QTest::addColumn<bool>("batched");
    QTest::newRow("batched, io_uring") << true << true;
    QTest::newRow("batched, send()") << false << true;
    QTest::newRow("each at once") << false << false;
}

void tst_SocketPoller::batchedSends()
{
    QFETCH(bool, ring);
    QFETCH(bool, batched);
    SocketPoller poller(nullptr, ring);
    if (ring && !poller.usesRing())
        QSKIP("the kernel or a system call filter refuses io_uring here");
    enum { Reads,
           Slow,
           Full,
           Gone,
           Peers };
    std::array<int, Peers> far{};
    std::array<int, Peers> notified{};
    std::array<std::unique_ptr<ClientSocket>, Peers> sockets;
    // Over TCP, which tells of room to write only after it ran out; the one
    // that has gone is a local socket, which refuses at once.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(listener, Peers) == 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size);
    for (int i = 0; i < Peers; ++i) {
        int ours = -1;
        const int small = 4096;
        if (i == Gone) {
            int pair[2];
            QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
            ours = pair[0];
            far[i] = pair[1];
        } else {
            far[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (i != Reads)
                ::setsockopt(far[i], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            QCOMPARE(::connect(far[i], reinterpret_cast<sockaddr *>(&address), size), 0);
            ours = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (i != Reads)
            ::setsockopt(ours, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        sockets[i] = std::make_unique<ClientSocket>(ours, poller, [&notified, i] { ++notified[i]; });
    }
    ::close(listener);
    // Each is told once that it may write; from here only a full one is.
    QCoreApplication::processEvents();
    notified.fill(0);
    ::close(far[Gone]);
    // Full has no room left when the batch goes: it must wait, not fail.
    std::array<QByteArray, Peers> expected;
    const QByteArray prefill(1000, 'p');
    while (::send(sockets[Full]->descriptor(), prefill.constData(), prefill.size(), MSG_DONTWAIT) == prefill.size())
        expected[Full] += prefill;
    QVERIFY(errno == EAGAIN); // a part that went makes the comparison below fail
    const QByteArray second("and then this");
    {
        std::optional<SocketPoller::Batch> batch;
        if (batched)
            batch.emplace(poller);
        for (int i = 0; i < Peers; ++i) {
            // Numbered, so that a byte sent twice or left out shows. A short
            // first one that goes whole has the second behind it.
            QByteArray first;
            for (int k = 0; first.size() < (i == Reads ? 1000 : 60000); ++k)
                first += QByteArray::number(k) + ' ';
            sockets[i]->write(first);
            sockets[i]->write(second);
            expected[i] += first + second;
        }
        int waiting = -1;
        QCOMPARE(::ioctl(far[Reads], FIONREAD, &waiting), 0);
        QCOMPARE(waiting > 0, !batched);
    }
    QVERIFY(!sockets[Gone]->isOpen());
    QCOMPARE(notified[Gone] > 0, batched); // at once, where nobody asks after the write
    QVERIFY(sockets[Slow]->bytesToWrite() > 0);
    for (int i : {Reads, Slow, Full}) {
        QVERIFY(sockets[i]->isOpen());
        QByteArray got;
        QTRY_COMPARE(drain(far[i], got), expected[i].size());
        QVERIFY(got == expected[i]);
        QCOMPARE(sockets[i]->bytesToWrite(), 0);
        ::close(far[i]);
    }
}

// A client gone while its reply waits in the batch: the descriptor number
// it had may be another's when the batch goes.
void tst_SocketPoller::goneBeforeItsBatch()
{
    SocketPoller poller(nullptr, false);
    int gone[2], next[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gone), 0);
    {
        SocketPoller::Batch batch(poller);
        auto socket = std::make_unique<ClientSocket>(gone[0], poller, [] {});
        socket->write("not for the next");
        socket.reset();
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, next), 0);
        QCOMPARE(next[0], gone[0]);
    }
    int waiting = -1;
    QCOMPARE(::ioctl(next[1], FIONREAD, &waiting), 0);
    QCOMPARE(waiting, 0);
    for (int fd : {gone[1], next[0], next[1]})
        ::close(fd);
}

// Its entries pass by a system call filter: a socket() the filter refuses
// must not go through the ring instead.
void tst_SocketPoller::ringTakesSendsOnly()
{
    io_uring ring;
    if (!SendRing::openRestricted(ring))
        QSKIP("the kernel or a system call filter refuses io_uring or its restriction here");
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    // Each entry submitted alone: its result, or -1 when none came.
    const auto result = [&](auto prepare) {
        prepare(io_uring_get_sqe(&ring));
        io_uring_cqe *done = nullptr;
        const int res = io_uring_submit_and_wait(&ring, 1) == 1 && io_uring_peek_cqe(&ring, &done) == 0 ? done->res : -1;
        io_uring_cqe_seen(&ring, done);
        return res;
    };
    QCOMPARE(result([](io_uring_sqe *e) { io_uring_prep_socket(e, AF_NETLINK, SOCK_RAW, 0, 0); }), -EACCES);
    QCOMPARE(result([&](io_uring_sqe *e) { io_uring_prep_send(e, pair[0], "hi", 2, MSG_DONTWAIT); }), 2);
    io_uring_queue_exit(&ring), ::close(pair[0]), ::close(pair[1]);
}

QTEST_GUILESS_MAIN(tst_SocketPoller)
#include "tst_socketpoller.moc"

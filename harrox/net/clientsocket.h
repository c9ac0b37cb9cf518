#pragma once

#include "socketpoller.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <functional>

// A connected, non-blocking TCP socket of one client, served through the
// SocketPoller: a few words per connection where a QTcpSocket costs several
// heap objects and two notifiers. Bytes are read on demand, straight to the
// caller; replies are queued by reference (a reply rendered once for many
// clients is shared, not copied) and sent as the kernel takes them.
class ClientSocket final : private SocketPoller::Watcher
{
public:
    // Called on new bytes, a hang-up or an error: read to see which.
    using Notify = std::function<void()>;

    // Takes ownership of fd and makes it non-blocking.
    ClientSocket(int fd, SocketPoller &poller, Notify notify);
    ~ClientSocket();
    ClientSocket(const ClientSocket &) = delete;
    ClientSocket &operator=(const ClientSocket &) = delete;

    int descriptor() const { return m_fd; }
    // Neither closed by us, nor at the end of its input, nor failing to send:
    // a reply may go.
    bool isOpen() const { return m_fd >= 0 && !m_atEnd && !m_broken; }
    // Bytes may be waiting: more were told of since a read last came back
    // short. What came before a failed send can still be read.
    bool mayHaveBytes() const { return m_fd >= 0 && !m_atEnd && m_readable; }

    // Up to maxBytes of what has arrived, into into(bytes); returns the count,
    // 0 when nothing waits or the socket is no longer open.
    template<typename Sink>
    qsizetype read(qsizetype maxBytes, Sink into)
    {
        char buffer[ReadBufferBytes];
        const qsizetype n = readSome(buffer, std::min(maxBytes, qsizetype(sizeof buffer)));
        if (n > 0)
            into(QByteArrayView(buffer, n));
        return n;
    }
    // Queues bytes and sends what the kernel takes now.
    void write(const QByteArray &bytes);
    qint64 bytesToWrite() const { return m_unsent; }
    // The replies queued, shared ones too: what the queue keeps in memory.
    const QList<QByteArray> &queued() const { return m_queue; }
    // What waits behind the first queued write, which the peer is taking.
    qint64 bytesBehindFirst() const;
    // Bytes written that the peer has not acknowledged yet, ours and the kernel's.
    qint64 untakenBytes() const;
    // Closes now; whatever is unsent is lost.
    void abort();

    static constexpr qsizetype ReadBufferBytes = 64 * 1024;
    // Larger replies go at once, so that the part the kernel takes never
    // counts as unsent.
    static constexpr qsizetype BatchedBytesMax = 64 * 1024;

private:
    void socketEvent(std::uint32_t events) override;
    void batchSent(qsizetype result) override;
    qsizetype readSome(char *buffer, qsizetype maxBytes);
    void flush();
    // Drops what the kernel took from the front of the queue.
    void taken(qsizetype sent);
    void sendFailed();

    int m_fd;
    SocketPoller &m_poller;
    Notify m_notify;
    quint64 m_key = 0;
    bool m_atEnd = false;
    bool m_broken = false;
    bool m_readable = true;
    // Not a std::deque, which allocates half a kilobyte for every idle client.
    QList<QByteArray> m_queue;
    qsizetype m_sentOfFirst = 0;
    qint64 m_unsent = 0;
};

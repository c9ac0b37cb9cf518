#include "clientsocket.h"

#include <cerrno>

#include <fcntl.h>
#include <linux/sockios.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {
// Pieces of the queue handed to one sendmsg().
constexpr int PiecesPerSend = 8;
} // namespace

ClientSocket::ClientSocket(int fd, SocketPoller &poller, Notify notify)
    : m_fd(fd), m_poller(poller), m_notify(std::move(notify))
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    // Bytes that came before this are reported at once.
    m_key = m_poller.add(m_fd, this);
    if (m_key == 0)
        m_broken = true;
}

ClientSocket::~ClientSocket()
{
    abort();
}

void ClientSocket::abort()
{
    if (m_fd < 0)
        return;
    m_poller.remove(m_key, m_fd);
    ::close(m_fd);
    m_fd = -1;
    m_queue.clear();
    m_unsent = 0;
}

qsizetype ClientSocket::readSome(char *buffer, qsizetype maxBytes)
{
    if (!mayHaveBytes())
        return 0;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, size_t(maxBytes), 0);
        if (n > 0) {
            // A short read took everything; the poller tells of more.
            if (n < maxBytes)
                m_readable = false;
            return n;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            m_readable = false;
        else
            m_atEnd = true; // end of stream or a reset
        return 0;
    }
}

void ClientSocket::write(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    // Behind unsent bytes it waits for room, which the poller reports.
    qsizetype sent = 0;
    if (m_queue.isEmpty() && m_poller.batching() && bytes.size() <= BatchedBytesMax) {
        m_poller.sendLater(m_key, m_fd, bytes);
    } else if (m_queue.isEmpty()) {
        // Straight from the caller's bytes: most replies fit the kernel's
        // buffer, and a push to every member need not touch the queue.
        for (;;) {
            const ssize_t n = ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
            if (n >= 0) {
                sent = n;
                break;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                m_broken = true;
            break;
        }
        if (m_broken || sent == bytes.size())
            return;
        m_sentOfFirst = sent;
    }
    m_queue.push_back(bytes);
    m_unsent += bytes.size() - sent;
}

qint64 ClientSocket::bytesBehindFirst() const
{
    return m_queue.isEmpty() ? 0 : m_unsent - (m_queue.front().size() - m_sentOfFirst);
}

qint64 ClientSocket::untakenBytes() const
{
    int inKernel = 0;
    // Sent and unacknowledged, or not sent yet: both still on their way.
    if (m_fd < 0 || ::ioctl(m_fd, SIOCOUTQ, &inKernel) != 0)
        inKernel = 0;
    return m_unsent + inKernel;
}

void ClientSocket::flush()
{
    while (isOpen() && !m_queue.empty()) {
        iovec pieces[PiecesPerSend];
        int count = 0;
        for (auto it = m_queue.begin(); it != m_queue.end() && count < PiecesPerSend; ++it, ++count) {
            const qsizetype skip = count == 0 ? m_sentOfFirst : 0;
            pieces[count] = {const_cast<char *>(it->constData()) + skip, size_t(it->size() - skip)};
        }
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = size_t(count);
        ssize_t sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                sendFailed();
            return;
        }
        taken(sent);
    }
}

void ClientSocket::sendFailed()
{
    // Nothing more goes to a peer that is gone; what it sent can still be read.
    m_broken = true;
    m_queue.clear();
    m_unsent = 0;
}

void ClientSocket::taken(qsizetype sent)
{
    m_unsent -= sent;
    while (sent > 0) {
        const qsizetype left = m_queue.front().size() - m_sentOfFirst;
        if (sent < left) {
            m_sentOfFirst += sent;
            break;
        }
        sent -= left;
        m_queue.removeFirst();
        m_sentOfFirst = 0;
    }
}

void ClientSocket::batchSent(qsizetype result)
{
    if (result == -EAGAIN || result == -EWOULDBLOCK)
        return; // the poller reports room
    if (result < 0) {
        sendFailed();
        m_notify();
        return;
    }
    taken(result);
    // The rest, and whatever was queued behind it meanwhile.
    flush();
}

void ClientSocket::socketEvent(std::uint32_t events)
{
    if (events & EPOLLOUT)
        flush();
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        m_readable = true;
    // Output alone, sent: nothing for the owner.
    if (m_readable || !isOpen())
        m_notify();
}

#include "socketpoller.h"

#include <QSocketNotifier>

#include <utility>
#include <vector>

#include <sys/epoll.h>
#include <unistd.h>

SocketPoller::SocketPoller(QObject *parent, bool useRing)
    : QObject(parent), m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_ring(useRing)
{
    if (m_epoll < 0)
        qFatal("epoll_create1 failed: %s", qUtf8Printable(qt_error_string(errno)));
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SocketPoller::dispatch);
}

SocketPoller::~SocketPoller()
{
    delete m_notifier;
    ::close(m_epoll);
}

quint64 SocketPoller::add(int fd, Watcher *watcher)
{
    const quint64 key = m_nextKey++;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    event.data.u64 = key;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        return 0;
    m_watchers.insert(key, watcher);
    return key;
}

void SocketPoller::remove(quint64 key, int fd)
{
    if (m_watchers.remove(key))
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    // Its descriptor is closed next, and the number may soon be another's.
    m_waiting.removeIf([key](const Waiting &w) { return w.key == key; });
}

void SocketPoller::sendLater(quint64 key, int fd, const QByteArray &bytes)
{
    m_waiting.append({key, fd, bytes});
}

void SocketPoller::sendBatch()
{
    // Taken first: a watcher that hears of its send may write again, and
    // that goes out at once.
    const QList<Waiting> waiting = std::exchange(m_waiting, {});
    std::vector<SendRing::Send> sends;
    sends.reserve(size_t(waiting.size()));
    for (const Waiting &w : waiting)
        sends.push_back({w.fd, w.bytes.constData(), size_t(w.bytes.size())});
    m_ring.sendAll(sends);
    for (qsizetype i = 0; i < waiting.size(); ++i) {
        if (Watcher *watcher = m_watchers.value(waiting[i].key))
            watcher->batchSent(sends[size_t(i)].result);
    }
}

void SocketPoller::dispatch()
{
    epoll_event events[EventsPerTurn];
    const int count = ::epoll_wait(m_epoll, events, EventsPerTurn, 0);
    for (int i = 0; i < count; ++i) {
        if (Watcher *watcher = m_watchers.value(events[i].data.u64))
            watcher->socketEvent(events[i].events);
    }
}

#pragma once

#include "sendring.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>

#include <cstdint>

class QSocketNotifier;

// Watches every client socket through one epoll instance, which the event
// loop sees as a single descriptor. Qt's dispatcher polls each registered
// socket notifier on every wake-up, so with a notifier per client its cost
// grew with the idle connections; here a wake-up costs only the sockets that
// have something to say. Edge-triggered: a watcher is told once of new
// bytes, room to write or a hang-up, and reads until it has what it wants.
// While a Batch is open, sends wait and then leave together in one system
// call: the pushes of a round to every member of a room.
class SocketPoller : public QObject
{
    Q_OBJECT

public:
    class Watcher
    {
    public:
        virtual void socketEvent(std::uint32_t events) = 0;
        // A batched send went: bytes the kernel took, or -errno.
        virtual void batchSent(qsizetype result) = 0;

    protected:
        ~Watcher() = default;
    };

    // Events handled before yielding to the event loop; the rest wait for
    // the next turn, so timers and new connections are not starved.
    static constexpr int EventsPerTurn = 256;

    class Batch
    {
    public:
        explicit Batch(SocketPoller &poller) : m_poller(poller) { ++m_poller.m_batchDepth; }
        ~Batch()
        {
            if (--m_poller.m_batchDepth == 0)
                m_poller.sendBatch();
        }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        SocketPoller &m_poller;
    };

    // useRing false: batched sends go one send() each, as where the kernel
    // refuses io_uring.
    explicit SocketPoller(QObject *parent = nullptr, bool useRing = true);
    ~SocketPoller() override;

    // Watches fd for input, output and hang-up; returns the key for remove(),
    // or 0 when the kernel refused.
    quint64 add(int fd, Watcher *watcher);
    // No event reaches the watcher after this, not even one already fetched,
    // and a send it has waiting in a batch does not go.
    void remove(quint64 key, int fd);

    bool batching() const { return m_batchDepth > 0; }
    bool usesRing() const { return m_ring.usesRing(); }
    // Sends bytes when the batch closes; the watcher hears how it went.
    void sendLater(quint64 key, int fd, const QByteArray &bytes);

private:
    struct Waiting
    {
        quint64 key;
        int fd;
        QByteArray bytes;
    };

    void dispatch();
    void sendBatch();

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    // By key, not by pointer: a watcher removed while a batch is handled
    // must not be called with the rest of that batch.
    QHash<quint64, Watcher *> m_watchers;
    quint64 m_nextKey = 1;
    SendRing m_ring;
    int m_batchDepth = 0;
    QList<Waiting> m_waiting;
};

#pragma once

#include <QHash>
#include <QObject>

#include <cstdint>

class QSocketNotifier;

// Watches every client socket through one epoll instance, which the event
// loop sees as a single descriptor. Qt's dispatcher polls each registered
// socket notifier on every wake-up, so with a notifier per client its cost
// grew with the idle connections; here a wake-up costs only the sockets that
// have something to say. Edge-triggered: a watcher is told once of new
// bytes, room to write or a hang-up, and reads until it has what it wants.
class SocketPoller : public QObject
{
    Q_OBJECT

public:
    class Watcher
    {
    public:
        virtual void socketEvent(std::uint32_t events) = 0;

    protected:
        ~Watcher() = default;
    };

    // Events handled before yielding to the event loop; the rest wait for
    // the next turn, so timers and new connections are not starved.
    static constexpr int EventsPerTurn = 256;

    explicit SocketPoller(QObject *parent = nullptr);
    ~SocketPoller() override;

    // Watches fd for input, output and hang-up; returns the key for remove(),
    // or 0 when the kernel refused.
    quint64 add(int fd, Watcher *watcher);
    // No event reaches the watcher after this, not even one already fetched.
    void remove(quint64 key, int fd);

private:
    void dispatch();

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    // By key, not by pointer: a watcher removed while a batch is handled
    // must not be called with the rest of that batch.
    QHash<quint64, Watcher *> m_watchers;
    quint64 m_nextKey = 1;
};

#pragma once

#include "pgconnection.h"

#include <QObject>
#include <QTimer>

#include <atomic>

// This server's heartbeat on the database's clock, and the sweep of servers
// whose beat stopped, with their members. On a thread and a connection of
// their own, so that no backlog of member writes or catching up can make
// this server look dead to the others.
class PgHeartbeat : public QObject
{
    Q_OBJECT

public:
    PgHeartbeat(const QString &conninfo, int beatMs, int expiryMs, int timeoutMs,
                QObject *parent = nullptr);

    // From any thread: the row to beat; 0 while there is none.
    void setServer(qint64 id) { m_serverId.store(id); }
    // On the heartbeat's thread.
    void start();
    void stop();
    void stopWithin(int ms) { m_db.stopWithin(ms); }

signals:
    // Our row was swept while we could not beat in time.
    void lost(qint64 serverId);

private:
    void beat();

    PgConnection m_db;
    int m_expiryMs;
    QTimer m_timer;
    std::atomic<qint64> m_serverId{0};
    bool m_warned = false;
};

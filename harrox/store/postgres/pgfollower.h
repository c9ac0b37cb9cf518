#pragma once

#include "backoff.h"
#include "conversationstore.h"
#include "memberobserver.h"
#include "pgconnection.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

class PgHeartbeat;
class QSocketNotifier;

// This server's side of a conversation shared through PostgreSQL, on a
// thread and a connection of its own: learns of every server's posts
// (LISTEN, the catch-up after a reconnect and a slow safety poll), keeps the
// member list across servers (own members as rows, written together however
// many changes came at once; the heartbeat and the sweep of dead servers on
// a thread of their own), and reconnects with back-off when the database
// goes away.
class PgFollower : public QObject, public MemberObserver
{
    Q_OBJECT

public:
    struct Settings
    {
        int beatMs = 1000;
        // Three beats: one late beat under load is not a death.
        int expiryMs = 3000;
        // Notifications are not lost on a live connection; the poll only
        // bounds the delay should one ever be.
        int pollMs = 10000;
        // Each call's bound, as for PgConnection.
        int timeoutMs = 4000;
    };

    PgFollower(const QString &conninfo, const QString &label, const Settings &settings,
               QObject *parent = nullptr);
    ~PgFollower() override;

    // Rows up to this one the store has handed to the room already, in order
    // before anything the follower hands it next: not read again.
    void setDelivered(const std::atomic<qint64> *delivered) { m_delivered = delivered; }
    // On the follower's thread; rows after lastId are new.
    void start(qint64 lastId);
    void stop();
    // From any thread: whatever waits for the database gives up within this.
    void stopWithin(int ms);

    // MemberObserver: callable from any thread, done on the follower's.
    void memberShown(quint64 connection, const QString &name, const QString &host) override;
    void memberLeft(quint64 connection) override;

signals:
    // Committed rows not seen before, oldest first.
    void rowsArrived(const QList<StoredMessage> &rows);
    // Every other server's members, in the order they joined.
    void othersChanged(const QList<OtherMember> &others);

private:
    void connectNow();
    void lose();
    bool registerServer();
    bool writeMember(quint64 connection);
    void changed(quint64 connection);
    void writeChanges();
    void readNotifications();
    void catchUp();
    void readOthers();
    bool check(bool ok);
    PgResult query(const QByteArray &name, const QList<QByteArray> &parameters = {});

    PgConnection m_db;
    QString m_label;
    Settings m_settings;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_poll;
    QTimer m_retry;
    // connection → name, host: what is written again after a reconnect.
    QMap<quint64, QPair<QString, QString>> m_local;
    // Joined, renamed or left since the last write.
    QSet<quint64> m_changed;
    bool m_writeQueued = false;
    QList<OtherMember> m_others;
    std::unique_ptr<PgHeartbeat> m_heartbeat;
    QThread m_heartbeatThread;
    qint64 m_serverId = 0;
    qint64 m_seen = 0;
    const std::atomic<qint64> *m_delivered = nullptr;
    BackOff m_backOff;
    bool m_up = false;
    bool m_readQueued = false;
};

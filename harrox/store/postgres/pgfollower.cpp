#include "pgfollower.h"

#include "conversation.h"
#include "pgconversationstore.h"
#include "pgheartbeat.h"
#include "storelog.h"

#include <QSocketNotifier>

#include <limits>

PgFollower::PgFollower(const QString &conninfo, const QString &label, const Settings &settings,
                       QObject *parent)
    : QObject(parent),
      m_db(conninfo, settings.timeoutMs),
      m_label(label),
      m_settings(settings),
      m_heartbeat(std::make_unique<PgHeartbeat>(conninfo, settings.beatMs, settings.expiryMs,
                                                settings.timeoutMs))
{
    m_heartbeatThread.setObjectName(QStringLiteral("heartbeat"));
    m_heartbeat->moveToThread(&m_heartbeatThread);
    connect(m_heartbeat.get(), &PgHeartbeat::lost, this, [this](qint64 id) {
        // Swept while it could not beat in time: back with its members.
        if (m_up && id == m_serverId)
            check(registerServer());
    });
    PgConversationStore::prepareMessages(m_db);
    m_db.prepare("server_add", "INSERT INTO servers (label) VALUES ($1) RETURNING id");
    m_db.prepare("server_drop", "DELETE FROM servers WHERE id = $1");
    m_db.prepare("member_put",
                 "INSERT INTO members (server_id, connection, name, host) VALUES ($1, $2, $3, $4)"
                 " ON CONFLICT (server_id, connection) DO UPDATE SET name = excluded.name");
    m_db.prepare("member_drop", "DELETE FROM members WHERE server_id = $1 AND connection = $2");
    m_db.prepare("members_notify", "SELECT pg_notify('harrox_members', '')");
    m_db.prepare("members_others", "SELECT name, host FROM members WHERE server_id <> $1 ORDER BY seq");
    for (QTimer *timer : {&m_poll, &m_retry})
        timer->setParent(this);
    m_poll.setInterval(m_settings.pollMs);
    m_retry.setSingleShot(true);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        catchUp();
        readOthers();
    });
    connect(&m_retry, &QTimer::timeout, this, &PgFollower::connectNow);
}

PgFollower::~PgFollower() = default;

void PgFollower::start(qint64 lastId)
{
    m_seen = lastId;
    m_heartbeatThread.start();
    QMetaObject::invokeMethod(m_heartbeat.get(), &PgHeartbeat::start);
    m_poll.start();
    connectNow();
}

void PgFollower::stopWithin(int ms)
{
    m_db.stopWithin(ms);
    m_heartbeat->stopWithin(ms);
}

void PgFollower::stop()
{
    if (m_heartbeatThread.isRunning()) {
        QMetaObject::invokeMethod(m_heartbeat.get(), &PgHeartbeat::stop, Qt::BlockingQueuedConnection);
        m_heartbeatThread.quit();
        m_heartbeatThread.wait();
    }
    m_heartbeat->setServer(0);
    m_poll.stop();
    m_retry.stop();
    // Leaving at once spares the others a wait for the expiry.
    if (m_up && query("server_drop", {QByteArray::number(m_serverId)}).ok())
        query("members_notify");
    m_notifier.reset();
    m_db.close();
    m_up = false;
}

void PgFollower::memberShown(quint64 connection, const QString &name, const QString &host)
{
    QMetaObject::invokeMethod(
            this,
            [=, this] {
                m_local.insert(connection, {name, host});
                changed(connection);
            },
            Qt::QueuedConnection);
}

void PgFollower::memberLeft(quint64 connection)
{
    QMetaObject::invokeMethod(
            this,
            [=, this] {
                m_local.remove(connection);
                changed(connection);
            },
            Qt::QueuedConnection);
}

void PgFollower::changed(quint64 connection)
{
    m_changed.insert(connection);
    // Written after every change already queued: a flood of renames is one
    // row and one transaction, not one round trip each.
    if (!std::exchange(m_writeQueued, true))
        QMetaObject::invokeMethod(this, &PgFollower::writeChanges, Qt::QueuedConnection);
}

void PgFollower::writeChanges()
{
    m_writeQueued = false;
    // A reconnect writes every member anew.
    if (!m_up || m_changed.isEmpty())
        return;
    bool ok = m_db.exec("BEGIN").ok();
    for (auto it = m_changed.cbegin(); ok && it != m_changed.cend(); ++it) {
        ok = m_local.contains(*it)
                ? writeMember(*it)
                : query("member_drop", {QByteArray::number(m_serverId), QByteArray::number(*it)}).ok();
    }
    if (check(ok && query("members_notify").ok() && m_db.exec("COMMIT").ok()))
        m_changed.clear();
    else if (m_up)
        m_db.exec("ROLLBACK");
}

PgResult PgFollower::query(const QByteArray &name, const QList<QByteArray> &parameters)
{
    PgResult result = m_db.run(name, parameters);
    // Notifications that came with the answer, our own included, wait in
    // libpq's queue where the socket notifier never sees them.
    if (!m_readQueued) {
        m_readQueued = true;
        QMetaObject::invokeMethod(this, &PgFollower::readNotifications, Qt::QueuedConnection);
    }
    return result;
}

bool PgFollower::check(bool ok)
{
    if (!ok && m_db.lost())
        lose();
    return ok;
}

void PgFollower::connectNow()
{
    if (m_up)
        return;
    if (!m_db.open() || !m_db.exec("LISTEN harrox_messages").ok()
        || !m_db.exec("LISTEN harrox_members").ok() || !registerServer()) {
        if (m_backOff.ms() == 0)
            qCWarning(lcStore, "database not reachable: %s; trying again",
                      qUtf8Printable(m_db.errorString()));
        m_db.close();
        m_retry.start(m_backOff.failed());
        return;
    }
    if (m_backOff.ms() > 0)
        qCInfo(lcStore, "database reachable again: listening, catching up");
    m_backOff.reset();
    m_up = true;
    m_notifier = std::make_unique<QSocketNotifier>(PQsocket(m_db.handle()), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PgFollower::readNotifications);
    catchUp();
    readOthers();
}

void PgFollower::lose()
{
    if (!m_up)
        return;
    qCWarning(lcStore, "database connection lost: %s", qUtf8Printable(m_db.errorString()));
    m_up = false;
    m_notifier.reset();
    m_db.close();
    // The loss is said; the first failed try says nothing more.
    m_backOff.reset();
    m_retry.start(m_backOff.failed());
}

bool PgFollower::registerServer()
{
    // A new row each time: the old one may have been swept while we were away.
    if (m_serverId != 0)
        query("server_drop", {QByteArray::number(m_serverId)});
    const PgResult added = query("server_add", {m_label.toUtf8()});
    if (!added.ok() || added.rows() != 1)
        return false;
    m_serverId = added.int64(0, 0);
    for (auto it = m_local.cbegin(); it != m_local.cend(); ++it) {
        if (!writeMember(it.key()))
            return false;
    }
    m_changed.clear();
    m_heartbeat->setServer(m_serverId);
    return query("members_notify").ok();
}

bool PgFollower::writeMember(quint64 connection)
{
    const auto &[name, host] = m_local.value(connection);
    return query("member_put",
                 {QByteArray::number(m_serverId), QByteArray::number(connection), name.toUtf8(),
                  host.toUtf8()})
            .ok();
}

void PgFollower::readNotifications()
{
    m_readQueued = false;
    if (!m_up)
        return;
    if (!PQconsumeInput(m_db.handle())) {
        lose();
        return;
    }
    bool messages = false;
    bool members = false;
    qint64 newest = 0;
    while (PGnotify *notify = PQnotifies(m_db.handle())) {
        const QByteArray channel(notify->relname);
        if (channel == "harrox_messages") {
            // The id of the post; none from an import.
            bool isId = false;
            const qint64 id = QByteArray(notify->extra).toLongLong(&isId);
            messages = true;
            newest = std::max(newest, isId ? id : std::numeric_limits<qint64>::max());
        }
        members |= channel == "harrox_members";
        PQfreemem(notify);
    }
    // Our own posts the store has shown already.
    if (messages && newest > std::max(m_seen, m_delivered ? m_delivered->load() : 0))
        catchUp();
    if (members)
        readOthers();
}

void PgFollower::catchUp()
{
    if (!m_up)
        return;
    if (m_delivered)
        m_seen = std::max(m_seen, m_delivered->load());
    const PgResult since = query(
            "rows_since", {QByteArray::number(m_seen), QByteArray::number(Conversation::KeptLines)});
    if (!check(since.ok()) || since.rows() == 0)
        return;
    const QList<StoredMessage> rows = PgConversationStore::rowsOf(since);
    m_seen = rows.constLast().id;
    emit rowsArrived(rows);
}

void PgFollower::readOthers()
{
    if (!m_up)
        return;
    const PgResult result = query("members_others", {QByteArray::number(m_serverId)});
    if (!check(result.ok()))
        return;
    QList<OtherMember> others;
    for (int row = 0; row < result.rows(); ++row)
        others.append({result.text(row, 0), result.text(row, 1)});
    // Our own joins notify us too: each unchanged list would cost every
    // client a push.
    if (others != m_others)
        emit othersChanged(m_others = others);
}

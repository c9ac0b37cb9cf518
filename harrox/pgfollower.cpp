#include "pgfollower.h"

#include "conversation.h"
#include "pgconversationstore.h"

#include <QSocketNotifier>

PgFollower::PgFollower(const QString &conninfo, const QString &label, const Settings &settings,
                       QObject *parent)
    : QObject(parent)
    , m_db(conninfo)
    , m_label(label)
    , m_settings(settings)
{
    PgConversationStore::prepareMessages(m_db);
    m_db.prepare("server_add", "INSERT INTO servers (label) VALUES ($1) RETURNING id");
    m_db.prepare("server_drop", "DELETE FROM servers WHERE id = $1");
    m_db.prepare("server_beat", "UPDATE servers SET beat = now() WHERE id = $1 RETURNING id");
    m_db.prepare("server_sweep",
                 "WITH gone AS (DELETE FROM servers WHERE beat < now() - make_interval(secs => $1::float8 / 1000)"
                 " RETURNING id) SELECT count(*) FROM gone");
    m_db.prepare("member_put",
                 "INSERT INTO members (server_id, connection, name, host) VALUES ($1, $2, $3, $4)"
                 " ON CONFLICT (server_id, connection) DO UPDATE SET name = excluded.name");
    m_db.prepare("member_drop", "DELETE FROM members WHERE server_id = $1 AND connection = $2");
    m_db.prepare("members_notify", "SELECT pg_notify('harrox_members', '')");
    m_db.prepare("members_others",
                 "SELECT name, host FROM members WHERE server_id <> $1 ORDER BY seq");
    for (QTimer *timer : {&m_beat, &m_poll, &m_retry})
        timer->setParent(this);
    m_beat.setInterval(m_settings.beatMs);
    m_poll.setInterval(m_settings.pollMs);
    m_retry.setSingleShot(true);
    connect(&m_beat, &QTimer::timeout, this, &PgFollower::beat);
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
    m_beat.start();
    m_poll.start();
    connectNow();
}

void PgFollower::stop()
{
    m_beat.stop();
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
    QMetaObject::invokeMethod(this, [=, this] {
        m_local.insert(connection, {name, host});
        if (m_up && check(writeMember(connection)))
            query("members_notify");
    }, Qt::QueuedConnection);
}

void PgFollower::memberLeft(quint64 connection)
{
    QMetaObject::invokeMethod(this, [=, this] {
        m_local.remove(connection);
        if (m_up && check(query("member_drop", {QByteArray::number(m_serverId),
                                                   QByteArray::number(connection)}).ok()))
            query("members_notify");
    }, Qt::QueuedConnection);
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
        if (m_backOffMs == 0)
            qWarning("database not reachable: %s; trying again", qUtf8Printable(m_db.errorString()));
        m_db.close();
        m_backOffMs = m_backOffMs == 0 ? FirstBackOffMs : std::min(2 * m_backOffMs, MostBackOffMs);
        m_retry.start(m_backOffMs);
        return;
    }
    if (m_backOffMs > 0)
        qInfo("database reachable again: listening, catching up");
    m_backOffMs = 0;
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
    qWarning("database connection lost: %s", qUtf8Printable(m_db.errorString()));
    m_up = false;
    m_notifier.reset();
    m_db.close();
    m_backOffMs = FirstBackOffMs;
    m_retry.start(m_backOffMs);
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
    return query("members_notify").ok();
}

bool PgFollower::writeMember(quint64 connection)
{
    const auto &[name, host] = m_local.value(connection);
    return query("member_put", {QByteArray::number(m_serverId), QByteArray::number(connection),
                                   name.toUtf8(), host.toUtf8()}).ok();
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
    while (PGnotify *notify = PQnotifies(m_db.handle())) {
        const QByteArray channel(notify->relname);
        messages |= channel == "harrox_messages";
        members |= channel == "harrox_members";
        PQfreemem(notify);
    }
    if (messages)
        catchUp();
    if (members)
        readOthers();
}

void PgFollower::catchUp()
{
    if (!m_up)
        return;
    const PgResult since = query("rows_since", {QByteArray::number(m_seen),
                                                   QByteArray::number(Conversation::KeptLines)});
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
    emit othersChanged(others);
}

void PgFollower::beat()
{
    if (!m_up)
        return;
    const PgResult beaten = query("server_beat", {QByteArray::number(m_serverId)});
    if (!check(beaten.ok()))
        return;
    // Swept while it could not beat in time: back with its members.
    if (beaten.rows() == 0 && !check(registerServer()))
        return;
    const PgResult swept = query("server_sweep", {QByteArray::number(m_settings.expiryMs)});
    if (check(swept.ok()) && swept.int64(0, 0) > 0) {
        qInfo("swept %lld servers whose heartbeat stopped", swept.int64(0, 0));
        query("members_notify");
    }
}

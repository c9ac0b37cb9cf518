#include "pgheartbeat.h"

#include "storelog.h"

PgHeartbeat::PgHeartbeat(const QString &conninfo, int beatMs, int expiryMs, int timeoutMs,
                         QObject *parent)
    : QObject(parent), m_db(conninfo, timeoutMs), m_expiryMs(expiryMs)
{
    m_db.prepare("server_beat", "UPDATE servers SET beat = now() WHERE id = $1 RETURNING id");
    m_db.prepare("server_sweep",
                 "WITH gone AS (DELETE FROM servers WHERE beat < now() - make_interval(secs => "
                 "$1::float8 / 1000)"
                 " RETURNING id) SELECT count(*) FROM gone");
    m_db.prepare("members_notify", "SELECT pg_notify('harrox_members', '')");
    m_timer.setParent(this);
    m_timer.setInterval(beatMs);
    connect(&m_timer, &QTimer::timeout, this, &PgHeartbeat::beat);
}

void PgHeartbeat::start()
{
    m_timer.start();
}

void PgHeartbeat::stop()
{
    m_timer.stop();
    m_db.close();
}

void PgHeartbeat::beat()
{
    const qint64 id = m_serverId.load();
    if (id == 0)
        return;
    // The next beat tries again: a beat is its own back-off.
    if (!m_db.isOpen() && !m_db.open()) {
        if (!std::exchange(m_warned, true))
            qCWarning(lcStore, "heartbeat: database not reachable: %s",
                      qUtf8Printable(m_db.errorString()));
        return;
    }
    m_warned = false;
    const PgResult beaten = m_db.run("server_beat", {QByteArray::number(id)});
    if (!beaten.ok())
        return;
    if (beaten.rows() == 0) {
        emit lost(id);
        return;
    }
    const PgResult swept = m_db.run("server_sweep", {QByteArray::number(m_expiryMs)});
    if (swept.ok() && swept.int64(0, 0) > 0) {
        qCInfo(lcStore, "swept %lld servers whose heartbeat stopped", swept.int64(0, 0));
        m_db.run("members_notify");
    }
}

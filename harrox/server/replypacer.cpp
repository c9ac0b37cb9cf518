#include "replypacer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
constexpr qint64 MsPerSecond = 1000;
} // namespace

ReplyPacer::ReplyPacer(const Settings &settings, Writer writer, Clock clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_writer(std::move(writer))
    , m_clock(std::move(clock))
{
    if (!m_clock) {
        QElapsedTimer started;
        started.start();
        m_clock = [started] { return started.elapsed(); };
    }
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { tick(m_clock()); });
}

void ReplyPacer::request(quint64 client, int lines, bool joined)
{
    Client &c = m_clients[client];
    c.lines = lines;
    c.joined = joined;
    c.asked = true;
    // Its last reply is on its way: this one follows a check that sees it taken.
    if (c.taking)
        return;
    const qint64 now = m_clock();
    const qint64 at = dueAt(c);
    if (at <= now)
        deliver(client, now);
    else
        wakeAt(at, now);
}

void ReplyPacer::roomChanged()
{
    if (!m_settings.live)
        return;
    ++m_revision;
    // A round in the next turn: the rest of a burst joins it.
    const qint64 now = m_clock();
    wakeAt(now, now);
}

void ReplyPacer::remove(quint64 client)
{
    const auto it = m_clients.constFind(client);
    if (it == m_clients.cend())
        return;
    m_roundBytes -= it->replyBytes;
    m_clients.erase(it);
}

qint64 ReplyPacer::pushIntervalMs() const
{
    return std::max<qint64>(m_settings.gapMs,
                            m_roundBytes * MsPerSecond / m_settings.pushBytesPerSecond);
}

qint64 ReplyPacer::dueAt(const Client &client) const
{
    const qint64 gapOver = client.takenAt + m_settings.gapMs;
    if (client.asked)
        return gapOver;
    if (client.joined && client.shownRevision < m_revision)
        return std::max(gapOver, client.pushedAt + pushIntervalMs());
    return Never;
}

void ReplyPacer::tick(qint64 now)
{
    m_timer.stop();
    m_wakeAt = Never;
    checkTakes(now);
    QList<quint64> due;
    qint64 next = std::numeric_limits<qint64>::max();
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->taking) {
            next = std::min(next, it->checkAt);
            continue;
        }
        const qint64 at = dueAt(*it);
        if (at == Never)
            continue;
        if (at <= now)
            due.append(it.key());
        else
            next = std::min(next, at);
    }
    const auto deliveries = [&] {
        // A write can end a connection, and with it remove its client.
        for (quint64 id : std::as_const(due)) {
            if (m_clients.contains(id))
                deliver(id, now);
        }
    };
    if (m_roundScope)
        m_roundScope(deliveries);
    else
        deliveries();
    if (next != std::numeric_limits<qint64>::max())
        wakeAt(next, now);
}

void ReplyPacer::deliver(quint64 id, qint64 now)
{
    Client &c = m_clients[id];
    if (!c.asked)
        c.pushedAt = now;
    c.asked = false;
    c.takenAt = now;
    c.taking = bool(m_untaken);
    c.checkAt = now + TakeCheckMs;
    c.shownRevision = m_revision;
    if (c.taking)
        wakeAt(c.checkAt, now);
    const qint64 bytes = m_writer(id, c.lines);
    const auto it = m_clients.find(id);
    if (it != m_clients.end()) {
        m_roundBytes += bytes - it->replyBytes;
        it->replyBytes = bytes;
    }
}

void ReplyPacer::checkTakes(qint64 now)
{
    QList<quint64> check;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->taking && it->checkAt <= now)
            check.append(it.key());
    }
    for (quint64 id : std::as_const(check)) {
        // Asking can end a connection that takes nothing, and remove it.
        const qint64 untaken = m_untaken(id);
        const auto it = m_clients.find(id);
        if (it == m_clients.end())
            continue;
        // Taken at most one check ago: the gap errs long, never short.
        it->taking = untaken > 0;
        it->takenAt = now;
        it->checkAt = now + TakeCheckMs;
    }
}

void ReplyPacer::wakeAt(qint64 at, qint64 now)
{
    if (m_timer.isActive() && m_wakeAt <= at)
        return;
    m_wakeAt = at;
    m_timer.start(int(std::clamp<qint64>(at - now, 0, std::numeric_limits<int>::max())));
}

#include "replypacer.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
constexpr qint64 MsPerSecond = 1000;
} // namespace

ReplyPacer::ReplyPacer(const Settings &settings, Writer writer, Clock clock, QObject *parent)
    : QObject(parent), m_settings(settings), m_writer(std::move(writer)), m_clock(std::move(clock))
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

void ReplyPacer::setHost(quint64 client, const QString &host)
{
    Client &c = m_clients[client];
    const bool joined = c.joined;
    setJoined(c, false);
    c.host = host;
    setJoined(c, joined);
}

void ReplyPacer::setJoined(Client &client, bool joined)
{
    if (client.joined == joined)
        return;
    client.joined = joined;
    Host &host = m_hosts[client.host];
    host.members += joined ? 1 : -1;
    if (host.members <= 0)
        m_hosts.remove(client.host);
}

void ReplyPacer::request(quint64 client, int lines, bool joined)
{
    Client &c = m_clients[client];
    c.lines = lines;
    setJoined(c, joined);
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
    const auto it = m_clients.find(client);
    if (it == m_clients.end())
        return;
    setJoined(*it, false);
    m_clients.erase(it);
}

qint64 ReplyPacer::durationMs(qint64 bytes, qint64 share) const
{
    return bytes * share * MsPerSecond / m_settings.pushBytesPerSecond;
}

qint64 ReplyPacer::dueAt(const Client &client) const
{
    const qint64 gapOver = client.takenAt + m_settings.gapMs;
    // Never answered and no gap: due at once, which is not "none due".
    if (client.asked)
        return std::max(gapOver, Never + 1);
    if (client.joined && client.shownRevision < m_revision)
        return std::max(gapOver, m_hosts.value(client.host).freeAt);
    return Never;
}

void ReplyPacer::tick(qint64 now)
{
    m_timer.stop();
    m_wakeAt = Never;
    checkTakes(now);
    QList<QPair<qint64, quint64>> due; // due time, client
    qint64 next = std::numeric_limits<qint64>::max();
    ++m_round;
    m_waitingHosts = 0;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it->taking) {
            next = std::min(next, it->checkAt);
            continue;
        }
        const qint64 at = dueAt(*it);
        if (at == Never)
            continue;
        if (!it->asked) {
            Host &host = m_hosts[it->host];
            m_waitingHosts += std::exchange(host.waitingIn, m_round) != m_round;
        }
        if (at <= now)
            due.append({at, it.key()});
        else
            next = std::min(next, at);
    }
    // Longest waiting first: a client whose address had to wait is not
    // passed by those that come due after it.
    std::sort(due.begin(), due.end());
    const auto deliveries = [&] {
        for (const auto &[at, id] : std::as_const(due)) {
            // A write can end a connection, and with it remove its client.
            const auto it = m_clients.constFind(id);
            if (it == m_clients.cend())
                continue;
            // An address that just pushed may have used its share up.
            const qint64 again = dueAt(*it);
            if (!it->asked && (again > now || m_pushFreeAt > now + BurstMs)) {
                next = std::min(next, std::max(again, m_pushFreeAt - BurstMs));
                continue;
            }
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
    const Client before = m_clients.value(id);
    const bool push = !before.asked;
    const qint64 bytes = m_writer(id, before.lines);
    if (bytes == Later) {
        // Still due: offered again in a while.
        wakeAt(now + TakeCheckMs, now);
        return;
    }
    // A write can end a connection, and with it remove its client.
    const auto c = m_clients.find(id);
    if (c != m_clients.end()) {
        c->asked = false;
        c->takenAt = now;
        c->taking = bool(m_untaken);
        c->checkAt = now + TakeCheckMs;
        c->shownRevision = m_revision;
        if (c->taking)
            wakeAt(c->checkAt, now);
    }
    if (!push)
        return;
    const QString &host = before.host;
    // The address pays for its push at its share of the budget, among those
    // with pushes waiting now: alone it has the whole; one that has paid for
    // much while alone holds up only itself when others come. The whole
    // budget spaces pushes, but one large push holds up the rest only so long.
    const auto it = m_hosts.find(host);
    if (it != m_hosts.end())
        it->freeAt =
                std::max(now, it->freeAt) + durationMs(bytes, std::max<qsizetype>(1, m_waitingHosts));
    m_pushFreeAt = std::min(std::max(now, m_pushFreeAt) + durationMs(bytes, 1), now + MaxDebtMs);
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

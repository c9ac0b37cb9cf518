#include "postbudget.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
constexpr double MsPerMinute = 60 * 1000;
// Addresses kept past a prune before the next one: they are few, and a full
// bucket is the same as none.
constexpr qsizetype HostsSlack = 64;
} // namespace

PostBudget::PostBudget(Clock clock) : m_clock(std::move(clock))
{
    if (!m_clock) {
        QElapsedTimer started;
        started.start();
        m_clock = [started] { return started.elapsed(); };
    }
}

PostBudget::Rates PostBudget::rates(int factor) const
{
    const double posts = double(m_limits.postsPerMinute) * factor;
    const double bytes = double(m_limits.bytesPerMinute) * factor;
    // Never less than one post in a bucket, or a low limit would allow none.
    return {posts, bytes, std::max(1.0, posts / BurstDivisor), bytes / BurstDivisor};
}

bool PostBudget::refill(Bucket &bucket, int factor, qint64 now) const
{
    const auto [posts, bytes, postsFull, bytesFull] = rates(factor);
    if (bucket.fresh) {
        bucket = {postsFull, bytesFull, now, false};
    } else {
        const double minutes = double(std::max<qint64>(0, now - bucket.at)) / MsPerMinute;
        bucket.posts = std::min(postsFull, bucket.posts + posts * minutes);
        bucket.bytes = std::min(bytesFull, bucket.bytes + bytes * minutes);
        bucket.at = now;
    }
    // Bytes may go below zero: a long line still passes when any are left,
    // and what it overdrew is paid back before the next.
    return (posts <= 0 || bucket.posts >= 1) && (bytes <= 0 || bucket.bytes > 0);
}

bool PostBudget::take(quint64 member, const QString &host, qint64 bytes)
{
    if (m_limits.postsPerMinute <= 0 && m_limits.bytesPerMinute <= 0)
        return true;
    const qint64 now = m_clock();
    Bucket &mine = m_members[member];
    if (!refill(mine, 1, now))
        return false;
    Bucket *shared = nullptr;
    if (m_limits.hostFactor > 0) {
        pruneHosts(now);
        shared = &m_hosts[host];
        if (!refill(*shared, m_limits.hostFactor, now))
            return false;
    }
    for (Bucket *bucket : {&mine, shared}) {
        if (bucket) {
            bucket->posts -= 1;
            bucket->bytes -= double(bytes);
        }
    }
    return true;
}

void PostBudget::pruneHosts(qint64 now)
{
    if (m_hosts.size() < m_hostsAfterPrune + HostsSlack)
        return;
    m_hosts.removeIf([&](QHash<QString, Bucket>::iterator it) {
        Bucket refilled = it.value();
        refill(refilled, m_limits.hostFactor, now);
        const Rates full = rates(m_limits.hostFactor);
        return refilled.posts >= full.postsFull && refilled.bytes >= full.bytesFull;
    });
    m_hostsAfterPrune = m_hosts.size();
}

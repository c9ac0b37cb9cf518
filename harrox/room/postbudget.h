#pragma once

#include <QHash>
#include <QString>

#include <functional>

// How much one member, and one address, may post: token buckets of posts and
// of bytes, refilled over a minute. The defaults are far above what a person
// types or pastes; they stop a script that would fill the disk or push the
// conversation off every screen. A rename counts as a post.
class PostBudget
{
public:
    static constexpr int DefaultPostsPerMinute = 60;
    static constexpr qint64 DefaultBytesPerMinute = 1024 * 1024;
    // An address is shared by a few people (a terminal server, a NAT router).
    static constexpr int DefaultHostFactor = 4;
    // A full bucket holds a third of a minute: 20 posts at once, then one a
    // second.
    static constexpr int BurstDivisor = 3;

    struct Limits
    {
        int postsPerMinute = DefaultPostsPerMinute; // 0: posts are not counted
        qint64 bytesPerMinute = DefaultBytesPerMinute; // 0: bytes are not counted
        int hostFactor = DefaultHostFactor; // an address's budget in members'; 0: none
    };
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;

    explicit PostBudget(Clock clock = {});
    void setLimits(const Limits &limits) { m_limits = limits; }
    const Limits &limits() const { return m_limits; }

    // Takes one post of so many bytes from the member's and its address's
    // buckets; false, taking nothing, when either is short.
    bool take(quint64 member, const QString &host, qint64 bytes);
    void forget(quint64 member) { m_members.remove(member); }

private:
    struct Bucket
    {
        double posts = 0;
        double bytes = 0;
        qint64 at = 0;
        bool fresh = true;
    };

    struct Rates
    {
        double posts, bytes; // a minute's
        double postsFull, bytesFull; // a full bucket's
    };
    Rates rates(int factor) const;
    // Refills to now; false when a post cannot be taken.
    bool refill(Bucket &bucket, int factor, qint64 now) const;
    void pruneHosts(qint64 now);

    Clock m_clock;
    Limits m_limits;
    QHash<quint64, Bucket> m_members;
    QHash<QString, Bucket> m_hosts;
    qsizetype m_hostsAfterPrune = 0;
};

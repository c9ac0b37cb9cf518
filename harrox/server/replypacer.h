#pragma once

#include "wire/chatprotocol.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <limits>

// Every reply of the server goes out through here. A client may take a
// reply as whole once its connection has been quiet for a while, so two
// replies to one client are never closer than the gap on the wire: the gap
// counts from when the client has taken the previous reply (every byte of it
// acknowledged), not from when it was written, since on a slow or lossy link
// a reply is still arriving long after. A reply asked for meanwhile waits,
// and further requests in that time are answered by the same reply
// (rendered when sent, it shows everything they would).
//
// Live delivery: each change of the room bumps a revision; a joined client
// whose last reply showed an older one gets a push with the line count of
// its latest request. A reply carries the whole member list, so pushes keep
// within a byte budget, shared equally by the addresses that have pushes
// waiting: an address alone has all of it, and an address whose members take
// large replies waits for its own share and never for the others'. Pushes
// leave one after another at the budget's pace rather than all in one turn,
// so that requests are answered between them; a large room falls back
// toward polling instead of flooding the LAN.
class ReplyPacer : public QObject
{
    Q_OBJECT

public:
    // About 32 Mbit/s: a third of a 100 Mbit LAN at most goes to pushes, and
    // a reply of ten 64 KB lines takes 0.15 s of it.
    static constexpr qint64 DefaultPushBytesPerSecond = 4 * 1024 * 1024;

    struct Settings
    {
        int gapMs = ChatProtocol::ReplyGapMs;
        qint64 pushBytesPerSecond = DefaultPushBytesPerSecond;
        bool live = true;
    };
    // Writes the client's reply of so many lines now; returns its bytes, or
    // Later when there is no room for it yet: it is offered again shortly.
    using Writer = std::function<qint64(quint64 client, int lines)>;
    static constexpr qint64 Later = -1;
    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;
    // Bytes of the client's replies it has not taken yet; 0 when it has all.
    using Untaken = std::function<qint64(quint64 client)>;
    // How often a reply on its way is looked at: the gap may grow by this.
    static constexpr qint64 TakeCheckMs = 20;

    // Runs the deliveries of one round, so that their sends can leave together.
    using RoundScope = std::function<void(const std::function<void()> &deliveries)>;

    explicit ReplyPacer(const Settings &settings, Writer writer, Clock clock = {},
                        QObject *parent = nullptr);
    void setRoundScope(RoundScope scope) { m_roundScope = std::move(scope); }
    // Without it a reply counts as taken once written.
    void setUntaken(Untaken untaken) { m_untaken = std::move(untaken); }

    // The client's address: its members share a part of the push budget.
    void setHost(quint64 client, const QString &host);
    // The client asked; joined: it is a member now, so it gets pushes.
    void request(quint64 client, int lines, bool joined);
    // The conversation or the member list changed.
    void roomChanged();
    void remove(quint64 client);
    // Sends what is due and sets the timer for what is not yet.
    void tick(qint64 now);

    // Pushes that fall due together leave within this of each other; a
    // larger one holds up the next no longer than the debt.
    static constexpr qint64 BurstMs = 20;
    static constexpr qint64 MaxDebtMs = 100;

private:
    static constexpr qint64 Never = std::numeric_limits<qint64>::min() / 2;

    struct Client
    {
        qint64 takenAt = Never;
        qint64 checkAt = Never; // while taking: when to look again
        QString host;
        quint64 shownRevision = 0;
        int lines = ChatProtocol::DefaultLineCount;
        bool asked = false;
        bool joined = false;
        bool taking = false; // its last reply is still on its way
    };

    struct Host
    {
        int members = 0; // joined clients
        qint64 freeAt = Never; // when its share allows the next push
        quint64 waitingIn = 0; // the last round in which it had a push waiting
    };

    // When the client's next reply may go, or Never when none is due; not
    // asked while its last reply is on its way.
    qint64 dueAt(const Client &client) const;
    void deliver(quint64 id, qint64 now);
    void setJoined(Client &client, bool joined);
    // Milliseconds that bytes take at a rate of the budget divided by share.
    qint64 durationMs(qint64 bytes, qint64 share) const;
    // Looks whether the clients whose check is due have taken their replies.
    void checkTakes(qint64 now);
    void wakeAt(qint64 at, qint64 now);

    Settings m_settings;
    Writer m_writer;
    Clock m_clock;
    RoundScope m_roundScope;
    Untaken m_untaken;
    QTimer m_timer;
    qint64 m_wakeAt = Never;
    QHash<quint64, Client> m_clients;
    QHash<QString, Host> m_hosts; // of joined clients
    quint64 m_revision = 0;
    quint64 m_round = 0;
    qsizetype m_waitingHosts = 1; // addresses with a push waiting this round
    qint64 m_pushFreeAt = Never; // when the whole budget allows the next push
};

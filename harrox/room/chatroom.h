#pragma once

#include "conversation.h"
#include "memberlist.h"
#include "memberobserver.h"
#include "postbudget.h"
#include "request.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

// What the server does with a request, apart from the sockets. The reply,
// the members and the last lines of the conversation, is rendered by reply()
// when it is sent, so that one that waited shows the room as it is then.
class ChatRoom
{
public:
    enum class Effect {
        Answered, // refresh, or a request that changed nothing
        Joined,
        Renamed,
        Posting, // store outcome.message, then addStored() it and reply
        NotJoined, // a message from a connection that has not joined
        OverBudget, // a post or rename past the sender's budget: nothing changed
    };

    struct Outcome
    {
        Effect effect = Effect::Answered;
        StoredMessage message; // for Posting
    };

    // Ends the reply to a post that could not be stored, before the message
    // itself: only its sender sees it, and can copy the text back.
    static constexpr QStringView NotStoredNotice = u"（保存できなかったため送信されていません）";
    // The same for a post or rename past its sender's budget.
    static constexpr QStringView OverBudgetNotice = u"（短い時間に送りすぎたため送信されていません）";
    // What the reply cache holds at most by default: a few renders of the
    // longest conversation a reply can carry.
    static constexpr qint64 DefaultCacheBytes = 64 * 1024 * 1024;

    explicit ChatRoom(Conversation &conversation, PostBudget::Clock clock = {});

    // peer is the connection's real address, kept with posted messages. A
    // message is not shown until it is stored: the caller stores it (off the
    // event loop's thread) and then calls addStored().
    Outcome handle(quint64 connection, const Request &request, const QDateTime &now,
                   const QString &peer);
    void addStored(const StoredMessage &message) { m_conversation.add(message); }
    // Returns false when the connection had not joined.
    bool leave(quint64 connection);

    const MemberList &members() const { return m_members; }
    // Servers sharing the conversation: who is told of our members, and theirs.
    void setObserver(MemberObserver *observer) { m_observer = observer; }
    void setOthers(const QList<OtherMember> &others) { m_members.setOthers(others); }
    PostBudget &budget() { return m_budget; }
    // notice: a line for the sender alone (a notice and its text), if any.
    // Rendered once for each state of the room and line count, and shared by
    // every client that asks for the same: a reply carries the whole member
    // list, and a push goes to every member. The renders kept together stay
    // within the cache's bytes; a larger one is made for its reply alone.
    QByteArray reply(int lines, const QString &notice = {}) const;
    // The memory reply() would take anew: 0 for a render kept already.
    qsizetype replyCost(int lines, bool withNotice) const;
    void setCacheBytes(qint64 bytes) { m_cacheBytes = bytes; }

private:
    // Line counts kept at once; a client asking for ever other counts cannot
    // make the cache grow past this.
    static constexpr qsizetype CachedReplies = 16;

    QByteArray render(qsizetype lines) const;
    // Forgets the renders made before the room last changed.
    void dropStaleReplies() const;

    Conversation &m_conversation;
    MemberList m_members;
    mutable QHash<qsizetype, QByteArray> m_replies;
    mutable qint64 m_repliesBytes = 0;
    qint64 m_cacheBytes = DefaultCacheBytes;
    PostBudget m_budget;
    mutable quint64 m_repliesMembers = 0;
    mutable quint64 m_repliesConversation = 0;
    MemberObserver *m_observer = nullptr;
};

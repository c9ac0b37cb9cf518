#include "chatroom.h"

#include "wire/cp932.h"

#include <algorithm>

ChatRoom::ChatRoom(Conversation &conversation, PostBudget::Clock clock)
    : m_conversation(conversation), m_budget(std::move(clock))
{
}

ChatRoom::Outcome ChatRoom::handle(quint64 connection, const Request &request, const QDateTime &now,
                                   const QString &peer)
{
    Outcome outcome;
    const QString host = peer.left(peer.lastIndexOf(QLatin1Char(':')));
    // A joined member's post or rename spends its budget; a first join does not.
    if (request.verb != Request::Verb::Refresh && m_members.contains(connection)
        && !m_budget.take(connection, host, request.payload.size())) {
        outcome.effect = Effect::OverBudget;
        return outcome;
    }
    switch (request.verb) {
    case Request::Verb::Join: {
        outcome.effect =
                m_members.join(connection, request.text(), host) ? Effect::Joined : Effect::Renamed;
        if (m_observer)
            m_observer->memberShown(connection, m_members.nameOf(connection), host);
        break;
    }
    case Request::Verb::Message:
        if (!m_members.contains(connection)) {
            outcome.effect = Effect::NotJoined;
            break;
        }
        outcome.effect = Effect::Posting;
        outcome.message = {now, m_members.nameOf(connection), MemberList::cleanText(request.text()),
                           peer};
        return outcome;
    case Request::Verb::Refresh:
        break;
    }
    return outcome;
}

bool ChatRoom::leave(quint64 connection)
{
    m_budget.forget(connection);
    const bool left = m_members.remove(connection);
    if (left && m_observer)
        m_observer->memberLeft(connection);
    return left;
}

void ChatRoom::dropStaleReplies() const
{
    if (m_repliesMembers != m_members.revision()
        || m_repliesConversation != m_conversation.revision()) {
        m_replies.clear();
        m_repliesBytes = 0;
        m_repliesMembers = m_members.revision();
        m_repliesConversation = m_conversation.revision();
    }
}

qsizetype ChatRoom::replyCost(int lines, bool withNotice) const
{
    const qsizetype shown = std::clamp<qsizetype>(lines, 0, m_conversation.lineCount());
    dropStaleReplies();
    // A notice is appended to a copy.
    if (!withNotice && m_replies.contains(shown))
        return 0;
    return m_members.render().size() + ChatProtocol::Bytes::ReplySeparator.size()
            + m_conversation.recentBytes(int(shown));
}

QByteArray ChatRoom::reply(int lines, const QString &notice) const
{
    const qsizetype shown = std::clamp<qsizetype>(lines, 0, m_conversation.lineCount());
    dropStaleReplies();
    QByteArray text = m_replies.value(shown);
    if (text.isNull()) {
        text = render(shown);
        if (text.size() <= m_cacheBytes) {
            if (m_replies.size() >= CachedReplies || m_repliesBytes + text.size() > m_cacheBytes) {
                m_replies.clear();
                m_repliesBytes = 0;
            }
            m_replies.insert(shown, text);
            m_repliesBytes += text.size();
        }
    }
    if (notice.isEmpty())
        return text;
    text.append(Cp932::encode(notice)).append("\r\n");
    return text;
}

QByteArray ChatRoom::render(qsizetype lines) const
{
    const QByteArray members = m_members.render();
    const QByteArray conversation = m_conversation.recent(int(lines));
    QByteArray text;
    text.reserve(members.size() + ChatProtocol::Bytes::ReplySeparator.size() + conversation.size());
    text.append(members).append(ChatProtocol::Bytes::ReplySeparator).append(conversation);
    return text;
}

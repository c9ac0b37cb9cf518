#include "chatroom.h"

#include "wire/cp932.h"

#include <algorithm>

ChatRoom::ChatRoom(Conversation &conversation)
    : m_conversation(conversation)
{
}

ChatRoom::Outcome ChatRoom::handle(quint64 connection, const Request &request,
                                   const QDateTime &now, const QString &peer)
{
    Outcome outcome;
    switch (request.verb) {
    case Request::Verb::Join: {
        const QString host = peer.left(peer.lastIndexOf(QLatin1Char(':')));
        outcome.effect = m_members.join(connection, request.text(), host) ? Effect::Joined
                                                                           : Effect::Renamed;
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
    const bool left = m_members.remove(connection);
    if (left && m_observer)
        m_observer->memberLeft(connection);
    return left;
}

QByteArray ChatRoom::reply(int lines, const QString &unstored) const
{
    const qsizetype shown = std::clamp<qsizetype>(lines, 0, m_conversation.lineCount());
    if (m_repliesMembers != m_members.revision()
        || m_repliesConversation != m_conversation.revision()
        || m_replies.size() >= CachedReplies) {
        m_replies.clear();
        m_repliesMembers = m_members.revision();
        m_repliesConversation = m_conversation.revision();
    }
    auto cached = m_replies.constFind(shown);
    if (cached == m_replies.cend())
        cached = m_replies.insert(shown, render(shown));
    if (unstored.isEmpty())
        return *cached;
    QByteArray text = *cached;
    if (shown > 0)
        text.append("\r\n");
    text.append(Cp932::encode(NotStoredNotice.toString() + unstored));
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

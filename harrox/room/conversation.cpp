#include "conversation.h"

#include "memberlist.h"
#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <algorithm>

namespace {
constexpr QByteArrayView LineEnd = ChatProtocol::Bytes::ReplyLineEnd;
} // namespace

Conversation::Conversation(const QList<StoredMessage> &history)
{
    for (const StoredMessage &message : history)
        add(message);
}

QByteArray Conversation::recent(int count) const
{
    const qsizetype shown = std::min<qsizetype>(std::max(count, 0), lineCount());
    const auto first = m_lines.end() - shown;
    QByteArray text;
    text.reserve(recentBytes(count));
    for (auto it = first; it != m_lines.end(); ++it)
        text.append(*it).append(LineEnd);
    return text;
}

qsizetype Conversation::recentBytes(int count) const
{
    const qsizetype shown = std::min<qsizetype>(std::max(count, 0), lineCount());
    qsizetype size = 0;
    for (auto it = m_lines.end() - shown; it != m_lines.end(); ++it)
        size += it->size() + LineEnd.size();
    return size;
}

QString Conversation::formatLine(const StoredMessage &message)
{
    // Local time of the server: everyone on the LAN shares it.
    const QString time = message.postedAt.toLocalTime().toString(QStringLiteral("MM/dd HH:mm"));
    // Rows stored before names and bodies were cleaned are cleaned here.
    return MemberList::cleanText(QStringLiteral("%1 %2> %3").arg(time, message.name, message.body));
}

void Conversation::add(const StoredMessage &message)
{
    // Rows reach us both as our own acknowledged posts and from the shared
    // store's feed; whichever comes second is skipped.
    if (message.id != 0) {
        if (message.id <= m_lastId)
            return;
        m_lastId = message.id;
    }
    ++m_revision;
    m_lines.push_back(Cp932::encode(formatLine(message)));
    if (m_lines.size() > size_t(KeptLines))
        m_lines.pop_front();
}

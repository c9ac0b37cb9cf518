#pragma once

#include "conversationstore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <deque>

// The conversation as replies show it: the recent lines, already encoded,
// kept in memory so that answering never reads the database; every new line
// goes to the store first.
class Conversation
{
public:
    static constexpr int KeptLines = 1000;

    explicit Conversation(ConversationStore &store);

    // False (and nothing shown) when the store could not keep the message.
    bool post(const StoredMessage &message);

    // The last count lines, oldest first, CRLF between them, CP932.
    QByteArray recent(int count) const;
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    QString errorString() const { return m_store.errorString(); }

    static QString formatLine(const StoredMessage &message);

private:
    void keep(const StoredMessage &message);

    ConversationStore &m_store;
    std::deque<QByteArray> m_lines;
};

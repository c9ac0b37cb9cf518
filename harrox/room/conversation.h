#pragma once

#include "storedmessage.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>

// The conversation as replies show it: the recent lines, already encoded,
// kept in memory so that answering never reads the database. Only lines
// that are stored already are added.
class Conversation
{
public:
    static constexpr int KeptLines = 1000;

    // history: the last stored messages, oldest first.
    explicit Conversation(const QList<StoredMessage> &history = {});

    // A message with an id at or below the last one added is shown already.
    void add(const StoredMessage &message);

    // The last count lines, oldest first, each ended by CRLF, CP932.
    QByteArray recent(int count) const;
    // The size of recent(count), without making it.
    qsizetype recentBytes(int count) const;
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    // Changes with every line added.
    quint64 revision() const { return m_revision; }
    qint64 lastId() const { return m_lastId; }

    static QString formatLine(const StoredMessage &message);

private:
    std::deque<QByteArray> m_lines;
    quint64 m_revision = 0;
    qint64 m_lastId = 0;
};

#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct StoredMessage
{
    QDateTime postedAt;
    QString name;
    QString body;
    QString peer; // the sender's real address
};

// Where the conversation outlives the process.
class ConversationStore
{
public:
    virtual ~ConversationStore() = default;

    // Returns only once the message is durable; false if it is not.
    virtual bool append(const StoredMessage &message) = 0;
    // The last count messages, oldest first.
    virtual QList<StoredMessage> recent(int count) = 0;
    virtual QString errorString() const = 0;
};

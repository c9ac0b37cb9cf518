#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

struct StoredMessage
{
    QDateTime postedAt;
    QString name;
    QString body;
    QString peer; // the sender's real address
};

// Crosses threads on its way to the store.
Q_DECLARE_METATYPE(StoredMessage)

// Where the conversation outlives the process.
class ConversationStore
{
public:
    virtual ~ConversationStore() = default;

    // Returns only once all the messages are durable; all or none.
    virtual bool append(const QList<StoredMessage> &messages) = 0;
    // The last count messages, oldest first.
    virtual QList<StoredMessage> recent(int count) = 0;
    virtual QString errorString() const = 0;
};

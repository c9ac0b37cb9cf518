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
    qint64 id = 0; // the store's row: rising in the order the rows were stored
};

// Crosses threads on its way to the store.
Q_DECLARE_METATYPE(StoredMessage)

// Where the conversation outlives the process.
class ConversationStore
{
public:
    virtual ~ConversationStore() = default;

    // Returns only once all the messages are durable; all or none. Sets
    // each message's id.
    virtual bool append(QList<StoredMessage> &messages) = 0;
    // The last count messages, oldest first.
    virtual QList<StoredMessage> recent(int count) = 0;
    virtual QString errorString() const = 0;
};

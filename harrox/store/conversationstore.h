#pragma once

#include "storedmessage.h"

#include <QList>
#include <QString>

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
    // Removes up to rows of the oldest messages: those posted before
    // postedBefore (when valid), or any while the store takes more than
    // keepBytes (when above 0, and where the store can tell). Returns how
    // many went, -1 on a failure.
    virtual int removeOldest(const QDateTime &postedBefore, qint64 keepBytes, int rows)
    {
        Q_UNUSED(postedBefore)
        Q_UNUSED(keepBytes)
        Q_UNUSED(rows)
        return 0;
    }
    virtual QString errorString() const = 0;
};

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
    virtual QString errorString() const = 0;
};

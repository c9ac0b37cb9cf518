#pragma once

#include "conversationstore.h"

#include <QList>
#include <QObject>
#include <QPair>

// Stores posted messages on its own thread, so that a disk sync never holds
// up the replies to everyone else. Messages that arrive while a sync runs
// are stored together in the next transaction.
class StoreWriter : public QObject
{
    Q_OBJECT

public:
    // The store is used only from this object's thread from now on.
    explicit StoreWriter(ConversationStore &store, QObject *parent = nullptr);

    // Queues a message; stored() follows once it is durable (or failed).
    void write(quint64 ticket, const StoredMessage &message);
    // Stores everything queued; for shutdown, through a blocking call.
    void drain();

signals:
    void stored(quint64 ticket, const StoredMessage &message, bool ok, const QString &error);

private:
    ConversationStore &m_store;
    QList<QPair<quint64, StoredMessage>> m_pending;
    bool m_drainQueued = false;
};

#include "storewriter.h"

StoreWriter::StoreWriter(ConversationStore &store, QObject *parent)
    : QObject(parent), m_store(store) { }

void StoreWriter::write(quint64 ticket, const StoredMessage &message)
{
    m_pending.append({ticket, message});
    if (m_drainQueued)
        return;
    // Drain after the writes already queued behind this one: they share a
    // transaction.
    m_drainQueued = true;
    QMetaObject::invokeMethod(this, &StoreWriter::drain, Qt::QueuedConnection);
}

void StoreWriter::drain()
{
    m_drainQueued = false;
    if (m_pending.isEmpty())
        return;
    const QList<QPair<quint64, StoredMessage>> batch = std::exchange(m_pending, {});
    QList<StoredMessage> messages;
    messages.reserve(batch.size());
    for (const auto &entry : batch)
        messages.append(entry.second);
    const bool ok = m_store.append(messages);
    const QString error = ok ? QString() : m_store.errorString();
    for (qsizetype i = 0; i < batch.size(); ++i)
        emit stored(batch[i].first, messages[i], ok, error);
}

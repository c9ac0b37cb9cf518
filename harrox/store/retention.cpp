#include "retention.h"

#include "conversationstore.h"

Retention::Retention(ConversationStore &store, const Settings &settings, QObject *parent)
    : QObject(parent), m_store(store), m_settings(settings)
{
}

void Retention::sweep(const QDateTime &now)
{
    if (!enabled() || std::exchange(m_running, true))
        return;
    m_cutoff = m_settings.keepDays > 0 ? now.addMSecs(-m_settings.keepDays * MsPerDay) : QDateTime();
    m_removed = 0;
    step();
}

void Retention::step()
{
    const int removed = m_store.removeOldest(m_cutoff, m_settings.keepBytes, BatchRows);
    if (removed > 0)
        m_removed += removed;
    if (removed == BatchRows) {
        // Queued behind the posts that wait: they go first.
        QMetaObject::invokeMethod(this, &Retention::step, Qt::QueuedConnection);
        return;
    }
    m_running = false;
    if (removed < 0)
        qWarning("old messages not removed: %s", qUtf8Printable(m_store.errorString()));
    if (m_removed > 0)
        qInfo("%lld old messages removed (--keep-days, --keep-mib)", qlonglong(m_removed));
    emit swept(m_removed);
}

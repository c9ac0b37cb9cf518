#pragma once

#include <QDateTime>
#include <QObject>

class ConversationStore;

// Old messages leave the database in the background, a small batch at a
// time: each batch is a short transaction of its own, and the posts that
// came meanwhile are stored between two batches, so none waits long.
class Retention : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatchRows = 256;
    static constexpr qint64 MsPerDay = 24 * 3600 * 1000;

    struct Settings
    {
        int keepDays = 0; // 0: however old
        qint64 keepBytes = 0; // 0: however large
    };

    // Lives on the store's thread and uses the store there.
    Retention(ConversationStore &store, const Settings &settings, QObject *parent = nullptr);
    bool enabled() const { return m_settings.keepDays > 0 || m_settings.keepBytes > 0; }

    // Removes what is older or more than kept, batch after batch; a sweep
    // asked for while one runs is left to it.
    void sweep(const QDateTime &now);

signals:
    // The sweep is over: so many messages went.
    void swept(qint64 removed);

private:
    void step();

    ConversationStore &m_store;
    Settings m_settings;
    QDateTime m_cutoff;
    qint64 m_removed = 0;
    bool m_running = false;
};

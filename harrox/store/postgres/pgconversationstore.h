#pragma once

#include "backoff.h"
#include "conversationstore.h"
#include "pgconnection.h"

#include <QElapsedTimer>

#include <atomic>
#include <functional>

// The conversation in PostgreSQL, shared by every server pointed at it.
// Rows are numbered in commit order: each post takes an advisory lock before
// its insert and holds it to the commit, so that a reader of "rows after id"
// never passes a row still to come. The commit notifies the other servers
// with the id. After its own commit the store reads every row since the last
// it saw, others' included, so that a server shows its sender the
// conversation in the same order as everyone else.
class PgConversationStore : public ConversationStore
{
public:
    // Rows committed since the last call, oldest first; on the store's thread.
    using RowsHandler = std::function<void(const QList<StoredMessage> &rows)>;

    // keyPrefix: unique to this process, so that a retried post is told apart
    // from every other. timeoutMs: the most a post waits for its answer, the
    // lock and the commit included; refused after it.
    PgConversationStore(const QString &conninfo, const QString &keyPrefix, int timeoutMs);

    bool isOpen() const { return m_db.isOpen(); }
    // From any thread: a post under way, or any later, gives up within this.
    void stopWithin(int ms) { m_db.stopWithin(ms); }
    void setRowsHandler(RowsHandler handler) { m_rows = std::move(handler); }
    // The last row handed to the rows handler; read from any thread.
    const std::atomic<qint64> &delivered() const { return m_delivered; }

    bool append(QList<StoredMessage> &messages) override;
    QList<StoredMessage> recent(int count) override;
    // By age, and by what the rows hold (estimated: the table's size on disk
    // does not shrink as rows go, it keeps their room for new ones).
    int removeOldest(const QDateTime &postedBefore, qint64 keepBytes, int rows) override;
    // A row's header, id, time and index entries beside its texts.
    static constexpr qint64 RowOverheadBytes = 64;
    QString errorString() const override { return m_error; }

    // The statements and reading of rows, shared with the feed and the import.
    static void prepareMessages(PgConnection &db);
    static QList<StoredMessage> rowsOf(const PgResult &result);

private:
    enum class Attempt { Stored, Refused, Lost };

    Attempt tryAppend(QList<StoredMessage> &messages, const QList<QByteArray> &keys);
    bool reconnect();

    PgConnection m_db;
    QString m_keyPrefix;
    quint64 m_nextKey = 0;
    qint64 m_seen = 0;
    std::atomic<qint64> m_delivered{0};
    RowsHandler m_rows;
    QString m_error;
    QElapsedTimer m_sinceFailure;
    // After a failed reconnect, posts are refused without trying for a while.
    BackOff m_backOff;
};

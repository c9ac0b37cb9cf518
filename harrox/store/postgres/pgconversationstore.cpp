#include "pgconversationstore.h"

#include "conversation.h"
#include "pgschema.h"
#include "storelog.h"

#include <QScopeGuard>

#include <limits>

// The columns every read of rows returns, in rowsOf()'s order.
#define HARROX_ROW_COLUMNS "id, posted_at, name, body, peer"

PgConversationStore::PgConversationStore(const QString &conninfo, const QString &keyPrefix,
                                         int timeoutMs)
    : m_db(conninfo, timeoutMs), m_keyPrefix(keyPrefix)
{
    prepareMessages(m_db);
    m_db.prepare("post_lock",
                 "SELECT pg_advisory_xact_lock(" + QByteArray::number(PgSchema::PostLock) + ")");
    m_db.prepare("post_notify", "SELECT pg_notify('harrox_messages', $1)");
    m_db.prepare("old_remove",
                 "DELETE FROM messages WHERE id IN (SELECT id FROM messages ORDER BY id LIMIT $1)"
                 " AND posted_at < $2 RETURNING id");
    // What the rows hold, from the id range (deletions only take the oldest)
    // and the size of the newest: cheap at any size, where the table's own
    // size keeps the room of deleted rows for new ones and never shrinks.
    const QByteArray rowBytes = "octet_length(name) + octet_length(body) + octet_length(peer)"
                                " + octet_length(coalesce(post_key, ''))";
    m_db.prepare("old_size",
                 "SELECT (max(id) - min(id) + 1) * (SELECT coalesce(avg(" + rowBytes + "), 0) + "
                         + QByteArray::number(RowOverheadBytes)
                         + " FROM (SELECT name, body, peer, post_key FROM messages"
                           " ORDER BY id DESC LIMIT 1000) newest)::bigint FROM messages");
    if (!PgSchema::upgrade(conninfo, &m_error, timeoutMs))
        return;
    if (!m_db.open())
        m_error = m_db.errorString();
}

void PgConversationStore::prepareMessages(PgConnection &db)
{
    // ON CONFLICT: a post retried after its commit's outcome was lost is
    // found, not stored twice.
    db.prepare("post_insert",
               "INSERT INTO messages (posted_at, name, body, peer, post_key)"
               " VALUES ($1, $2, $3, $4, $5) ON CONFLICT (post_key) DO NOTHING RETURNING id");
    db.prepare("post_find", "SELECT id FROM messages WHERE post_key = $1");
    db.prepare("rows_since",
               "SELECT " HARROX_ROW_COLUMNS " FROM (SELECT " HARROX_ROW_COLUMNS " FROM messages"
               " WHERE id > $1 ORDER BY id DESC LIMIT $2) AS latest ORDER BY id");
}

QList<StoredMessage> PgConversationStore::rowsOf(const PgResult &result)
{
    QList<StoredMessage> rows;
    rows.reserve(result.rows());
    for (int row = 0; row < result.rows(); ++row) {
        rows.append({QDateTime::fromMSecsSinceEpoch(result.int64(row, 1), Qt::UTC), result.text(row, 2),
                     result.text(row, 3), result.text(row, 4), result.int64(row, 0)});
    }
    return rows;
}

bool PgConversationStore::reconnect()
{
    if (m_backOff.ms() > 0 && m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_backOff.ms())
        return false;
    if (m_db.open()) {
        m_backOff.reset();
        qCInfo(lcStore, "database reachable again for posts");
        return true;
    }
    m_error = m_db.errorString();
    m_backOff.failed();
    m_sinceFailure.start();
    return false;
}

bool PgConversationStore::append(QList<StoredMessage> &messages)
{
    if (messages.isEmpty())
        return true;
    QList<QByteArray> keys;
    keys.reserve(messages.size());
    for (qsizetype i = 0; i < messages.size(); ++i)
        keys.append((m_keyPrefix + QLatin1Char(':') + QString::number(m_nextKey++)).toUtf8());
    // A connection found broken is opened again once, and the same posts
    // with the same keys tried again: each lands at most once. All within
    // one bound, so that a hung database costs a post its timeout only.
    m_db.setDeadline(m_db.timeoutMs());
    const auto unbounded = qScopeGuard([this] { m_db.setDeadline(-1); });
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_db.isOpen() && !reconnect()) {
            m_error = QStringLiteral("database not reachable: %1").arg(m_error);
            return false;
        }
        switch (tryAppend(messages, keys)) {
        case Attempt::Stored:
            return true;
        case Attempt::Refused:
            return false;
        case Attempt::Lost:
            m_db.close();
            break;
        }
    }
    return false;
}

PgConversationStore::Attempt PgConversationStore::tryAppend(QList<StoredMessage> &messages,
                                                            const QList<QByteArray> &keys)
{
    const auto failed = [this] {
        m_error = m_db.errorString();
        if (m_db.lost())
            return Attempt::Lost;
        m_db.exec("ROLLBACK");
        return Attempt::Refused;
    };
    if (!m_db.exec("BEGIN").ok() || !m_db.run("post_lock").ok())
        return failed();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const StoredMessage &m = messages[i];
        PgResult inserted = m_db.run("post_insert",
                                     {QByteArray::number(m.postedAt.toMSecsSinceEpoch()),
                                      m.name.toUtf8(), m.body.toUtf8(), m.peer.toUtf8(), keys[i]});
        if (inserted.ok() && inserted.rows() == 0)
            inserted = m_db.run("post_find", {keys[i]});
        if (!inserted.ok() || inserted.rows() != 1)
            return failed();
        messages[i].id = inserted.int64(0, 0);
    }
    // Delivered at the commit, and only then: the id, never the text, which
    // may be longer than a notification can carry.
    if (!m_db.run("post_notify", {QByteArray::number(messages.constLast().id)}).ok()
        || !m_db.exec("COMMIT").ok())
        return failed();
    // Stored. What came before it, others' posts included, goes to the room
    // first; if that read fails the feed brings the rows.
    const PgResult since = m_db.run(
            "rows_since", {QByteArray::number(m_seen), QByteArray::number(Conversation::KeptLines)});
    if (since.ok() && since.rows() > 0) {
        const QList<StoredMessage> rows = rowsOf(since);
        m_seen = rows.constLast().id;
        if (m_rows) {
            m_rows(rows);
            m_delivered.store(m_seen);
        }
    }
    return Attempt::Stored;
}

QList<StoredMessage> PgConversationStore::recent(int count)
{
    const PgResult result = m_db.run("rows_since", {"0", QByteArray::number(count)});
    if (!result.ok()) {
        m_error = m_db.errorString();
        return {};
    }
    QList<StoredMessage> rows = rowsOf(result);
    if (!rows.isEmpty())
        m_seen = std::max(m_seen, rows.constLast().id);
    return rows;
}

int PgConversationStore::removeOldest(const QDateTime &postedBefore, qint64 keepBytes, int rows)
{
    constexpr qint64 None = std::numeric_limits<qint64>::min();
    constexpr qint64 All = std::numeric_limits<qint64>::max();
    qint64 before = postedBefore.isValid() ? postedBefore.toMSecsSinceEpoch() : None;
    if (before == None && keepBytes <= 0)
        return 0;
    if (!m_db.isOpen() && !reconnect())
        return -1;
    if (keepBytes > 0) {
        const PgResult used = m_db.run("old_size", {});
        if (!used.ok()) {
            m_error = m_db.errorString();
            return -1;
        }
        if (used.int64(0, 0) > keepBytes)
            before = All;
    }
    if (before == None)
        return 0;
    const PgResult removed =
            m_db.run("old_remove", {QByteArray::number(rows), QByteArray::number(before)});
    if (!removed.ok()) {
        m_error = m_db.errorString();
        return -1;
    }
    return removed.rows();
}

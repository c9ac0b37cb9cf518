#include "sqliteconversationstore.h"

#include "sqliteschema.h"
#include "sqlitestatement.h"


#include <sqlite3.h>

namespace {
// Another process holding a lock (a backup, the sqlite3 shell) is waited for.
constexpr int BusyTimeoutMs = 5000;
} // namespace

SqliteConversationStore::SqliteConversationStore(const QString &path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        m_error = QStringLiteral("cannot open %1: %2")
                      .arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        return;
    }
    if (!configure()) {
        m_begin.reset();
        m_commit.reset();
        m_rollback.reset();
        m_insert.reset();
        m_recent.reset();
    }
}

SqliteConversationStore::~SqliteConversationStore()
{
    m_begin.reset();
    m_commit.reset();
    m_rollback.reset();
    m_insert.reset();
    m_recent.reset();
    sqlite3_close_v2(m_db);
}

bool SqliteConversationStore::configure()
{
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    for (const char *pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"}) {
        SqliteStatement statement(m_db, pragma);
        if (!statement.isValid() || !statement.run()) {
            m_error = QStringLiteral("%1: %2").arg(QString::fromUtf8(pragma),
                                                   statement.errorString());
            return false;
        }
    }
    if (!SqliteSchema::upgrade(m_db, &m_error))
        return false;

    m_begin = std::make_unique<SqliteStatement>(m_db, "BEGIN IMMEDIATE");
    m_commit = std::make_unique<SqliteStatement>(m_db, "COMMIT");
    m_rollback = std::make_unique<SqliteStatement>(m_db, "ROLLBACK");
    m_insert = std::make_unique<SqliteStatement>(
        m_db, "INSERT INTO messages (posted_at, name, body, peer) VALUES (?1, ?2, ?3, ?4)");
    m_recent = std::make_unique<SqliteStatement>(
        m_db, "SELECT posted_at, name, body, peer FROM"
              " (SELECT id, posted_at, name, body, peer FROM messages ORDER BY id DESC LIMIT ?1)"
              " ORDER BY id ASC");
    if (!m_begin->isValid() || !m_commit->isValid() || !m_rollback->isValid()
        || !m_insert->isValid() || !m_recent->isValid()) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

bool SqliteConversationStore::append(const QList<StoredMessage> &messages)
{
    if (!isOpen())
        return false;
    // One transaction, so one sync for all the messages that came together.
    bool ok = m_begin->run();
    for (qsizetype i = 0; ok && i < messages.size(); ++i) {
        const StoredMessage &message = messages[i];
        m_insert->bind(1, message.postedAt.toMSecsSinceEpoch());
        m_insert->bind(2, message.name);
        m_insert->bind(3, message.body);
        m_insert->bind(4, message.peer);
        ok = m_insert->run();
    }
    // With synchronous=FULL the rows are on disk when COMMIT is done.
    if (ok && m_commit->run())
        return true;
    m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (!sqlite3_get_autocommit(m_db))
        m_rollback->run();
    return false;
}

QList<StoredMessage> SqliteConversationStore::recent(int count)
{
    QList<StoredMessage> messages;
    if (!m_recent)
        return messages;
    m_recent->bind(1, qint64(count));
    while (m_recent->nextRow()) {
        messages.append({QDateTime::fromMSecsSinceEpoch(m_recent->int64At(0), Qt::UTC),
                         m_recent->textAt(1), m_recent->textAt(2), m_recent->textAt(3)});
    }
    if (m_recent->failed())
        m_error = m_recent->errorString();
    m_recent->reset();
    return messages;
}

#include "sqliteconversationstore.h"

#include "sqliteschema.h"
#include "sqlitestatement.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <limits>

namespace {
// Another process holding a lock (a backup, the sqlite3 shell) is waited for.
constexpr int BusyTimeoutMs = 5000;
// quick_check lists up to 100 faults; the first few tell enough for a log line.
constexpr int MaxDetailChars = 200;

// Gives file the name target where nothing has it yet, a dangling link
// included; a file system without RENAME_NOREPLACE does the same with link().
bool giveName(const QByteArray &file, const QByteArray &target)
{
    if (::renameat2(AT_FDCWD, file.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    return errno == EINVAL && ::link(file.constData(), target.constData()) == 0;
}
} // namespace

SqliteConversationStore::SqliteConversationStore(const QString &path) : m_path(path)
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        m_error =
                QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
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

bool SqliteConversationStore::backup(const QString &path, const QString &target, QString *error)
{
    sqlite3 *db = nullptr;
    // Never creates the source: a mistyped path is an error, not an empty copy.
    bool ok = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr)
            == SQLITE_OK;
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    // Into a file of our own making beside the target, then given the
    // target's name only where nothing has it: a link planted there in a
    // shared folder is neither followed nor replaced.
    QByteArray temporary = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ok ? ::mkostemp(temporary.data(), O_CLOEXEC) : -1;
    if (ok && fd < 0) {
        ok = false;
        *error = qt_error_string(errno);
    }
    if (ok) {
        ::close(fd);
        sqlite3_busy_timeout(db, BusyTimeoutMs);
        SqliteStatement vacuum(db, "VACUUM INTO ?1");
        vacuum.bind(1, QFile::decodeName(temporary));
        ok = vacuum.isValid() && vacuum.run();
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        if (ok && !giveName(temporary, QFile::encodeName(target))) {
            ok = false;
            *error = errno == EEXIST ? QStringLiteral("%1 exists already").arg(target)
                                     : qt_error_string(errno);
        }
        // Renamed, linked or failed: the temporary name goes.
        ::unlink(temporary.constData());
    }
    sqlite3_close_v2(db);
    return ok;
}

QString SqliteConversationStore::damaged(const QString &detail) const
{
    return QStringLiteral("database %1 is damaged (%2): not serving it; restore the last backup "
                          "(made with harrox --backup) to this path, owned by the server's user, then "
                          "start again")
            .arg(m_path, detail.simplified().left(MaxDetailChars));
}

QString SqliteConversationStore::notWritable(const QString &detail) const
{
    return QStringLiteral("database %1 cannot be written (%2): give the server's user write "
                          "access to the file and its folder, then start again")
            .arg(m_path, detail);
}

QString SqliteConversationStore::refusal(const QString &detail) const
{
    switch (sqlite3_errcode(m_db) & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return damaged(detail);
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return notWritable(detail);
    default:
        return detail;
    }
}

bool SqliteConversationStore::quickCheck()
{
    SqliteStatement check(m_db, "PRAGMA quick_check");
    if (!check.nextRow()) {
        m_error = refusal(check.errorString());
        return false;
    }
    const QString verdict = check.textAt(0);
    if (verdict == QLatin1String("ok"))
        return true;
    m_error = damaged(QStringLiteral("quick_check: ") + verdict);
    return false;
}

bool SqliteConversationStore::probeWrite()
{
    // A real write, so that a file or folder we cannot write is found now and
    // not at the first post: rewriting the schema version changes nothing.
    const QByteArray rewrite =
            "PRAGMA user_version = " + QByteArray::number(SqliteSchema::LatestVersion);
    for (const char *sql : {"BEGIN IMMEDIATE", rewrite.constData(), "COMMIT"}) {
        SqliteStatement statement(m_db, sql);
        if (!statement.isValid() || !statement.run()) {
            m_error = refusal(statement.errorString());
            if (!sqlite3_get_autocommit(m_db))
                SqliteStatement(m_db, "ROLLBACK").run();
            return false;
        }
    }
    return true;
}

bool SqliteConversationStore::configure()
{
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    if (!quickCheck())
        return false;
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        m_error = notWritable(QStringLiteral("opened read-only"));
        return false;
    }
    for (const char *pragma : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"}) {
        SqliteStatement statement(m_db, pragma);
        if (!statement.isValid() || !statement.run()) {
            m_error = refusal(
                    QStringLiteral("%1: %2").arg(QString::fromUtf8(pragma), statement.errorString()));
            return false;
        }
    }
    if (!SqliteSchema::upgrade(m_db, &m_error)) {
        m_error = refusal(m_error);
        return false;
    }
    if (!probeWrite())
        return false;

    m_begin = std::make_unique<SqliteStatement>(m_db, "BEGIN IMMEDIATE");
    m_commit = std::make_unique<SqliteStatement>(m_db, "COMMIT");
    m_rollback = std::make_unique<SqliteStatement>(m_db, "ROLLBACK");
    m_insert = std::make_unique<SqliteStatement>(
            m_db, "INSERT INTO messages (posted_at, name, body, peer) VALUES (?1, ?2, ?3, ?4)");
    m_recent = std::make_unique<SqliteStatement>(
            m_db,
            "SELECT posted_at, name, body, peer, id FROM"
            " (SELECT id, posted_at, name, body, peer FROM messages ORDER BY id DESC LIMIT ?1)"
            " ORDER BY id ASC");
    if (!m_begin->isValid() || !m_commit->isValid() || !m_rollback->isValid() || !m_insert->isValid()
        || !m_recent->isValid()) {
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

bool SqliteConversationStore::append(QList<StoredMessage> &messages)
{
    if (!isOpen())
        return false;
    // One transaction, so one sync for all the messages that came together.
    bool ok = m_begin->run();
    for (qsizetype i = 0; ok && i < messages.size(); ++i) {
        StoredMessage &message = messages[i];
        m_insert->bind(1, message.postedAt.toMSecsSinceEpoch());
        m_insert->bind(2, message.name);
        m_insert->bind(3, message.body);
        m_insert->bind(4, message.peer);
        ok = m_insert->run();
        message.id = sqlite3_last_insert_rowid(m_db);
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
                         m_recent->textAt(1), m_recent->textAt(2), m_recent->textAt(3),
                         m_recent->int64At(4)});
    }
    if (m_recent->failed())
        m_error = m_recent->errorString();
    m_recent->reset();
    return messages;
}

qint64 SqliteConversationStore::usedBytes()
{
    SqliteStatement used(m_db,
                         "SELECT (page_count - freelist_count) * page_size"
                         " FROM pragma_page_count(), pragma_freelist_count(), pragma_page_size()");
    return used.nextRow() ? used.int64At(0) : -1;
}

int SqliteConversationStore::removeOldest(const QDateTime &postedBefore, qint64 keepBytes, int rows)
{
    if (!isOpen())
        return -1;
    const bool tooLarge = keepBytes > 0 && usedBytes() > keepBytes;
    if (!tooLarge && !postedBefore.isValid())
        return 0;
    // Among the oldest rows by id only: the scan ends after one batch, however
    // large the table, and a clock set back cannot make it remove new rows.
    SqliteStatement remove(m_db,
                           "DELETE FROM messages WHERE id IN"
                           " (SELECT id FROM messages ORDER BY id LIMIT ?1) AND posted_at < ?2");
    remove.bind(1, qint64(rows));
    remove.bind(2, tooLarge ? std::numeric_limits<qint64>::max() : postedBefore.toMSecsSinceEpoch());
    if (!remove.isValid() || !remove.run()) {
        m_error = remove.errorString();
        return -1;
    }
    return sqlite3_changes(m_db);
}

#pragma once

#include "conversationstore.h"

#include <memory>

struct sqlite3;
class SqliteStatement;

// The conversation in an SQLite file: WAL with synchronous=FULL, so a
// message is on disk when append() returns, even if the process is killed
// right after.
class SqliteConversationStore : public ConversationStore
{
public:
    explicit SqliteConversationStore(const QString &path);
    ~SqliteConversationStore() override;
    SqliteConversationStore(const SqliteConversationStore &) = delete;
    SqliteConversationStore &operator=(const SqliteConversationStore &) = delete;

    // Copies the database at path, also while a server writes it, to a new
    // file target: a consistent snapshot that opens as a database of its own.
    static bool backup(const QString &path, const QString &target, QString *error);

    bool isOpen() const { return m_insert && m_recent && m_begin && m_commit && m_rollback; }

    bool append(QList<StoredMessage> &messages) override;
    QList<StoredMessage> recent(int count) override;
    int removeOldest(const QDateTime &postedBefore, qint64 keepBytes, int rows) override;
    // The pages in use, free pages (what was removed) not counted.
    qint64 usedBytes();
    QString errorString() const override { return m_error; }

private:
    bool configure();
    // Why the database is refused, and what to do about it.
    QString damaged(const QString &detail) const;
    QString notWritable(const QString &detail) const;
    QString refusal(const QString &detail) const;
    bool quickCheck();
    bool probeWrite();

    QString m_path;
    sqlite3 *m_db = nullptr;
    std::unique_ptr<SqliteStatement> m_begin;
    std::unique_ptr<SqliteStatement> m_commit;
    std::unique_ptr<SqliteStatement> m_rollback;
    std::unique_ptr<SqliteStatement> m_insert;
    std::unique_ptr<SqliteStatement> m_recent;
    QString m_error;
};

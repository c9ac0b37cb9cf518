#pragma once

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// A prepared statement, finalized with its owner. Values only ever reach
// SQLite through bind().
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    void bind(int index, qint64 value);
    void bind(int index, const QString &value);

    // Steps once: true while a row is available.
    bool nextRow();
    // Steps to the end and resets; false on an error.
    bool run();
    void reset();
    bool failed() const { return m_failed; }
    QString errorString() const;

    qint64 int64At(int column) const;
    QString textAt(int column) const;

private:
    sqlite3 *m_db;
    sqlite3_stmt *m_statement = nullptr;
    bool m_failed = false;
};

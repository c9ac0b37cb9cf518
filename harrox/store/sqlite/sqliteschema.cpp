#include "sqliteschema.h"

#include "sqlitestatement.h"

#include <array>

namespace {

// Step N brings the database from version N-1 to N. Append only.
constexpr std::array<const char *, SqliteSchema::LatestVersion> Steps = {
        // 1: the conversation, one row a message.
        "CREATE TABLE messages ("
        " id INTEGER PRIMARY KEY,"
        " posted_at INTEGER NOT NULL," // ms since the epoch, UTC
        " name TEXT NOT NULL,"
        " body TEXT NOT NULL)",
        // 2: who really sent it, whatever name was given.
        "ALTER TABLE messages ADD COLUMN peer TEXT NOT NULL DEFAULT ''",
};

// user_version takes no bound parameter; the statements are fixed texts.
constexpr std::array<const char *, SqliteSchema::LatestVersion> SetVersion = {
        "PRAGMA user_version = 1",
        "PRAGMA user_version = 2",
};

bool execute(sqlite3 *db, const char *sql, QString *error)
{
    SqliteStatement statement(db, sql);
    if (statement.isValid() && statement.run())
        return true;
    *error = QStringLiteral("%1: %2").arg(QString::fromUtf8(sql), statement.errorString());
    return false;
}

} // namespace

int SqliteSchema::version(sqlite3 *db)
{
    SqliteStatement statement(db, "PRAGMA user_version");
    return statement.nextRow() ? int(statement.int64At(0)) : -1;
}

bool SqliteSchema::upgrade(sqlite3 *db, QString *error, int target)
{
    const int current = version(db);
    if (current < 0) {
        *error = QStringLiteral("cannot read the schema version");
        return false;
    }
    if (current > LatestVersion) {
        *error = QStringLiteral("the database has schema version %1, newer than this server's %2")
                         .arg(current)
                         .arg(LatestVersion);
        return false;
    }
    for (int step = current + 1; step <= target && step <= LatestVersion; ++step) {
        if (!execute(db, "BEGIN IMMEDIATE", error))
            return false;
        if (!execute(db, Steps[step - 1], error) || !execute(db, SetVersion[step - 1], error)) {
            QString ignored;
            execute(db, "ROLLBACK", &ignored);
            return false;
        }
        if (!execute(db, "COMMIT", error))
            return false;
    }
    return true;
}

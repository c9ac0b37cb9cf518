#pragma once

#include <QString>

struct sqlite3;

// The database layout, reached in numbered steps recorded in user_version.
// Each step runs in its own transaction, so an interrupted upgrade resumes.
class SqliteSchema
{
public:
    static constexpr int LatestVersion = 2;

    // Runs the steps after the database's version up to target.
    static bool upgrade(sqlite3 *db, QString *error, int target = LatestVersion);
    static int version(sqlite3 *db);
};

#pragma once

#include <QString>

// Moves a conversation kept by a single server in SQLite into PostgreSQL,
// in one transaction, in its order. Each row carries a key made of its id
// and its content, so that importing the same file again, or a later copy
// of it, adds only the rows not there yet.
class PgImport
{
public:
    // report: what was done, or why nothing was.
    static bool run(const QString &sqlitePath, const QString &conninfo, QString *report);
};

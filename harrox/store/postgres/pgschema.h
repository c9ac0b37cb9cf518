#pragma once

#include <QString>

// The PostgreSQL layout, reached in numbered steps recorded in
// harrox_schema. Servers starting together take turns through an advisory
// lock; each step runs in its own transaction.
class PgSchema
{
public:
    static constexpr int LatestVersion = 2;
    // The advisory locks of harrox: the schema, and the order of posts.
    static constexpr qint64 SchemaLock = 0x4861727230;
    static constexpr qint64 PostLock = 0x4861727231;

    // Connects on its own for the upgrade, and leaves when it is done;
    // timeoutMs as for PgConnection.
    static bool upgrade(const QString &conninfo, QString *error, int timeoutMs = 0);
};

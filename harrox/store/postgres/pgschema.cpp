#include "pgschema.h"

#include "pgconnection.h"

#include <array>

namespace {

// Step N brings the database from version N-1 to N. Append only.
constexpr std::array<const char *, PgSchema::LatestVersion> Steps = {
        // 1: the conversation. post_key tells a retried post from a new one.
        "CREATE TABLE messages ("
        " id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
        " posted_at bigint NOT NULL," // ms since the epoch, UTC
        " name text NOT NULL,"
        " body text NOT NULL,"
        " peer text NOT NULL DEFAULT '',"
        " post_key text UNIQUE)",
        // 2: the servers, each with its heartbeat, and the members each holds.
        "CREATE TABLE servers ("
        " id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
        " label text NOT NULL,"
        " beat timestamptz NOT NULL DEFAULT now());"
        "CREATE TABLE members ("
        " server_id bigint NOT NULL REFERENCES servers ON DELETE CASCADE,"
        " connection bigint NOT NULL,"
        " seq bigint GENERATED ALWAYS AS IDENTITY,"
        " name text NOT NULL,"
        " host text NOT NULL,"
        " PRIMARY KEY (server_id, connection))",
};

bool execute(PgConnection &db, const char *sql, QString *error)
{
    if (db.exec(sql).ok())
        return true;
    *error = db.errorString();
    return false;
}

} // namespace

bool PgSchema::upgrade(const QString &conninfo, QString *error, int timeoutMs)
{
    PgConnection db(conninfo, timeoutMs);
    if (!db.open()) {
        *error = db.errorString();
        return false;
    }
    const QByteArray lock = "SELECT pg_advisory_xact_lock(" + QByteArray::number(SchemaLock) + ")";
    const auto inTransaction = [&](const auto &work) {
        if (!execute(db, "BEGIN", error))
            return false;
        if (!execute(db, lock.constData(), error) || !work()) {
            QString ignored;
            execute(db, "ROLLBACK", &ignored);
            return false;
        }
        return execute(db, "COMMIT", error);
    };
    if (!inTransaction([&] {
            return execute(db, "CREATE TABLE IF NOT EXISTS harrox_schema (version integer NOT NULL)",
                           error)
                    && execute(db,
                               "INSERT INTO harrox_schema SELECT 0"
                               " WHERE NOT EXISTS (SELECT 1 FROM harrox_schema)",
                               error);
        }))
        return false;
    for (bool done = false; !done;) {
        const bool ok = inTransaction([&] {
            const PgResult current = db.exec("SELECT version FROM harrox_schema");
            if (!current.ok() || current.rows() != 1) {
                *error = db.errorString();
                return false;
            }
            const int version = int(current.int64(0, 0));
            if (version > LatestVersion) {
                *error = QStringLiteral("the database has schema version %1, newer than this "
                                        "server's %2")
                                 .arg(version)
                                 .arg(LatestVersion);
                return false;
            }
            done = version == LatestVersion;
            return done
                    || (execute(db, Steps[size_t(version)], error)
                        && execute(db, "UPDATE harrox_schema SET version = version + 1", error));
        });
        if (!ok)
            return false;
    }
    return true;
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>

#include <libpq-fe.h>

// One result of a statement, freed with its owner.
class PgResult
{
public:
    explicit PgResult(PGresult *result = nullptr) : m_result(result, PQclear) { }

    bool ok() const;
    int rows() const { return m_result ? PQntuples(m_result.get()) : 0; }
    QString text(int row, int column) const;
    qint64 int64(int row, int column) const;

private:
    std::unique_ptr<PGresult, void (*)(PGresult *)> m_result;
};

// A libpq connection whose statements are prepared anew on each (re)connect.
// Values only ever reach the server as bound parameters. Nothing here waits
// without a bound: a database or a path to it that hangs costs a call its
// timeout, after which the connection is closed (the database ends what the
// session left open), never a thread.
class PgConnection
{
public:
    // A connection attempt gives up after this, so that a host that went
    // away holds nobody up for long.
    static constexpr int ConnectTimeoutSeconds = 3;
    // A peer silent this long on an idle connection is dead: keepalives
    // after 5 s, every 2 s, three missed; data unacknowledged for 10 s.
    static constexpr int KeepAliveIdleSeconds = 5;
    static constexpr int KeepAliveIntervalSeconds = 2;
    static constexpr int KeepAliveProbes = 3;
    static constexpr int UserTimeoutMs = 10000;

    // What a log may say of a connection string: its host, database and
    // user, never a password or whatever else it holds.
    static QString shown(const QString &conninfo);

    // timeoutMs: the most one call may wait for the database, which is also
    // told to end a statement after it, a lock wait after half of it and a
    // transaction left idle after a quarter (a session of ours never idles
    // in one: a frozen peer's lock is freed). 0: no bound (the import).
    explicit PgConnection(QString conninfo, int timeoutMs = 0);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Remembered; prepared by every open().
    void prepare(const QByteArray &name, const QByteArray &sql);
    // Connects (again), sets the session's bounds and prepares the statements.
    bool open();
    void close();
    bool isOpen() const;
    // The connection broke: what was sent may or may not have been done.
    bool lost() const;

    // Every value is text, never NULL: an empty QString is an empty text.
    PgResult run(const QByteArray &name, const QList<QByteArray> &parameters = {});
    // A fixed text with no values in it: schema steps, transaction control.
    PgResult exec(const char *sql);

    // Calls until the next setDeadline() give up by msFromNow at the latest
    // (-1: only the timeout bounds them): a post's whole answer.
    void setDeadline(int msFromNow);
    // From any thread: this call and every later one give up within
    // msFromNow. For stopping whatever the database does.
    void stopWithin(int msFromNow);

    QString errorString() const { return m_error; }
    PGconn *handle() const { return m_conn; }
    int timeoutMs() const { return m_timeoutMs; }
    // What the session is told at each connect.
    QByteArray sessionSettings() const;

private:
    PgResult checked(PGresult *result);
    PgResult answer(bool sent);
    bool connectBounded();
    bool waitFor(short events);
    PgResult broken();
    void startCall(qint64 boundMs);

    QString m_conninfo;
    int m_timeoutMs;
    PGconn *m_conn = nullptr;
    QList<QPair<QByteArray, QByteArray>> m_statements;
    QString m_error;
    // Steady-clock milliseconds; -1: none.
    qint64 m_callEnd = -1;
    qint64 m_deadline = -1;
    std::atomic<qint64> m_stopAt{-1};
    int m_wake = -1;
};

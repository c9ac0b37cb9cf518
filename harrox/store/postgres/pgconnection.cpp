#include "pgconnection.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <climits>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

bool failed(const PGresult *result)
{
    const ExecStatusType status = PQresultStatus(result);
    return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
}

// The earlier of two moments, -1 being none.
qint64 earlier(qint64 a, qint64 b)
{
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}
} // namespace

QString PgConnection::shown(const QString &conninfo)
{
    const QByteArray text = conninfo.toUtf8();
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.constData(), &error);
    // Its message may quote the string, so it is not shown either.
    PQfreemem(error);
    if (!options) {
        // A bare word is a database name to libpq; anything else unreadable
        // may hold a password.
        const bool name = !text.contains('=') && !text.contains(' ') && !text.contains("://");
        return name ? QStringLiteral("dbname=%1").arg(conninfo)
                    : QStringLiteral("a connection string libpq cannot read");
    }
    QStringList parts;
    for (const char *key : {"host", "hostaddr", "dbname", "user"}) {
        for (const PQconninfoOption *option = options; option->keyword; ++option) {
            if (qstrcmp(option->keyword, key) == 0 && option->val && *option->val)
                parts.append(QStringLiteral("%1=%2").arg(QLatin1String(key),
                                                         QString::fromUtf8(option->val)));
        }
    }
    PQconninfoFree(options);
    return parts.isEmpty() ? QStringLiteral("libpq's defaults") : parts.join(u' ');
}

bool PgResult::ok() const
{
    return m_result && !failed(m_result.get());
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result.get(), row, column),
                             PQgetlength(m_result.get(), row, column));
}

qint64 PgResult::int64(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result.get(), row, column)).toLongLong();
}

PgConnection::PgConnection(QString conninfo, int timeoutMs)
    : m_conninfo(std::move(conninfo)),
      m_timeoutMs(timeoutMs),
      m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

PgConnection::~PgConnection()
{
    close();
    if (m_wake >= 0)
        ::close(m_wake);
}

void PgConnection::prepare(const QByteArray &name, const QByteArray &sql)
{
    m_statements.append({name, sql});
}

QByteArray PgConnection::sessionSettings() const
{
    // "Answered only after its commit" must not depend on the database's
    // defaults.
    QByteArray sql = "SET synchronous_commit = on";
    if (m_timeoutMs > 0) {
        sql += "; SET statement_timeout = " + QByteArray::number(m_timeoutMs)
                + "; SET lock_timeout = " + QByteArray::number(std::max(1, m_timeoutMs / 2))
                + "; SET idle_in_transaction_session_timeout = "
                + QByteArray::number(std::max(1, m_timeoutMs / 4));
    }
    return sql;
}

bool PgConnection::open()
{
    close();
    startCall(qint64(ConnectTimeoutSeconds) * 1000);
    if (!connectBounded()) {
        close();
        return false;
    }
    // Never blocks on a full socket: every wait is ours, with its bound.
    PQsetnonblocking(m_conn, 1);
    // Notices ("already exists, skipping") are no news to anyone.
    PQsetNoticeProcessor(
            m_conn, [](void *, const char *) {}, nullptr);
    if (!exec(sessionSettings().constData()).ok()) {
        close();
        return false;
    }
    for (const auto &[name, sql] : std::as_const(m_statements)) {
        startCall(m_timeoutMs);
        if (!m_conn
            || !answer(PQsendPrepare(m_conn, name.constData(), sql.constData(), 0, nullptr)).ok()) {
            close();
            return false;
        }
    }
    return true;
}

bool PgConnection::connectBounded()
{
    // The given string is expanded last, so its own settings win.
    const QByteArray conninfo = m_conninfo.toUtf8();
    const QByteArray timeout = QByteArray::number(ConnectTimeoutSeconds);
    const QByteArray idle = QByteArray::number(KeepAliveIdleSeconds);
    const QByteArray interval = QByteArray::number(KeepAliveIntervalSeconds);
    const QByteArray probes = QByteArray::number(KeepAliveProbes);
    const QByteArray userTimeout = QByteArray::number(UserTimeoutMs);
    const char *keywords[] = {"connect_timeout",  "application_name",
                              "client_encoding",  "keepalives",
                              "keepalives_idle",  "keepalives_interval",
                              "keepalives_count", "tcp_user_timeout",
                              "dbname",           nullptr};
    const char *values[] = {timeout.constData(),
                            "harrox",
                            "UTF8",
                            "1",
                            idle.constData(),
                            interval.constData(),
                            probes.constData(),
                            userTimeout.constData(),
                            conninfo.constData(),
                            nullptr};
    m_conn = PQconnectStartParams(keywords, values, 1);
    if (!m_conn) {
        m_error = QStringLiteral("out of memory");
        return false;
    }
    for (PostgresPollingStatusType status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK;
         status = PQconnectPoll(m_conn)) {
        if (status == PGRES_POLLING_FAILED || PQstatus(m_conn) == CONNECTION_BAD) {
            m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
            return false;
        }
        if (!waitFor(status == PGRES_POLLING_READING ? POLLIN : POLLOUT))
            return false;
    }
    return true;
}

void PgConnection::close()
{
    // Non-blocking by now: the goodbye is not waited for.
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::isOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

bool PgConnection::lost() const
{
    return !isOpen();
}

void PgConnection::setDeadline(int msFromNow)
{
    m_deadline = msFromNow < 0 ? -1 : nowMs() + msFromNow;
}

void PgConnection::stopWithin(int msFromNow)
{
    m_stopAt.store(nowMs() + msFromNow);
    if (m_wake >= 0)
        ::eventfd_write(m_wake, 1);
}

void PgConnection::startCall(qint64 boundMs)
{
    m_callEnd = boundMs > 0 ? nowMs() + boundMs : -1;
    m_error.clear();
}

PgResult PgConnection::run(const QByteArray &name, const QList<QByteArray> &parameters)
{
    if (!m_conn) {
        m_error = QStringLiteral("not connected to the database");
        return PgResult();
    }
    QList<const char *> values;
    values.reserve(parameters.size());
    for (const QByteArray &p : parameters)
        values.append(p.isNull() ? "" : p.constData());
    startCall(m_timeoutMs);
    return answer(PQsendQueryPrepared(m_conn, name.constData(), int(values.size()), values.constData(),
                                      nullptr, nullptr, 0));
}

PgResult PgConnection::exec(const char *sql)
{
    if (!m_conn) {
        m_error = QStringLiteral("not connected to the database");
        return PgResult();
    }
    startCall(m_timeoutMs);
    return answer(PQsendQuery(m_conn, sql));
}

bool PgConnection::waitFor(short events)
{
    for (;;) {
        const qint64 end = earlier(earlier(m_callEnd, m_deadline), m_stopAt.load());
        const qint64 left = end < 0 ? -1 : std::max<qint64>(0, end - nowMs());
        if (left == 0) {
            m_error = m_stopAt.load() >= 0 && nowMs() >= m_stopAt.load()
                    ? QStringLiteral("stopping: the database did not answer in time")
                    : QStringLiteral("no answer from the database in time");
            return false;
        }
        pollfd fds[2] = {{PQsocket(m_conn), events, 0}, {m_wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, int(std::min<qint64>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            m_error = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        if (fds[1].revents) {
            eventfd_t ignored;
            ::eventfd_read(m_wake, &ignored);
        }
        if (ready > 0 && fds[0].revents)
            return true;
    }
}

PgResult PgConnection::answer(bool sent)
{
    if (!sent)
        return broken();
    // PQflush: 1 while bytes wait for room; answers read meanwhile.
    for (int pending; (pending = PQflush(m_conn)) != 0;) {
        if (pending < 0 || !waitFor(POLLIN | POLLOUT) || !PQconsumeInput(m_conn))
            return broken();
    }
    // The first error of a text of several statements, else the last result.
    PGresult *kept = nullptr;
    for (;;) {
        while (PQisBusy(m_conn)) {
            if (!waitFor(POLLIN) || !PQconsumeInput(m_conn)) {
                PQclear(kept);
                return broken();
            }
        }
        PGresult *result = PQgetResult(m_conn);
        if (!result)
            break;
        if (kept && failed(kept)) {
            PQclear(result);
            continue;
        }
        PQclear(kept);
        kept = result;
    }
    return checked(kept);
}

PgResult PgConnection::broken()
{
    // Waited out, stopped, or the socket failed: what was sent may or may
    // not be done, and the connection is of no more use.
    if (m_error.isEmpty() || PQstatus(m_conn) == CONNECTION_BAD)
        m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
    close();
    return PgResult();
}

PgResult PgConnection::checked(PGresult *result)
{
    PgResult wrapped(result);
    if (!wrapped.ok()) {
        const char *message = result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn);
        m_error = QString::fromUtf8(message && *message ? message : PQerrorMessage(m_conn)).trimmed();
    }
    return wrapped;
}

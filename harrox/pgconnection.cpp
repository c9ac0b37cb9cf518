#include "pgconnection.h"

bool PgResult::ok() const
{
    const ExecStatusType status = m_result ? PQresultStatus(m_result.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
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

PgConnection::PgConnection(QString conninfo)
    : m_conninfo(std::move(conninfo))
{
}

PgConnection::~PgConnection()
{
    close();
}

void PgConnection::prepare(const QByteArray &name, const QByteArray &sql)
{
    m_statements.append({name, sql});
}

bool PgConnection::open()
{
    close();
    // The given string is expanded last, so its own settings win.
    const QByteArray conninfo = m_conninfo.toUtf8();
    const QByteArray timeout = QByteArray::number(ConnectTimeoutSeconds);
    const char *keywords[] = {"connect_timeout", "application_name", "client_encoding", "dbname", nullptr};
    const char *values[] = {timeout.constData(), "harrox", "UTF8", conninfo.constData(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        m_error = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        close();
        return false;
    }
    // Notices ("already exists, skipping") are no news to anyone.
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
    for (const auto &[name, sql] : std::as_const(m_statements)) {
        if (!checked(PQprepare(m_conn, name.constData(), sql.constData(), 0, nullptr)).ok()) {
            close();
            return false;
        }
    }
    return true;
}

void PgConnection::close()
{
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
    return checked(PQexecPrepared(m_conn, name.constData(), int(values.size()), values.constData(),
                                  nullptr, nullptr, 0));
}

PgResult PgConnection::exec(const char *sql)
{
    if (!m_conn) {
        m_error = QStringLiteral("not connected to the database");
        return PgResult();
    }
    return checked(PQexec(m_conn, sql));
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

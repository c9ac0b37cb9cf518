#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

#include <libpq-fe.h>

// One result of a statement, freed with its owner.
class PgResult
{
public:
    explicit PgResult(PGresult *result = nullptr) : m_result(result, PQclear) {}

    bool ok() const;
    int rows() const { return m_result ? PQntuples(m_result.get()) : 0; }
    QString text(int row, int column) const;
    qint64 int64(int row, int column) const;

private:
    std::unique_ptr<PGresult, void (*)(PGresult *)> m_result;
};

// A libpq connection whose statements are prepared anew on each (re)connect.
// Values only ever reach the server as bound parameters.
class PgConnection
{
public:
    // A connection attempt gives up after this, so that a host that went
    // away holds nobody up for long.
    static constexpr int ConnectTimeoutSeconds = 3;

    explicit PgConnection(QString conninfo);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // Remembered; prepared by every open().
    void prepare(const QByteArray &name, const QByteArray &sql);
    // Connects (again) and prepares the statements.
    bool open();
    void close();
    bool isOpen() const;
    // The connection broke: what was sent may or may not have been done.
    bool lost() const;

    // Every value is text, never NULL: an empty QString is an empty text.
    PgResult run(const QByteArray &name, const QList<QByteArray> &parameters = {});
    // A fixed text with no values in it: schema steps, transaction control.
    PgResult exec(const char *sql);

    QString errorString() const { return m_error; }
    PGconn *handle() const { return m_conn; }

private:
    PgResult checked(PGresult *result);

    QString m_conninfo;
    PGconn *m_conn = nullptr;
    QList<QPair<QByteArray, QByteArray>> m_statements;
    QString m_error;
};

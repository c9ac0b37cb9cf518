#include "destinations/pcipfile.h"

#include "platform/atomicfile.h"

PCIPFile::PCIPFile(QString path) : m_file(std::move(path)) {}

bool PCIPFile::fail(const QString &why)
{
    m_error = why;
    return false;
}

bool PCIPFile::open()
{
    m_error.clear();
    if (m_file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return true;
    const QString readWriteError = m_file.errorString();
    if (m_file.exists() && m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    return fail(QStringLiteral("%1: %2").arg(m_file.fileName(), readWriteError));
}

int PCIPFile::count() const
{
    return int(qMin<qint64>(m_file.size() / PCIPRecord::Length, MaxRecords));
}

bool PCIPFile::read(int n, PCIPRecord &buffer)
{
    buffer.blankTextFields();
    if (n < 1 || n > count())
        return fail(QStringLiteral("%1: no record %2").arg(m_file.fileName()).arg(n));
    if (!m_file.seek(qint64(n - 1) * PCIPRecord::Length))
        return fail(m_file.errorString());
    const QByteArray bytes = m_file.read(PCIPRecord::Length);
    if (bytes.size() != PCIPRecord::Length)
        return fail(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    buffer.fromBytes(bytes);
    return true;
}

bool PCIPFile::write(int n, const PCIPRecord &record)
{
    if (n < 1 || n > MaxRecords)
        return fail(QStringLiteral("%1: no record %2").arg(m_file.fileName()).arg(n));
    if (!m_file.isWritable())
        return fail(QStringLiteral("%1: read-only").arg(m_file.fileName()));
    const QByteArray bytes = record.toBytes();
    if (!m_file.seek(qint64(n - 1) * PCIPRecord::Length)
        || m_file.write(bytes) != bytes.size() || !m_file.flush())
        return fail(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    return true;
}

bool PCIPFile::append(const PCIPRecord &record)
{
    if (m_file.size() / PCIPRecord::Length >= MaxRecords)
        return fail(QStringLiteral("%1: the list is full").arg(m_file.fileName()));
    return write(count() + 1, record);
}

namespace {

bool report(bool ok, const PCIPFile &file, QString *error)
{
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace

bool PCIPFile::readAll(const QString &path, PCIPRecord &buffer, QList<PCIPRecord> &records,
                       QString *error)
{
    records.clear();
    PCIPFile file(path);
    if (!file.open())
        return report(false, file, error);
    const int n = file.count();
    records.reserve(n);
    for (int k = 1; k <= n; ++k) {
        if (!file.read(k, buffer))
            return report(false, file, error);
        records.append(buffer);
    }
    return true;
}

bool PCIPFile::appendTo(const QString &path, const PCIPRecord &record, QString *error)
{
    PCIPFile file(path);
    return report(file.open() && file.append(record), file, error);
}

bool PCIPFile::overwrite(const QString &path, int n, const PCIPRecord &record, QString *error)
{
    PCIPFile file(path);
    return report(file.open() && file.write(n, record), file, error);
}

bool PCIPFile::rewrite(const QString &path, const QList<PCIPRecord> &records, QString *error)
{
    QByteArray bytes;
    const qsizetype n = qMin<qsizetype>(records.size(), MaxRecords);
    bytes.reserve(n * PCIPRecord::Length);
    for (qsizetype k = 0; k < n; ++k)
        bytes += records[k].toBytes();
    return writeFileAtomically(path, bytes, error);
}

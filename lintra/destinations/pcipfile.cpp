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
    if (m_file.open(QIODevice::ReadWrite))
        return true;
    const QString readWriteError = m_file.errorString();
    if (m_file.exists() && m_file.open(QIODevice::ReadOnly))
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

bool PCIPFile::readBytes(const QString &path, QByteArray &bytes, QString *error)
{
    bytes.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool PCIPFile::appendTo(const QString &path, const PCIPRecord &record, QString *error)
{
    QByteArray bytes;
    if (!readBytes(path, bytes, error))
        return false;
    const qint64 count = bytes.size() / PCIPRecord::Length;
    if (count >= MaxRecords) {
        if (error)
            *error = QStringLiteral("%1: the list is full").arg(path);
        return false;
    }
    bytes.truncate(count * PCIPRecord::Length);
    bytes += record.toBytes();
    return writeFileAtomically(path, bytes, error);
}

bool PCIPFile::overwrite(const QString &path, int n, const PCIPRecord &record, QString *error)
{
    QByteArray bytes;
    if (!readBytes(path, bytes, error))
        return false;
    const qint64 count = qMin<qint64>(bytes.size() / PCIPRecord::Length, MaxRecords);
    if (n < 1 || n > count) {
        if (error)
            *error = QStringLiteral("%1: no record %2").arg(path).arg(n);
        return false;
    }
    bytes.replace(qsizetype(n - 1) * PCIPRecord::Length, PCIPRecord::Length, record.toBytes());
    return writeFileAtomically(path, bytes, error);
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

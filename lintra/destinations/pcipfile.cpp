#include "pcipfile.h"

#include "atomicfile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

PCIPError PCIPError::fromErrno(int code, const QString &path)
{
    Kind kind = Kind::Other;
    switch (code) {
    case EACCES:
    case EPERM:
        kind = Kind::NoPermission;
        break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        kind = Kind::DiskFull;
        break;
    case EROFS:
        kind = Kind::ReadOnly;
        break;
    case ENOENT:
    case ENOTDIR:
        kind = Kind::MissingFolder;
        break;
    case EISDIR:
        kind = Kind::IsFolder;
        break;
    default:
        break;
    }
    return {kind, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(code)))};
}

PCIPFile::PCIPFile(QString path) : m_file(std::move(path)) { }

bool PCIPFile::fail(PCIPError::Kind kind, const QString &why)
{
    m_error = {kind, why};
    return false;
}

bool PCIPFile::open()
{
    m_error = {};
    if (m_file.open(QIODevice::ReadWrite))
        return true;
    const int readWriteError = errno;
    if (m_file.exists() && m_file.open(QIODevice::ReadOnly))
        return true;
    m_error = PCIPError::fromErrno(readWriteError, m_file.fileName());
    return false;
}

int PCIPFile::count() const
{
    return int(qMin<qint64>(m_file.size() / PCIPRecord::Length, MaxRecords));
}

bool PCIPFile::read(int n, PCIPRecord &buffer)
{
    buffer.blankTextFields();
    if (n < 1 || n > count())
        return fail(PCIPError::Kind::NoRecord,
                    QStringLiteral("%1: no record %2").arg(m_file.fileName()).arg(n));
    if (!m_file.seek(qint64(n - 1) * PCIPRecord::Length))
        return fail(PCIPError::Kind::Other, m_file.errorString());
    const QByteArray bytes = m_file.read(PCIPRecord::Length);
    if (bytes.size() != PCIPRecord::Length)
        return fail(PCIPError::Kind::Other,
                    QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
    buffer.fromBytes(bytes);
    return true;
}

namespace {

bool report(bool ok, const PCIPError &why, PCIPError *error)
{
    if (!ok && error)
        *error = why;
    return ok;
}

} // namespace

bool PCIPFile::readAll(const QString &path, PCIPRecord &buffer, QList<PCIPRecord> &records,
                       PCIPError *error)
{
    records.clear();
    PCIPFile file(path);
    if (!file.open())
        return report(false, file.m_error, error);
    const int n = file.count();
    records.reserve(n);
    for (int k = 1; k <= n; ++k) {
        if (!file.read(k, buffer))
            return report(false, file.m_error, error);
        records.append(buffer);
    }
    return true;
}

bool PCIPFile::readBytes(const QString &path, QByteArray &bytes, PCIPError *error)
{
    bytes.clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        const int code = errno;
        // Qt itself refuses a folder, after the system opened it.
        return report(false, PCIPError::fromErrno(QFileInfo(path).isDir() ? EISDIR : code, path),
                      error);
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return report(false,
                      {PCIPError::Kind::Other, QStringLiteral("%1: %2").arg(path, file.errorString())},
                      error);
    return true;
}

bool PCIPFile::write(const QString &path, const QByteArray &bytes, PCIPError *error)
{
    const int code = writeFileAtomically(path, bytes);
    return code == 0 || report(false, PCIPError::fromErrno(code, path), error);
}

bool PCIPFile::appendTo(const QString &path, const PCIPRecord &record, PCIPError *error)
{
    QByteArray bytes;
    if (!readBytes(path, bytes, error))
        return false;
    const qint64 count = bytes.size() / PCIPRecord::Length;
    if (count >= MaxRecords)
        return report(false,
                      {PCIPError::Kind::ListFull,
                       QStringLiteral("%1: the list is full (%2 records)").arg(path).arg(MaxRecords)},
                      error);
    bytes.truncate(count * PCIPRecord::Length);
    bytes += record.toBytes();
    return write(path, bytes, error);
}

namespace {

// Where record n starts, or -1 when the list shows no such record.
qsizetype recordOffset(const QByteArray &bytes, int n)
{
    const qsizetype count = qMin<qsizetype>(bytes.size() / PCIPRecord::Length, PCIPFile::MaxRecords);
    return n >= 1 && n <= count ? qsizetype(n - 1) * PCIPRecord::Length : -1;
}

PCIPError noRecord(const QString &path, int n)
{
    return {PCIPError::Kind::NoRecord, QStringLiteral("%1: no record %2").arg(path).arg(n)};
}

} // namespace

bool PCIPFile::overwrite(const QString &path, int n, const PCIPRecord &record, PCIPError *error)
{
    QByteArray bytes;
    if (!readBytes(path, bytes, error))
        return false;
    const qsizetype at = recordOffset(bytes, n);
    if (at < 0)
        return report(false, noRecord(path, n), error);
    bytes.replace(at, PCIPRecord::Length, record.toBytes());
    return write(path, bytes, error);
}

bool PCIPFile::remove(const QString &path, int n, PCIPError *error)
{
    QByteArray bytes;
    if (!readBytes(path, bytes, error))
        return false;
    const qsizetype at = recordOffset(bytes, n);
    if (at < 0)
        return report(false, noRecord(path, n), error);
    bytes.remove(at, PCIPRecord::Length);
    return write(path, bytes, error);
}

bool PCIPFile::rewrite(const QString &path, const QList<PCIPRecord> &records, PCIPError *error)
{
    QByteArray bytes;
    const qsizetype n = qMin<qsizetype>(records.size(), MaxRecords);
    bytes.reserve(n * PCIPRecord::Length);
    for (qsizetype k = 0; k < n; ++k)
        bytes += records[k].toBytes();
    return write(path, bytes, error);
}

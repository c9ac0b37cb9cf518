#include "diskwatch.h"

#include <QFile>

#include <sys/statvfs.h>

namespace {
constexpr qint64 MiB = 1024 * 1024;
} // namespace

bool DiskWatch::isLow(qint64 available, qint64 total)
{
    return available < LowBytes || available * 100 < total * LowPercent;
}

void DiskWatch::check()
{
    struct statvfs disk
    { };
    if (::statvfs(QFile::encodeName(m_path).constData(), &disk) != 0)
        return;
    // f_bavail: what an ordinary user such as the server's may still take.
    check(qint64(disk.f_bavail) * qint64(disk.f_frsize), qint64(disk.f_blocks) * qint64(disk.f_frsize));
}

bool DiskWatch::check(qint64 available, qint64 total)
{
    const bool low = isLow(available, total);
    if (low == m_low)
        return false;
    m_low = low;
    if (low)
        qWarning("the disk of %s runs low: %lld MiB free of %lld MiB; posts fail once it is full "
                 "(--keep-days or --keep-mib remove old messages)",
                 qUtf8Printable(m_path), qlonglong(available / MiB), qlonglong(total / MiB));
    else
        qInfo("the disk of %s has room again: %lld MiB free", qUtf8Printable(m_path),
              qlonglong(available / MiB));
    return true;
}

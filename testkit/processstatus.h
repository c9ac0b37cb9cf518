#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QString>

// A "kB" figure of /proc/PID/status (VmRSS, VmHWM, ...); -1 when the process
// or the field is not there.
inline qint64 processStatusKiB(qint64 pid, const QString &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("%1:\\s+(\\d+) kB").arg(field));
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

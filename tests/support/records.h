#pragma once

#include "pciprecord.h"

#include <QFile>

// A destination record as the editor would write it.
inline PCIPRecord destination(VBBoolean tryConnect, const QString &name, const QString &address)
{
    PCIPRecord r;
    r.TryConnect = tryConnect;
    r.setName(name);
    r.setAddress(address);
    return r;
}

// The bytes of a list file from one letter per record: a lower-case letter
// is a tried record of that name at 127.0.0.1, X the entry the tests write
// (not tried, 127.0.0.9), f a record no editor writes: flag 1 and a name of
// bytes that do not decode (a lone lead byte 0x96, then FF FE).
inline QByteArray records(const char *letters)
{
    QByteArray bytes;
    for (const char *c = letters; *c; ++c) {
        if (*c == 'f')
            bytes += QByteArray("\x01\x00\x96\xFF\xFE", 5) + QByteArray(17, ' ') + "127.0.0.1      ";
        else if (*c == 'X')
            bytes += destination(VBFalse, QStringLiteral("X"), QStringLiteral("127.0.0.9")).toBytes();
        else
            bytes += destination(VBTrue, QString(QLatin1Char(*c)), QStringLiteral("127.0.0.1")).toBytes();
    }
    return bytes;
}

// A list longer than the 32,767 records the list can show: record n is
// named rn, so that a record moved or lost changes the bytes.
inline QByteArray longList(int n)
{
    QByteArray bytes;
    bytes.reserve(qsizetype(n) * PCIPRecord::Length);
    for (int k = 1; k <= n; ++k)
        bytes += destination(VBTrue, QStringLiteral("r%1").arg(k), QStringLiteral("127.0.0.1")).toBytes();
    return bytes;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); // none: empty
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

#pragma once

#include <QString>

// Says in the log when the disk holding the database runs low, once each
// time it crosses, and again once it has room.
class DiskWatch
{
public:
    static constexpr int LowPercent = 5;
    static constexpr qint64 LowBytes = 1024LL * 1024 * 1024;

    // path: a file or folder on the disk.
    explicit DiskWatch(const QString &path) : m_path(path) { }

    // Under LowPercent or under LowBytes free for the database's user.
    static bool isLow(qint64 available, qint64 total);
    // Reads the disk's figures and logs a crossing.
    void check();
    // Returns true when it crossed.
    bool check(qint64 available, qint64 total);

private:
    QString m_path;
    bool m_low = false;
};

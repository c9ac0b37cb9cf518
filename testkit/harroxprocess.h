#pragma once

#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A harrox of its own for a test, a benchmark or a tool. It is told to write
// its port file into a folder of this object's and counts as up once the
// file names its port; nothing reads the port out of its log. Its standard
// error is kept in log unless the caller sends it elsewhere first.
struct HarroxProcess
{
    static constexpr int StartMs = 20000;
    // For load that posts faster than any person: no posting budget.
    static inline const QStringList NoPostingBudget{QStringLiteral("--posts-per-minute=0"),
                                                    QStringLiteral("--kib-per-minute=0")};

    HarroxProcess();
    ~HarroxProcess();
    HarroxProcess(const HarroxProcess &) = delete;
    HarroxProcess &operator=(const HarroxProcess &) = delete;

    // True once it listens, within withinMs; on 127.0.0.1 and a free port
    // unless the arguments name others. wrapper: a command line that runs
    // harrox (ip netns exec NAME), empty to run it directly.
    bool start(const QStringList &arguments, int withinMs = StartMs, const QStringList &wrapper = {});

    QString program; // the build's harrox unless set
    QString portFile; // in a folder of this object's unless set
    QProcess process;
    QString log;
    QHostAddress address;
    quint16 port = 0;

private:
    bool readPortFile();

    QTemporaryDir m_dir;
};

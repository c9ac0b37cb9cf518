#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

// A private PostgreSQL 15 cluster for one test program: its own data folder,
// reached only through a socket in that folder (no TCP at all). initdb
// refuses root, so as root the cluster runs as the postgres user.
class PgCluster
{
public:
    static constexpr const char *Bin = "/usr/lib/postgresql/15/bin";

    ~PgCluster() { stop(); }

    bool durable = false;

    static bool installed() { return QFile::exists(QStringLiteral("%1/initdb").arg(QLatin1String(Bin))); }

    bool init()
    {
        if (!m_dir.isValid())
            return false;
        if (::geteuid() == 0) {
            const passwd *postgres = ::getpwnam("postgres");
            if (!postgres || ::chown(qPrintable(m_dir.path()), postgres->pw_uid, postgres->pw_gid) != 0)
                return false;
        }
        return run(QStringLiteral("initdb"), {QStringLiteral("-D"), data(), QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8")})
                && start();
    }
    // No TCP. fsync off unless durable: the tests kill processes, never the
    // machine; a benchmark against SQLite's synchronous=FULL keeps it on.
    // The postmaster is this process's child, never in a session of its own,
    // so that it ends with the test (and the test's watchdog finds it).
    bool start()
    {
        const passwd *user = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
        m_postmaster.setChildProcessModifier([root = user != nullptr, uid = user ? user->pw_uid : 0, gid = user ? user->pw_gid : 0] {
            if (root && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(126);
            ::prctl(PR_SET_PDEATHSIG, SIGQUIT); // set after setuid, which clears it
        });
        m_postmaster.setStandardOutputFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
        m_postmaster.setStandardErrorFile(m_dir.filePath(QStringLiteral("log")), QIODevice::Append);
        m_postmaster.start(QStringLiteral("%1/postgres").arg(QLatin1String(Bin)),
                           {QStringLiteral("-D"), data(), QStringLiteral("-k"), m_dir.path(), QStringLiteral("-c"), QStringLiteral("listen_addresses="),
                            QStringLiteral("-c"), QStringLiteral("fsync=%1").arg(QLatin1String(durable ? "on" : "off")),
                            QStringLiteral("-c"), QStringLiteral("max_connections=40")});
        // Ready once the pid file says so; bounded, as a stuck start fails the test.
        QFile pid(data() + QStringLiteral("/postmaster.pid"));
        QDeadlineTimer deadline(60000);
        while (m_postmaster.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (pid.open(QIODevice::ReadOnly) && pid.readAll().split('\n').value(7).trimmed() == "ready")
                return true;
            pid.close();
            m_postmaster.waitForFinished(20);
        }
        qWarning("postgres did not start: %s", qPrintable(m_dir.filePath(QStringLiteral("log"))));
        return false;
    }
    // fast ends sessions cleanly; immediate, as if the database host lost power.
    bool stop(const char *mode = "fast")
    {
        if (m_postmaster.state() == QProcess::NotRunning)
            return true;
        ::kill(pid_t(m_postmaster.processId()), qstrcmp(mode, "immediate") == 0 ? SIGQUIT : SIGINT);
        return m_postmaster.waitForFinished(60000);
    }
    qint64 pid() const { return m_postmaster.processId(); }
    QString conninfo(const QString &database = QStringLiteral("postgres")) const
    {
        return QStringLiteral("host=%1 user=postgres dbname=%2").arg(m_dir.path(), database);
    }

private:
    QString data() const { return m_dir.filePath(QStringLiteral("data")); }
    bool run(const QString &tool, QStringList arguments)
    {
        QProcess p;
        arguments.prepend(QStringLiteral("%1/%2").arg(QLatin1String(Bin), tool));
        if (::geteuid() == 0)
            arguments = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + arguments;
        const QString program = ::geteuid() == 0 ? QStringLiteral("runuser") : arguments.takeFirst();
        p.setWorkingDirectory(m_dir.path());
        p.start(program, arguments);
        const bool ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            qWarning("%s: %s", qPrintable(tool), p.readAllStandardError().constData());
        return ok;
    }

    QTemporaryDir m_dir;
    QProcess m_postmaster; // after m_dir: stopped before its folder goes
};

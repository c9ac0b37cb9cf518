#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <pwd.h>
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
        return run(QStringLiteral("initdb"), {QStringLiteral("-D"), data(), QStringLiteral("-A"), QStringLiteral("trust"),
                                              QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8")})
            && start();
    }
    // No TCP. fsync off unless durable: the tests kill processes, never the
    // machine; a benchmark against SQLite's synchronous=FULL keeps it on.
    bool start()
    {
        const QString options = QStringLiteral("-k %1 -c listen_addresses='' -c fsync=%2 -c max_connections=40")
                                    .arg(m_dir.path(), QLatin1String(durable ? "on" : "off"));
        return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-o"), options, QStringLiteral("-l"),
                                              m_dir.filePath(QStringLiteral("log")), QStringLiteral("-w"), QStringLiteral("start")});
    }
    // immediate: as if the database host lost power, for the servers.
    bool stop(const char *mode = "fast")
    {
        return !QFile::exists(data() + QStringLiteral("/postmaster.pid"))
            || run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data(), QStringLiteral("-m"), QString::fromLatin1(mode), QStringLiteral("-w"), QStringLiteral("stop")});
    }
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
};

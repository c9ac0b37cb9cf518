#include "lan.h"

#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

bool shapedLan(const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(SHAPED_LAN), arguments);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// This process's own namespace, to come back to from a client namespace.
const int HomeNamespace = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);

bool enter(int fd)
{
    return fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
}

} // namespace

QByteArray request(const char *verb, const QString &payload, int lines)
{
    return Cp932::encode(QLatin1String(verb) + payload
                         + QStringLiteral("/*/~127.77.0.1/**/%1").arg(lines));
}

ShapedLan::ShapedLan(const QString &name, const QStringList &shape) : m_name(name)
{
    // LANs left by runs that were killed.
    shapedLan({QStringLiteral("sweep")});
    m_made = shapedLan(QStringList{QStringLiteral("up"), name} + shape);
}

ShapedLan::~ShapedLan()
{
    if (m_made)
        shapedLan({QStringLiteral("down"), m_name});
}

bool ShapedLan::enterClient() const
{
    const int fd =
            ::open(qPrintable(QStringLiteral("/run/netns/%1-c").arg(m_name)), O_RDONLY | O_CLOEXEC);
    const bool ok = enter(fd);
    if (fd >= 0)
        ::close(fd);
    return ok;
}

bool ShapedLan::enterHome()
{
    return enter(HomeNamespace);
}

bool ShapedLan::cut() const
{
    return shapedLan({QStringLiteral("cut"), m_name});
}

LanHarrox::LanHarrox(const QString &lan, const QString &db, const QStringList &more,
                     const QString &binary)
{
    m_harrox.program = binary;
    // ip execs harrox: the pid is harrox's.
    m_up = m_harrox.start(QStringList{QStringLiteral("--listen"), ServerAddress,
                                      QStringLiteral("--port"), QString::number(ChatProtocol::Port),
                                      QStringLiteral("--allow"), QStringLiteral("127.77.0.0/30"),
                                      QStringLiteral("--db"), db}
                                  + more,
                          HarroxProcess::StartMs,
                          {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                           lan + QStringLiteral("-s")});
}

LanHarrox::~LanHarrox()
{
    m_harrox.process.terminate();
    m_harrox.process.waitForFinished();
}

double LanHarrox::cpuSeconds() const
{
    double sum = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(m_harrox.process.processId());
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            sum += f.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return sum;
}

std::pair<double, double> LanHarrox::userSystem() const
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(m_harrox.process.processId()));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QList<QByteArray> fields = f.readAll().split(')').last().trimmed().split(' ');
    const double tick = double(::sysconf(_SC_CLK_TCK));
    return {fields.value(11).toDouble() / tick, fields.value(12).toDouble() / tick};
}

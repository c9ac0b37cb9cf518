// Lintra's chat link against a real harrox over a shaped LAN (scripts/shaped-lan):
// harrox runs in the server namespace, and this test's thread moves into the
// client namespace before it makes any socket. Automatic refresh stays off.
#include "destinations/pcipfile.h"
#include "link/chatlink.h"

#include "support/fakes.h"
#include "support/recordingview.h"
#include "support/records.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 30000;
constexpr int PollMs = 5;

// A main window that keeps every reply it is shown.
class Lintra final : public RecordingView
{
public:
    explicit Lintra(const QString &user, int lines = 10)
    {
        name = user;
        lineCount = QString::number(lines);
        m_link.setPollInterval(PollMs);
        m_link.Command2_Click();
    }

    void say(const QString &text)
    {
        message = text;
        m_link.Command1_Click();
    }
    QString members() const { return replies.isEmpty() ? QString() : replies.last().first; }
    QString shown() const { return replies.isEmpty() ? QString() : replies.last().second; }
    // The first reply that does not divide into names and lines that all
    // parse: one cut short or run into the next.
    QString broken() const
    {
        static const QRegularExpression member(QStringLiteral("^c\\d$"));
        static const QRegularExpression line(QStringLiteral("^\\d\\d/\\d\\d \\d\\d:\\d\\d \\w+> \\S+ \\d+$"));
        for (const auto &[left, right] : replies) {
            for (const QString &n : left.split(QStringLiteral("\r\n")))
                if (!member.match(n).hasMatch())
                    return left;
            for (const QString &l : right.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
                if (!line.match(l).hasMatch())
                    return l;
        }
        return {};
    }

private:
    RecordingMessageBox m_box;
    SystemClock m_clock;
    PCIPRecord m_buffer;
    ChatLink m_link{*this, m_box, m_clock, m_buffer, QStringLiteral("PCIP.dat")};
};

bool shapedLan(const QString &action, const QString &name = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(SHAPED_LAN), {action, name});
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class tst_Lan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void liveDeliveryKeepsRepliesWhole();

private:
    const QString m_lan = QStringLiteral("lan%1t").arg(QCoreApplication::applicationPid());
    QTemporaryDir m_dir;
    QProcess m_harrox;
    bool m_made = false;
};

void tst_Lan::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root to make the shaped LAN's network namespaces");
    shapedLan(QStringLiteral("sweep"));
    if (!(m_made = shapedLan(QStringLiteral("up"), m_lan)))
        QSKIP("cannot make the shaped LAN (iproute2 and tc with veth and tbf needed)");
    QVERIFY(QDir::setCurrent(m_dir.path()));
    m_harrox.start(QStringLiteral("ip"), QStringLiteral("netns exec %1-s %2 --listen 127.77.0.2 --allow 127.77.0.0/30 --db %3")
                                             .arg(m_lan, QStringLiteral(HARROX_PATH), m_dir.filePath(QStringLiteral("lan.db")))
                                             .split(QLatin1Char(' ')));
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += m_harrox.readAllStandardError()).contains("listening on"), WaitMs);
    const int fd = ::open(qPrintable(QStringLiteral("/run/netns/%1-c").arg(m_lan)), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0);
    ::close(fd);
    QVERIFY(PCIPFile::rewrite(QStringLiteral("PCIP.dat"), {destination(VBTrue, QStringLiteral("lan"), QStringLiteral("127.77.0.2"))}));
}

void tst_Lan::cleanupTestCase()
{
    m_harrox.kill();
    m_harrox.waitForFinished();
    if (m_made)
        QVERIFY(shapedLan(QStringLiteral("down"), m_lan));
}

void tst_Lan::liveDeliveryKeepsRepliesWhole()
{
    constexpr int Clients = 4;
    constexpr int Posts = 100;
    std::vector<std::unique_ptr<Lintra>> c;
    for (int k = 0; k < Clients; ++k)
        c.push_back(std::make_unique<Lintra>(QStringLiteral("c%1").arg(k), Posts));
    QTRY_VERIFY_WITH_TIMEOUT(c[0]->members().endsWith(QStringLiteral("c3")), WaitMs);
    c[1]->say(QStringLiteral("hello 1"));
    QTRY_VERIFY_WITH_TIMEOUT(c[0]->shown().endsWith(QStringLiteral("c1> hello 1")), 1000);
    for (int k = 0; k < Posts; ++k)
        c[k % Clients]->say(QStringLiteral("burst %1").arg(k));
    for (const auto &lintra : c) {
        QTRY_COMPARE_WITH_TIMEOUT(lintra->shown().count(QStringLiteral("> burst ")), Posts, WaitMs);
        QCOMPARE(lintra->broken(), QString());
    }
}

QTEST_GUILESS_MAIN(tst_Lan)
#include "tst_lan.moc"

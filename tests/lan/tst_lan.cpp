// Lintra's chat link against a real harrox over a shaped LAN (scripts/shaped-lan):
// harrox runs in the server namespace, and this test's thread moves into the
// client namespace before it makes any socket. Automatic refresh stays off.
#include "link/chatlink.h"
#include "link/chatview.h"

#include "support/fakes.h"
#include "support/records.h"

#include <QFile>
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
const QString Fill = QStringLiteral("本日の会議は15時から会議室Ａで行います資料は各自ご持参ください");

class View final : public ChatView
{
public:
    QString nameText() const override { return name; }
    QString messageText() const override { return message; }
    void clearMessage() override { message.clear(); }
    QString lineCountText() const override { return lines; }
    void setStatusText(const QString &) override {}
    void setCaption(const QString &) override {}
    void setSendEnabled(bool on) override { up = on; }
    void setJoinEnabled(bool) override {}
    void setLeaveEnabled(bool) override {}
    void setMessageEnabled(bool) override {}
    void setRefreshChecked(int) override {}
    void showReply(const QString &l, const QString &r) override { replies.append({l, r}); }
    void notifyUnread() override {}
    void focusMessage() override {}
    void closeWindow() override {}

    QString name, message, lines;
    bool up = false;
    QList<QPair<QString, QString>> replies;
};

struct Lintra
{
    explicit Lintra(const QString &name, const QString &lineCount = QStringLiteral("10"))
    {
        view.name = name;
        view.lines = lineCount;
        link.setPollInterval(PollMs);
        link.Command2_Click();
    }
    void say(const QString &text)
    {
        view.message = text;
        link.Command1_Click();
    }
    QString members() const { return view.replies.isEmpty() ? QString() : view.replies.last().first; }
    QString shown() const { return view.replies.isEmpty() ? QString() : view.replies.last().second; }

    // Every reply divides into known names and lines that all parse: none
    // was cut short or ran into the next. Returns the first that does not.
    QString broken() const
    {
        static const QRegularExpression line(QStringLiteral("^\\d\\d/\\d\\d \\d\\d:\\d\\d \\w+> \\S+ \\d+$"));
        static const QRegularExpression name(QStringLiteral("^(fill|ann|bob|c\\d)$"));
        for (const auto &[left, right] : view.replies) {
            for (const QString &n : left.split(QStringLiteral("\r\n")))
                if (!name.match(n).hasMatch())
                    return left;
            for (const QString &l : right.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
                if (!line.match(l).hasMatch())
                    return l;
        }
        return {};
    }

    View view;
    RecordingMessageBox box;
    SystemClock clock;
    PCIPRecord buffer;
    ChatLink link{view, box, clock, buffer};
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
    void longReplyShownWhole();
    void othersSeeAMessageAtOnce();
    void burstLeavesWholeReplies();

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
    m_harrox.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), m_lan + QStringLiteral("-s"),
                                          QStringLiteral(HARROX_PATH), QStringLiteral("--listen"), QStringLiteral("127.77.0.2"),
                                          QStringLiteral("--allow"), QStringLiteral("127.77.0.0/30"),
                                          QStringLiteral("--db"), m_dir.filePath(QStringLiteral("lan.db"))});
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += m_harrox.readAllStandardError()).contains("listening on"), WaitMs);
    const int fd = ::open(qPrintable(QStringLiteral("/run/netns/%1-c").arg(m_lan)), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0);
    ::close(fd);
    QFile file(QStringLiteral("PCIP.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(destination(VBTrue, QStringLiteral("lan"), QStringLiteral("127.77.0.2")).toBytes());
}

void tst_Lan::cleanupTestCase()
{
    m_harrox.kill();
    m_harrox.waitForFinished();
    if (m_made)
        QVERIFY(shapedLan(QStringLiteral("down"), m_lan));
}

void tst_Lan::longReplyShownWhole()
{
    Lintra fill(QStringLiteral("fill"), QStringLiteral("1000"));
    QVERIFY(fill.view.up);
    for (int k = 0; k < 1000; ++k)
        fill.say(Fill + QStringLiteral(" %1").arg(k));
    QTRY_VERIFY_WITH_TIMEOUT(fill.shown().endsWith(Fill + QStringLiteral(" 999")), WaitMs);
    fill.say(QString()); // a refresh: about 90 KB in 1,448-byte segments
    const qsizetype before = fill.view.replies.size();
    QTRY_COMPARE_WITH_TIMEOUT(fill.view.replies.size(), before + 1, WaitMs);
    QCOMPARE(fill.members(), QStringLiteral("fill"));
    QCOMPARE(fill.shown().count(Fill), 1000);
    QCOMPARE(fill.broken(), QString());
}

void tst_Lan::othersSeeAMessageAtOnce()
{
    Lintra ann(QStringLiteral("ann"));
    Lintra bob(QStringLiteral("bob"));
    QVERIFY(ann.view.up && bob.view.up);
    QTRY_VERIFY_WITH_TIMEOUT(ann.members().endsWith(QStringLiteral("bob")), WaitMs);
    bob.say(QStringLiteral("hello 1"));
    QTRY_VERIFY_WITH_TIMEOUT(ann.shown().endsWith(QStringLiteral("bob> hello 1")), 1000);
    QCOMPARE(ann.broken() + bob.broken(), QString());
}

void tst_Lan::burstLeavesWholeReplies()
{
    constexpr int Clients = 4;
    constexpr int Posts = 100;
    std::vector<std::unique_ptr<Lintra>> clients;
    for (int c = 0; c < Clients; ++c)
        clients.push_back(std::make_unique<Lintra>(QStringLiteral("c%1").arg(c), QString::number(Posts)));
    for (int k = 0; k < Posts; ++k)
        clients[k % Clients]->say(QStringLiteral("burst %1").arg(k));
    for (const auto &c : clients) {
        QTRY_COMPARE_WITH_TIMEOUT(c->shown().count(QStringLiteral("> burst ")), Posts, WaitMs);
        QVERIFY(c->view.up);
        QCOMPARE(c->broken(), QString());
    }
}

QTEST_GUILESS_MAIN(tst_Lan)
#include "tst_lan.moc"

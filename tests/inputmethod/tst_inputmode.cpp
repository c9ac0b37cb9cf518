// The input-mode seam against a fake fcitx5 on a private session bus,
// with the focus moved through the real windows.
#include "fakebackedform1.h"
#include "fcitx5inputmode.h"
#include "form2window.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// Records each call on its path: the member, or its first argument.
struct FakeFramework : QDBusVirtualObject
{
    QStringList calls;
    bool hang = false; // answers nothing
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        calls.append(m.arguments().isEmpty() ? m.member() : m.arguments()[0].toString());
        return hang || bus.send(m.createReply());
    }
};

// A helper program that ends with its owner.
struct Child : QProcess
{
    ~Child() override
    {
        kill();
        waitForFinished();
    }
};

class tst_InputMode : public QObject
{
    Q_OBJECT

    static constexpr qint64 FocusBudgetMs = 50; // a focus change never waits on the framework
    QDBusConnection bus(const QString &name) { return QDBusConnection::connectToBus(m_address, name); }

    Child m_daemon;
    QString m_address;
    FakeFramework m_fcitx5;
    std::unique_ptr<Fcitx5InputMode> m_seam;
    FakeBackedForm1<FakeClock> m_desk{QDateTime(QDate(2026, 12, 7), QTime(12, 0))};
    form1 &m_window = m_desk.window;

private slots:
    void initTestCase()
    {
        m_daemon.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        if (!m_daemon.waitForReadyRead() || QStandardPaths::findExecutable(u"dbus-monitor"_s).isEmpty())
            QSKIP("dbus-daemon or dbus-monitor is missing (scripts/setup installs both)");
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(bus(u"fake"_s).registerVirtualObject(u"/controller"_s, &m_fcitx5));
        m_seam = std::make_unique<Fcitx5InputMode>(bus(u"seam"_s));
        m_window.setInputMode(*m_seam);
        m_window.setMessageEnabled(true); // as after joining
        m_window.show();
        QVERIFY(QTest::qWaitForWindowActive(&m_window));
    }

    void focusAsksOnlyAFrameworkThatIsThere()
    {
        Child monitor; // sees every message, even one to a name that nobody owns
        monitor.start(u"dbus-monitor"_s, {u"--address"_s, m_address, u"member=Ping"_s, u"interface=org.fcitx.Fcitx.Controller1"_s});
        QByteArray seen;
        QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("NameLost")); // monitoring
        m_window.findChild<QWidget *>(u"Text2"_s)->setFocus(); // no framework yet
        // A round trip on the seam's connection: whatever it queued is out.
        bus(u"seam"_s).call(QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/"_s, u"org.freedesktop.DBus.Peer"_s, u"Ping"_s));
        QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("member=Ping"));
        QVERIFY(!seen.contains("Controller1"));

        m_fcitx5.hang = true; // then fcitx5 comes, and never answers
        QVERIFY(bus(u"fake"_s).registerService(u"org.fcitx.Fcitx5"_s));
        QTRY_VERIFY(m_seam->isPresent());
        const QDeadlineTimer start = QDeadlineTimer::current();
        for (const char *name : {"Text1", "Text2", "Text1", "Text2"}) // Text1: as the user set it
            m_window.findChild<QWidget *>(QLatin1String(name))->setFocus();
        QCOMPARE_LT(QDeadlineTimer::current() - start, FocusBudgetMs); // all four, so each
        Form2Window editor;
        editor.setInputMode(*m_seam); // as start-up does when the editor opens
        editor.show();
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        editor.Text4->setFocus();
        editor.Text1->setFocus();
        QTRY_COMPARE(m_fcitx5.calls, QStringList({u"Activate"_s, u"Activate"_s, u"Activate"_s, u"Deactivate"_s, u"Activate"_s}));
    }
};

QTEST_MAIN(tst_InputMode)
#include "tst_inputmode.moc"

// The input-mode seam against fake frameworks on a private session bus,
// with the focus moved through the real windows.
#include "app/module1.h"
#include "destinations/form2.h"
#include "destinations/form2window.h"
#include "mainwin/form1.h"
#include "platform/fcitx5inputmode.h"
#include "platform/ibusinputmode.h"

#include "support/fakes.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 FocusBudgetMs = 50; // a focus change never waits on the framework
const QString Fcitx5 = QStringLiteral("org.fcitx.Fcitx5");
const QString Bus = QStringLiteral("org.freedesktop.DBus");

// Records the controller's calls; when hanging, never answers them.
class FakeFcitx5 : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.fcitx.Fcitx.Controller1")
public:
    QStringList calls;
    bool hang = false;
public slots:
    void Activate() { record(QStringLiteral("Activate")); }
    void Deactivate() { record(QStringLiteral("Deactivate")); }
    int State() { record(QStringLiteral("State")); return 1; }
private:
    void record(const QString &call)
    {
        calls.append(call);
        setDelayedReply(hang);
    }
};

class FakeIBus : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.IBus")
public:
    QStringList engines;
public slots:
    void SetGlobalEngine(const QString &engine) { engines.append(engine); }
};

qint64 focus(QWidget *box)
{
    QElapsedTimer clock;
    clock.start();
    box->setFocus(Qt::TabFocusReason);
    return clock.elapsed();
}

} // namespace

class tst_InputMode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void focusAsksFcitx5();
    void nothingIsSentWithoutFramework();
    void hangingFrameworkDoesNotHoldTheWindow();
    void ibusSwitchesEngines();

private:
    void driveEditor(Form2Window *w);

    QProcess m_daemon;
    QString m_address;
    QTemporaryDir m_dir; // the editor's PCIP.dat
    FakeFcitx5 m_fcitx5;
    Module1 m_module;
    RecordingMessageBox m_box;
    RecordingShellOpen m_shell;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(12, 0))};
    std::unique_ptr<Fcitx5InputMode> m_seam;
    std::unique_ptr<form1> m_window;
};

void tst_InputMode::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
        QSKIP("dbus-daemon or dbus-monitor is missing (scripts/setup installs both)");
    m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                            QStringLiteral("--print-address=1")});
    QVERIFY(m_daemon.waitForReadyRead());
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(QDBusConnection::connectToBus(m_address, QStringLiteral("fake"))
                .registerObject(QStringLiteral("/controller"), &m_fcitx5,
                                QDBusConnection::ExportAllSlots));
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void tst_InputMode::init()
{
    m_fcitx5.calls.clear();
    m_seam = std::make_unique<Fcitx5InputMode>(
        QDBusConnection::connectToBus(m_address, QStringLiteral("seam")));
    m_window = std::make_unique<form1>(m_module, m_box, m_clock, m_shell);
    m_window->setInputMode(*m_seam);
    m_window->setMessageEnabled(true); // as after joining
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void tst_InputMode::cleanup()
{
    m_window.reset();
    m_seam.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("seam"));
    QDBusConnection::connectToBus(m_address, QStringLiteral("fake")).unregisterService(Fcitx5);
}

void tst_InputMode::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    m_daemon.kill();
    m_daemon.waitForFinished();
}

void tst_InputMode::driveEditor(Form2Window *w)
{
    w->setInputMode(*m_seam); // as the start-up wires it
    QMetaObject::invokeMethod(w, [this, w] {
        const auto close = qScopeGuard([w] { w->f11->trigger(); });
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTRY_COMPARE(m_fcitx5.calls, QStringList{QStringLiteral("Activate")}); // on opening
        focus(w->Text3);
        focus(w->Text1);
        QTRY_COMPARE(m_fcitx5.calls.mid(1), QStringList({QStringLiteral("Deactivate"), QStringLiteral("Activate")}));
    }, Qt::QueuedConnection);
}

void tst_InputMode::focusAsksFcitx5()
{
    QVERIFY(QDBusConnection(QStringLiteral("fake")).registerService(Fcitx5));
    QTRY_VERIFY(m_seam->isPresent());
    focus(m_window->findChild<QLineEdit *>(QStringLiteral("Text1"))); // left as the user set it
    focus(m_window->findChild<QLineEdit *>(QStringLiteral("Text2")));
    QTRY_COMPARE(m_fcitx5.calls, QStringList{QStringLiteral("Activate")});
    m_fcitx5.calls.clear();
    Form2 editor(m_module, m_box, m_shell);
    connect(&editor, &Form2::opened, this, &tst_InputMode::driveEditor);
    editor.show();
    QCOMPARE(m_fcitx5.calls.mid(0, 3), QStringList({QStringLiteral("Activate"), QStringLiteral("Deactivate"), QStringLiteral("Activate")}));
}

void tst_InputMode::nothingIsSentWithoutFramework()
{
    // dbus-monitor sees every message, even one to a name that nobody owns.
    QProcess monitor;
    monitor.start(QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")),
                  {QStringLiteral("--address"), m_address, QStringLiteral("member='Ping'"),
                   QStringLiteral("interface='org.fcitx.Fcitx.Controller1'")});
    QByteArray seen;
    QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("NameLost")); // monitoring
    for (const char *box : {"Text2", "Text1", "Text2"})
        focus(m_window->findChild<QLineEdit *>(QLatin1String(box)));
    QDBusConnection(QStringLiteral("seam")).call(QDBusMessage::createMethodCall(
        Bus, QStringLiteral("/"), Bus + QStringLiteral(".Peer"), QStringLiteral("Ping")));
    QTRY_VERIFY((seen += monitor.readAllStandardOutput()).contains("member=Ping"));
    QVERIFY2(!seen.contains("Controller1"), seen.constData());
    monitor.kill();
    monitor.waitForFinished();
}

void tst_InputMode::hangingFrameworkDoesNotHoldTheWindow()
{
    m_fcitx5.hang = true;
    QVERIFY(QDBusConnection(QStringLiteral("fake")).registerService(Fcitx5));
    QTRY_VERIFY(m_seam->isPresent());
    for (const char *box : {"Text2", "Text1", "Text2"})
        QCOMPARE_LT(focus(m_window->findChild<QLineEdit *>(QLatin1String(box))), FocusBudgetMs);
    QTRY_COMPARE(m_fcitx5.calls.size(), 2); // asked, and never answered
    m_fcitx5.hang = false;
}

void tst_InputMode::ibusSwitchesEngines()
{
    FakeIBus ibus;
    QDBusConnection fake(QStringLiteral("fake"));
    QVERIFY(fake.registerService(QStringLiteral("org.freedesktop.IBus")));
    QVERIFY(fake.registerObject(QStringLiteral("/org/freedesktop/IBus"), &ibus, QDBusConnection::ExportAllSlots));
    qputenv("IBUS_ADDRESS", m_address.toUtf8());
    IBusInputMode seam(QDBusConnection::connectToBus(IBusInputMode::address(), QStringLiteral("ibus")));
    seam.request(InputMode::Mode::Hiragana);
    seam.request(InputMode::Mode::Off);
    QTRY_COMPARE(ibus.engines, QStringList({QStringLiteral("mozc-jp"), QStringLiteral("xkb:jp::jpn")}));
    fake.unregisterObject(QStringLiteral("/org/freedesktop/IBus"));
    fake.unregisterService(QStringLiteral("org.freedesktop.IBus"));
    QDBusConnection::disconnectFromBus(QStringLiteral("ibus"));
}

QTEST_MAIN(tst_InputMode)
#include "tst_inputmode.moc"

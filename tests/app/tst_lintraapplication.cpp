#include "commandline.h"
#include "desktopshellopen.h"
#include "identity.h"
#include "lintraapplication.h"

#include "fakes.h"

#include <QRegularExpression>
#include <QTest>
#include <QVersionNumber>

#include <stdexcept>

namespace {

class Throwing : public QObject
{
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("broken handler");
        return QObject::event(e);
    }
};

} // namespace

class tst_LintraApplication : public QObject
{
    Q_OBJECT

public:
    explicit tst_LintraApplication(RecordingMessageBox &box)
        : m_box(box) { }

private slots:
    // What the toolkit takes for itself passes, with its value beside it or
    // after "="; anything else is refused by name, before any window.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<CommandLine::Action>("action");
        QTest::addColumn<QString>("refused");
        using A = CommandLine::Action;
        QTest::newRow("none") << QStringList{} << A::Run << QString();
        QTest::newRow("menu") << QStringList{QStringLiteral("--data-folder")} << A::Run << QString();
        QTest::newRow("toolkit") << QStringList{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--style=fusion"), QStringLiteral("-reverse")} << A::Run << QString();
        QTest::newRow("help first") << QStringList{QStringLiteral("-h"), QStringLiteral("--bogus")} << A::Help << QString();
        QTest::newRow("version") << QStringList{QStringLiteral("--data-folder"), QStringLiteral("--version")} << A::Version << QString();
        QTest::newRow("unknown") << QStringList{QStringLiteral("--data-folder"), QStringLiteral("--bogus")} << A::Refuse << QStringLiteral("--bogus");
        QTest::newRow("value missing") << QStringList{QStringLiteral("-style")} << A::Refuse << QStringLiteral("-style");
        QTest::newRow("flag with value") << QStringList{QStringLiteral("-reverse=1")} << A::Refuse << QStringLiteral("-reverse=1");
        QTest::newRow("word") << QStringList{QStringLiteral("PCIP.dat")} << A::Refuse << QStringLiteral("PCIP.dat");
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(CommandLine::Action, action);
        QFETCH(QString, refused);
        const CommandLine line = CommandLine::parse(arguments);
        QCOMPARE(line.action, action);
        QCOMPARE(line.refused, refused);
    }

    void identity()
    {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Lintra"));
        // The one version, its minor two digits wide and its revision four.
        const QString version = QCoreApplication::applicationVersion();
        QCOMPARE(QVersionNumber::fromString(version), QVersionNumber(Version::Major, Version::Minor, Version::Revision));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d\\.\\d{4}$")).match(version).hasMatch(), qPrintable(version));
        // No display name of its own, which the window system would add to
        // every title: the name shown follows the application name.
        QCoreApplication::setApplicationName(QStringLiteral("other"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("other"));
        QCoreApplication::setApplicationName(Identity::applicationName());
    }

    void escapedExceptionIsShownAndTheProgramGoesOn()
    {
        Throwing target;
        QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        QCOMPARE(m_box.shown.size(), 1);
        QCOMPARE(m_box.shown[0].title, QStringLiteral("Lintra"));
        QVERIFY(m_box.shown[0].text.contains(QStringLiteral("broken handler")));

        // The loop still runs.
        bool ran = false;
        QMetaObject::invokeMethod(
                &target, [&] { ran = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(ran);
    }

    void failedHelpOpenSaysWhatToInstall()
    {
        RecordingMessageBox box;
        const QString path = QStringLiteral("/opt/ドゥヴェッタ.chm");
        // The viewer starts once, then no more.
        DesktopShellOpen shell(box, [&, n = 0](const QUrl &u) mutable { return u.toLocalFile() == path && !n++; });
        shell.open(path);
        QVERIFY(box.shown.isEmpty());
        shell.open(path);
        QCOMPARE(box.shown.value(0).title, QStringLiteral("Lintra"));
        QVERIFY(box.shown.value(0).text.contains(QStringLiteral("xchm と xdg-utils")));
    }

private:
    RecordingMessageBox &m_box;
};

int main(int argc, char *argv[])
{
    LintraApplication app(argc, argv);
    RecordingMessageBox box;
    app.setMessageBox(&box);
    tst_LintraApplication test(box);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_lintraapplication.moc"

// The about window and the help menu items of both windows.
#include "about/frmabout.h"
#include "app/lintraapplication.h"
#include "app/module1.h"
#include "destinations/form2.h"
#include "destinations/form2window.h"
#include "mainwin/form1.h"

#include "support/fakes.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class tst_Help : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void aboutTexts();
    void aboutClosesWithEnterEscAndCloseBox_data();
    void aboutClosesWithEnterEscAndCloseBox();
    void aboutMenuNeverCallsTheShell();
    void helpFilesFromTheProgramDirectory();

private:
    // Runs actions on the next about window that opens.
    void onAbout(const std::function<void(frmAbout &)> &actions);
    QAction *menuItem(QWidget *window, const QString &caption);

    RecordingMessageBox m_box;
    RecordingShellOpen m_shell;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};
};

void tst_Help::cleanup()
{
    m_shell.opened.clear();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_Help::onAbout(const std::function<void(frmAbout &)> &actions)
{
    QTimer::singleShot(0, this, [actions] {
        auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        QVERIFY(about);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        actions(*about);
    });
}

QAction *tst_Help::menuItem(QWidget *window, const QString &caption)
{
    // The items, not the menus' own titles ("ヘルプ" is both).
    for (QAction *a : window->findChildren<QMenuBar *>().first()->findChildren<QAction *>())
        if (a->text() == caption && !a->menu())
            return a;
    qFatal("no menu item %s", qPrintable(caption));
}

void tst_Help::aboutTexts()
{
    for (int opening = 0; opening < 2; ++opening) {
        QString caption, title, version;
        bool hasIcon = false;
        onAbout([&](frmAbout &about) {
            caption = about.windowTitle();
            title = about.lblTitle->text();
            version = about.lblVersion->text();
            hasIcon = !about.picIcon->pixmap().isNull();
            QVERIFY(!about.parentWidget());
            QVERIFY(about.isModal());
            QTest::mouseClick(about.cmdOK, Qt::LeftButton);
        });
        frmAbout::showModal();
        QCOMPARE(caption, QStringLiteral("Lintraのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(title, QStringLiteral("Lintra"));
        QCOMPARE(version, QStringLiteral("ﾊﾞｰｼﾞｮﾝ 2.0.43"));
        QVERIFY(hasIcon);
    }
}

void tst_Help::aboutClosesWithEnterEscAndCloseBox_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Enter") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
}

void tst_Help::aboutClosesWithEnterEscAndCloseBox()
{
    QFETCH(int, how);
    onAbout([how](frmAbout &about) {
        if (how == 0)
            QTest::keyClick(&about, Qt::Key_Return);
        else if (how == 1)
            QTest::keyClick(&about, Qt::Key_Escape);
        else
            about.close();
    });
    frmAbout::showModal(); // returns only once the window has closed
}

void tst_Help::aboutMenuNeverCallsTheShell()
{
    Module1 module;
    form1 window(module, m_box, m_clock, m_shell);
    window.show();
    onAbout([](frmAbout &about) { about.close(); });
    menuItem(&window, QStringLiteral("バージョン情報"))->trigger();
    QVERIFY(m_shell.opened.isEmpty());
    window.close();
}

void tst_Help::helpFilesFromTheProgramDirectory()
{
    // Started from another working directory, both windows still look in
    // the program's own directory, each for its own file, every time.
    QTemporaryDir elsewhere;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(elsewhere.path());
    const QDir programDir(QCoreApplication::applicationDirPath());

    Module1 module;
    Form2 editor(module, m_box, m_shell, QStringLiteral("PCIP.dat"));
    form1 window(module, m_box, m_clock, m_shell);
    window.setDestinationEditor(&editor);
    window.show();
    menuItem(&window, QStringLiteral("ヘルプ"))->trigger();
    menuItem(&window, QStringLiteral("ヘルプ"))->trigger();
    connect(&editor, &Form2::opened, this, [](Form2Window *w) {
        QTimer::singleShot(0, w, [w] {
            w->h11->trigger();
            w->close();
        });
    });
    menuItem(&window, QStringLiteral("接続先を設定する"))->trigger();
    window.close();
    QDir::setCurrent(oldDir);

    const QString main = QDir::toNativeSeparators(programDir.filePath(QStringLiteral("Duvetta.chm")));
    const QString editorHelp =
        QDir::toNativeSeparators(programDir.filePath(QStringLiteral("ドゥヴェッタ.chm")));
    QCOMPARE(m_shell.opened, (QStringList{main, main, editorHelp}));
}

int main(int argc, char *argv[])
{
    LintraApplication app(argc, argv);
    tst_Help test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_help.moc"

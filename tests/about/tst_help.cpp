// The about window, the help items of both windows, and a help open that fails.
#include "about/frmabout.h"
#include "app/module1.h"
#include "version.h"
#include "destinations/form2.h"
#include "destinations/form2window.h"
#include "mainwin/form1.h"
#include "platform/desktopshellopen.h"

#include "support/fakes.h"

#include <QtTest>
#include <QtWidgets>

class tst_Help : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void aboutAndHelpFromTheProgramDirectory()
    {
        QDir::setCurrent(QDir::rootPath()); // help is looked for beside the program, not here
        RecordingMessageBox box;
        RecordingShellOpen shell;
        FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};
        Module1 module;
        Form2 editor(module, box, shell, QStringLiteral("PCIP.dat"));
        form1 window(module, box, clock, shell);
        window.setDestinationEditor(&editor);
        const QList<QAction *> menus = window.menuBar()->actions(); // 終了, 設定, ヘルプ
        const QList<QAction *> h11 = menus[2]->menu()->actions();   // バージョン情報, ヘルプ
        for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {   // built afresh each time
            QStringList about;
            QObject scope; // the timer dies with the locals it uses, even if the window never comes
            QTimer::singleShot(0, &scope, [&] {
                auto *w = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
                QVERIFY(w && !w->parentWidget() && !w->picIcon->pixmap().isNull());
                about << w->windowTitle() << w->lblTitle->text() << w->lblVersion->text();
                QTest::keyClick(w, key);
            });
            h11[0]->trigger(); // returns once the window has closed, without the shell
            const QString version = QVersionNumber(Version::Major, Version::Minor, Version::Revision).toString();
            QCOMPARE(about, (QStringList{"Lintraのﾊﾞｰｼﾞｮﾝ情報", "Lintra", "ﾊﾞｰｼﾞｮﾝ " + version}));
        }
        h11[1]->trigger();
        h11[1]->trigger();
        connect(&editor, &Form2::opened, &editor, [](Form2Window *w) {
            QTimer::singleShot(0, w, [w] { w->h11->trigger(), w->close(); });
        });
        menus[1]->menu()->actions()[0]->trigger(); // 接続先を設定する
        const QString main = QCoreApplication::applicationDirPath() + "/Duvetta.chm";
        QCOMPARE(shell.opened, (QStringList{main, main, QFileInfo(main).path() + "/ドゥヴェッタ.chm"}));
    }

    void failedOpenSaysWhatToInstall()
    {
        RecordingMessageBox box;
        const QString path = "/opt/ドゥヴェッタ.chm";
        // The viewer starts once, then no more.
        DesktopShellOpen shell(box, [&, n = 0](const QUrl &u) mutable { return u.toLocalFile() == path && !n++; });
        shell.open(path);
        QVERIFY(box.shown.isEmpty());
        shell.open(path);
        QCOMPARE(box.shown.value(0).title, "Lintra");
        QVERIFY(box.shown.value(0).text.contains("xchm と xdg-utils"));
    }
};

QTEST_MAIN(tst_Help)
#include "tst_help.moc"

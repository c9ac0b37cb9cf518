// What only the main window can show, through its real widgets: controls,
// captions and states, keyboard use, accessibility, and the layout of the
// three display sizes. The chat logic itself is tested on the link.
#include "lintraapplication.h"
#include "wire/cp932.h"

#include "fakebackedform1.h"
#include "support/captureserver.h"
#include "support/records.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class tst_Form1 : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        m_desk = std::make_unique<FakeBackedForm1<FakeClock>>(QDateTime(QDate(2001, 3, 5), QTime(15, 7, 0)));
        m_window = &m_desk->window;
        m_window->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        m_window->resize(900, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanup()
    {
        m_desk.reset();
        QDir::setCurrent(m_oldDir);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void initialState()
    {
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Lintra時刻は平成13年3月5日(月)午後3時7分"));
        QVERIFY(child("Command2")->isEnabled());
        for (const char *name : {"Command1", "Command3", "Text2"})
            QVERIFY2(!child(name)->isEnabled(), name);
        auto *combo3 = static_cast<QComboBox *>(child("Combo3"));
        auto *combo4 = static_cast<QComboBox *>(child("Combo4"));
        QCOMPARE(combo3->currentText(), QStringLiteral("9"));
        QCOMPARE(combo4->currentText(), QStringLiteral("10"));
        QVERIFY(menuItem(QStringLiteral("小さい"))->isChecked());
        QVERIFY(menuItem(QStringLiteral("自動で更新しない"))->isChecked());
        QVERIFY(static_cast<QPlainTextEdit *>(child("Text3"))->isReadOnly());
    }

    void accessibleNamesStatusAndTabOrder()
    {
        for (const char *name : {"Text1", "Text2", "Text3", "Text4", "Combo3", "Combo4", "Command1",
                                 "Command2", "Command3"})
            QVERIFY2(!child(name)->accessibleName().isEmpty(), name);
        QCOMPARE(child("Text1")->accessibleName(), QStringLiteral("名前"));
        QCOMPARE(child("Combo4")->accessibleName(), QStringLiteral("表示行数(行)"));

        // The status line reads as its text, as a name and as text.
        static_cast<ChatView *>(m_window)->setStatusText(QStringLiteral(" 接続できました！通信できます。"));
        QAccessibleInterface *status = QAccessible::queryAccessibleInterface(child("SB"));
        QCOMPARE(status->text(QAccessible::Name), QStringLiteral(" 接続できました！通信できます。"));
        QVERIFY(status->textInterface());
        QCOMPARE(status->textInterface()->text(0, status->textInterface()->characterCount()),
                 QStringLiteral(" 接続できました！通信できます。"));

        // Not connected: the disabled message box and send button are skipped.
        QApplication::setActiveWindow(m_window);
        child("Text1")->setFocus();
        QStringList order;
        for (int k = 0; k < 6; ++k) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *w = QApplication::focusWidget();
            while (w && w->objectName().isEmpty())
                w = w->parentWidget(); // the line edit inside a combo box
            order.append(w ? w->objectName() : QString());
        }
        QCOMPARE(order, (QStringList{QStringLiteral("Text3"), QStringLiteral("Command2"), QStringLiteral("Text4"), QStringLiteral("Combo3"), QStringLiteral("Combo4"), QStringLiteral("Text1")}));
    }

    void chatThroughTheKeyboard()
    {
        CaptureServer server;
        QVERIFY(server.listen(QStringLiteral("127.0.0.49"), 5001));
        QVERIFY(writeFile(QStringLiteral("PCIP.dat"), destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.49")).toBytes()));
        QApplication::setActiveWindow(m_window);
        static_cast<QLineEdit *>(child("Text1"))->setText(QStringLiteral("a"));
        child("Command2")->setFocus();
        QTest::keyClick(child("Command2"), Qt::Key_Return); // Enter presses a focused button
        QTRY_VERIFY(child("Command1")->isEnabled());
        auto *text2 = static_cast<QLineEdit *>(child("Text2"));
        QCOMPARE(QApplication::focusWidget(), text2); // ready for the first line
        QTRY_VERIFY(!server.received().isEmpty());
        const QByteArray afterJoin = server.received();

        // The Enter that confirms a composition does not send.
        QInputMethodEvent composing(QStringLiteral("にほん"), {});
        QApplication::sendEvent(text2, &composing);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("日本"));
        QApplication::sendEvent(text2, &commit);
        QCOMPARE(text2->text(), QStringLiteral("日本"));
        QTest::keyClick(text2, Qt::Key_Return);
        QCOMPARE(text2->text(), QString());
        QTRY_VERIFY(server.received().startsWith(afterJoin + Cp932::encode(QStringLiteral("NormalTel日本"))));

        // Every line end of a reply is a line break; Text4 gets the left part.
        server.reply(Cp932::encode(QStringLiteral("太郎\r\n<b>花子</b>/*/1\r\n2\n3\r4")));
        QTRY_COMPARE(static_cast<QPlainTextEdit *>(child("Text3"))->toPlainText(),
                     QStringLiteral("1\n2\n3\n4"));
        QCOMPARE(static_cast<QPlainTextEdit *>(child("Text4"))->toPlainText(),
                 QStringLiteral("太郎\n<b>花子</b>"));

        // A reply nobody asked for keeps the reader at the end.
        const QString lines = QStringLiteral("/*/") + QStringLiteral("x\r\n").repeated(200);
        auto *text3 = static_cast<QPlainTextEdit *>(child("Text3"));
        server.reply(Cp932::encode(lines));
        QTRY_VERIFY(text3->verticalScrollBar()->maximum() > 0);
        text3->verticalScrollBar()->setValue(text3->verticalScrollBar()->maximum());
        server.reply(Cp932::encode(lines + QStringLiteral("x\r\n200")));
        QTRY_VERIFY(text3->toPlainText().endsWith(QStringLiteral("200")));
        QCOMPARE(text3->verticalScrollBar()->value(), text3->verticalScrollBar()->maximum());
        // The posted line no reply showed comes back when the server goes.
        server.peer()->disconnectFromHost();
        QTRY_COMPARE(text2->text(), QStringLiteral("日本"));
        QCOMPARE(static_cast<QLabel *>(child("SB"))->text(), QStringLiteral("Harrox側がプログラムを閉じました（届かなかった文を送信文に戻しました）"));
    }

    void displaySizes_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("points");
        QTest::newRow("大きい") << QStringLiteral("大きい") << 18;
        QTest::newRow("中くらい") << QStringLiteral("中くらい") << 14;
        QTest::newRow("小さい") << QStringLiteral("小さい") << 9;
    }

    void displaySizes()
    {
        QFETCH(QString, size);
        QFETCH(int, points);
        // The text size is picked from the list, never typed, and is the
        // display size's business no more than this is the text size's.
        auto *combo3 = static_cast<QComboBox *>(child("Combo3"));
        combo3->setEditText(QStringLiteral("30"));
        QCOMPARE(child("Text3")->font().pointSize(), 9);
        combo3->setFocus();
        for (int k = 0; k < 6; ++k)
            QTest::keyClick(combo3, Qt::Key_Down); // picks "10" … "22"
        menuItem(size)->trigger();
        QCOMPARE(m_desk->module.DisplayFontSize, qint16(points));
        for (const QString &other : {QStringLiteral("大きい"), QStringLiteral("中くらい"), QStringLiteral("小さい")})
            QCOMPARE(menuItem(other)->isChecked(), other == size);
        QCOMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
        for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Text1", "Text2", "Combo3",
                                 "Combo4", "Command1", "Command2", "Command3"})
            QVERIFY2(child(name)->font().pointSize() == points, name);
        for (const char *name : {"Text3", "Text4"})
            QVERIFY2(child(name)->font().pointSize() == 22, name);
        // Captions are whole, boxes show a line, and the rows do not overlap.
        for (const char *name : {"Label1", "Label2", "Label3", "Label4"}) {
            auto *label = static_cast<QLabel *>(child(name));
            QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()), name);
        }
        for (const char *name : {"Text1", "Text2"})
            QVERIFY2(child(name)->height() >= child(name)->fontMetrics().height(), name);
        QVERIFY(child("Label3")->geometry().right() <= child("Combo3")->geometry().left());
        QVERIFY(child("Combo3")->geometry().right() < child("Label4")->geometry().left());
        auto *combo4 = static_cast<QComboBox *>(child("Combo4"));
        QVERIFY(combo4->lineEdit()->width() >= combo4->fontMetrics().horizontalAdvance(QStringLiteral("1000")) + 4);
        QVERIFY(child("Text2")->geometry().right() < child("Command1")->geometry().left() + 1);
    }

    void restoreAfterMinimiseRunsFullPass()
    {
        const QRect text4 = child("Text4")->geometry();
        m_window->showMinimized();
        QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::GuardA);
        m_window->showNormal();
        QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
        QCOMPARE(child("Text4")->geometry(), text4);
    }

    void menusWhileIdle()
    {
        menuItem(QStringLiteral("10秒で更新"))->trigger();
        QVERIFY(menuItem(QStringLiteral("10秒で更新"))->isChecked());
        QVERIFY(!menuItem(QStringLiteral("自動で更新しない"))->isChecked());
        // Help is looked for beside the program, not in the current folder.
        m_window->menuBar()->actions().last()->menu()->actions().last()->trigger();
        QCOMPARE(m_desk->shell.opened, QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/Duvetta.chm")});
        menuItem(QStringLiteral("切断"))->trigger();
        QVERIFY(!m_window->isVisible());
    }

private:
    QWidget *child(const char *name) const
    {
        QWidget *w = m_window->findChild<QWidget *>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    QAction *menuItem(const QString &caption) const
    {
        for (QAction *a : m_window->menuBar()->findChildren<QAction *>())
            if (a->text() == caption)
                return a;
        qFatal("no menu item %s", qPrintable(caption));
    }

    QTemporaryDir m_dir;
    QString m_oldDir;
    std::unique_ptr<FakeBackedForm1<FakeClock>> m_desk;
    form1 *m_window = nullptr;
};

int main(int argc, char *argv[])
{
    LintraApplication app(argc, argv);
    tst_Form1 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"

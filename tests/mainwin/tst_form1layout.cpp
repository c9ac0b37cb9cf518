// The display sizes and the text size, through the real window and menus.
#include "app/module1.h"
#include "mainwin/form1.h"

#include "support/fakes.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

class tst_Form1Layout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void largeSizeFontsInALargeWindow();
    void pickInNarrowWindowStillChangesSize();
    void textSizeIndependentOfDisplaySize();
    void controlsFitTheirFont_data();
    void controlsFitTheirFont();
    void restoreAfterMinimiseRunsFullPass();

private:
    QWidget *child(const char *name) const
    {
        QWidget *w = m_window->findChild<QWidget *>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    void pick(const QString &caption)
    {
        for (QAction *a : m_window->menuBar()->findChildren<QAction *>())
            if (a->text() == caption) {
                a->trigger();
                return;
            }
        QFAIL("no such menu item");
    }
    bool checked(const QString &caption) const
    {
        for (QAction *a : m_window->menuBar()->findChildren<QAction *>())
            if (a->text() == caption)
                return a->isChecked();
        return false;
    }

    RecordingMessageBox m_box;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};
    RecordingShellOpen m_shell;
    Module1 m_module;
    std::unique_ptr<form1> m_window;
};

static const char *const DisplayControls[] = {"Label1", "Label2", "Label3", "Label4",
                                              "Text1",  "Text2",  "Combo3", "Combo4",
                                              "Command1", "Command2", "Command3"};

void tst_Form1Layout::init()
{
    m_module = Module1();
    m_window = std::make_unique<form1>(m_module, m_box, m_clock, m_shell);
    m_window->resize(900, 600);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_Form1Layout::cleanup()
{
    m_window.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_Form1Layout::largeSizeFontsInALargeWindow()
{
    QCOMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
    const int areaPoints = child("Text3")->font().pointSize();
    pick(QStringLiteral("大きい"));
    QCOMPARE(m_module.DisplayFontSize, qint16(18));
    QVERIFY(checked(QStringLiteral("大きい")));
    QVERIFY(!checked(QStringLiteral("中くらい")));
    QVERIFY(!checked(QStringLiteral("小さい")));
    QCOMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
    for (const char *name : DisplayControls)
        QVERIFY2(child(name)->font().pointSize() == 18, name);
    QCOMPARE(child("Text3")->font().pointSize(), areaPoints);
    QCOMPARE(child("Text4")->font().pointSize(), areaPoints);
}

void tst_Form1Layout::pickInNarrowWindowStillChangesSize()
{
    m_window->resize(60, 600);
    QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::GuardA);
    const QRect text2 = child("Text2")->geometry();
    pick(QStringLiteral("中くらい"));
    QCOMPARE(m_window->lastPass(), DisplayLayout::Reached::GuardA);
    QCOMPARE(m_module.DisplayFontSize, qint16(14));
    QVERIFY(checked(QStringLiteral("中くらい")));
    QCOMPARE(child("Label2")->font().pointSize(), 14);
    QCOMPARE(child("Text2")->font().pointSize(), 9); // beyond the guard: untouched
    QCOMPARE(child("Text2")->geometry(), text2);

    m_window->resize(900, 600);
    QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
    QCOMPARE(child("Text2")->font().pointSize(), 14);
}

void tst_Form1Layout::textSizeIndependentOfDisplaySize()
{
    auto *combo3 = static_cast<QComboBox *>(child("Combo3"));
    combo3->setFocus();
    for (int k = 0; k < 6; ++k)
        QTest::keyClick(combo3, Qt::Key_Down); // to "22"
    QCOMPARE(combo3->currentText(), QStringLiteral("22"));
    QCOMPARE(child("Text3")->font().pointSize(), 22);
    QCOMPARE(child("Text4")->font().pointSize(), 22);
    QCOMPARE(child("Text1")->font().pointSize(), 9);
    pick(QStringLiteral("大きい"));
    QCOMPARE(child("Text3")->font().pointSize(), 22);
    QCOMPARE(child("Text4")->font().pointSize(), 22);
    pick(QStringLiteral("小さい"));
    QCOMPARE(child("Text3")->font().pointSize(), 22);
}

void tst_Form1Layout::controlsFitTheirFont_data()
{
    QTest::addColumn<QString>("size");
    QTest::newRow("大きい") << QStringLiteral("大きい");
    QTest::newRow("中くらい") << QStringLiteral("中くらい");
    QTest::newRow("小さい") << QStringLiteral("小さい");
}

void tst_Form1Layout::controlsFitTheirFont()
{
    QFETCH(QString, size);
    pick(size);
    QCOMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
    // Captions are whole, and the single-line boxes show a line.
    for (const char *name : {"Label1", "Label2", "Label3", "Label4"}) {
        auto *label = static_cast<QLabel *>(child(name));
        QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()), name);
    }
    for (const char *name : {"Text1", "Text2"})
        QVERIFY2(child(name)->height() >= child(name)->fontMetrics().height(), name);
    // The option row does not overlap itself.
    QVERIFY(child("Label3")->geometry().right() <= child("Combo3")->geometry().left());
    QVERIFY(child("Combo3")->geometry().right() < child("Label4")->geometry().left());
    QVERIFY(child("Label4")->geometry().right() < child("Combo4")->geometry().left());
    QVERIFY(child("Text2")->geometry().right() < child("Command1")->geometry().left() + 1);
}

void tst_Form1Layout::restoreAfterMinimiseRunsFullPass()
{
    const QRect text4 = child("Text4")->geometry();
    m_window->showMinimized();
    QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::GuardA);
    QCOMPARE(child("Text4")->geometry(), text4);
    m_window->showNormal();
    QTRY_COMPARE(m_window->lastPass(), DisplayLayout::Reached::End);
    QCOMPARE(child("Text4")->geometry(), text4);
}

QTEST_MAIN(tst_Form1Layout)
#include "tst_form1layout.moc"

// The main window driven through its real widgets, against test servers on
// loopback addresses, with the message box and the clock replaced.
#include "app/lintraapplication.h"
#include "app/module1.h"
#include "destinations/pcipfile.h"
#include "mainwin/form1.h"
#include "wire/cp932.h"

#include "support/captureserver.h"
#include "support/fakes.h"
#include "support/records.h"
#include "support/silentlistener.h"

#include <QAction>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

constexpr quint16 Port = 5001;


} // namespace

class tst_Form1 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialState();
    void titleClockAtStart();
    void emptyNameRefusedTouchesNothing();
    void missingFileShowsBothBoxes();
    void noMarkedDestination();
    void joinSendRefreshExactBytes();
    void repliesReplaceBothAreas();
    void doubleByteSplitAcrossReads();
    void walkOrderSkipsUnmarkedAndPartial();
    void refusedDestinationWaitsItsTurn();
    void silentDestinationThenNext();
    void secondWalkDuringWaitStartsNothing();
    void serverClosesLink();
    void serverClosingAtOnceLeavesNoSendButton();
    void automaticRefresh();
    void automaticRefreshAfterLongIdle();
    void leaveClosesSocketAndWindow();
    void menuDisconnectWhileIdle();
    void closeDuringWait();
    void imeCommitDoesNotSend();
    void textSizePick();
    void accessibleNamesAndTabOrder();

private:
    template<typename T> T *child(const char *name)
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    QAction *menuItem(const QString &caption);
    void writeDestinations(const QList<PCIPRecord> &records, const QByteArray &tail = {});
    // Joins through the real button; returns the server's connection index.
    bool joinAs(const QString &name, CaptureServer &server);
    QString joinRequest(const QString &name, CaptureServer &server, int index = 0);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    RecordingMessageBox m_box;
    std::unique_ptr<FakeClock> m_clock;
    RecordingShellOpen m_shell;
    Module1 m_module;
    std::unique_ptr<form1> m_window;
    QStringList m_statuses;
    QTimer m_ticker; // moves the fake clock on while a walk waits
};

void tst_Form1::initTestCase()
{
    m_ticker.setInterval(20);
    connect(&m_ticker, &QTimer::timeout, this, [this] { m_clock->advance(1); });
}

void tst_Form1::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_oldDir = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    m_box.shown.clear();
    m_clock = std::make_unique<FakeClock>(QDateTime(QDate(2001, 3, 5), QTime(15, 7, 0)));
    m_module = Module1();
    m_window = std::make_unique<form1>(m_module, m_box, *m_clock, m_shell);
    child<QTimer>("Timer1")->stop(); // ticks come from the tests
    m_window->link().setPollInterval(5);
    m_statuses.clear();
    connect(m_window.get(), &form1::statusTextChanged, this,
            [this](const QString &t) { m_statuses.append(t); });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_Form1::cleanup()
{
    m_ticker.stop();
    m_window.reset();
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QAction *tst_Form1::menuItem(const QString &caption)
{
    const QList<QAction *> actions = m_window->menuBar()->findChildren<QAction *>();
    for (QAction *a : actions)
        if (a->text() == caption)
            return a;
    qFatal("no menu item %s", qPrintable(caption));
}

void tst_Form1::writeDestinations(const QList<PCIPRecord> &records, const QByteArray &tail)
{
    QVERIFY(PCIPFile::rewrite(QStringLiteral("PCIP.dat"), records));
    if (!tail.isEmpty()) {
        QFile f(QStringLiteral("PCIP.dat"));
        QVERIFY(f.open(QIODevice::Append));
        f.write(tail);
    }
}

QString tst_Form1::joinRequest(const QString &name, CaptureServer &server, int index)
{
    return QStringLiteral("CanEnter?") + name + QStringLiteral("/*/~")
           + server.peer(index)->peerAddress().toString() + QStringLiteral("/**/10");
}

bool tst_Form1::joinAs(const QString &name, CaptureServer &server)
{
    child<QLineEdit>("Text1")->setText(name);
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    return server.connections() > 0 && child<QPushButton>("Command1")->isEnabled();
}

void tst_Form1::initialState()
{
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
    QVERIFY(!child<QPushButton>("Command1")->isEnabled());
    QVERIFY(!child<QPushButton>("Command3")->isEnabled());
    QVERIFY(!child<QLineEdit>("Text2")->isEnabled());
    QVERIFY(child<QPlainTextEdit>("Text3")->isReadOnly());
    QVERIFY(child<QPlainTextEdit>("Text4")->isReadOnly());
    auto *combo3 = child<QComboBox>("Combo3");
    QCOMPARE(combo3->count(), 7);
    QCOMPARE(combo3->itemText(6), QStringLiteral("22"));
    QCOMPARE(combo3->currentText(), QStringLiteral("9"));
    auto *combo4 = child<QComboBox>("Combo4");
    QCOMPARE(combo4->count(), 5);
    QCOMPARE(combo4->itemText(4), QStringLiteral("50"));
    QCOMPARE(combo4->currentText(), QStringLiteral("10"));
    QVERIFY(menuItem(QStringLiteral("小さい"))->isChecked());
    QVERIFY(!menuItem(QStringLiteral("大きい"))->isChecked());
    QVERIFY(menuItem(QStringLiteral("自動で更新しない"))->isChecked());
    QCOMPARE(m_module.DisplayFontSize, qint16(9));
    QCOMPARE(m_window->link().LinkUp, VBFalse);
    QCOMPARE(child<QLabel>("SB")->text(), QString());
    QVERIFY(child<QLabel>("SB")->parent() == m_window->statusBar());
}

void tst_Form1::titleClockAtStart()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Lintra時刻は平成13年3月5日(月)午後3時7分"));
    m_clock->advance(60);
    m_window->link().Timer1_Timer();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Lintra時刻は平成13年3月5日(月)午後3時8分"));
}

void tst_Form1::emptyNameRefusedTouchesNothing()
{
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QCOMPARE(m_box.texts(), QStringList{QStringLiteral("名前を入力してください")});
    QCOMPARE(m_box.shown[0].title, QStringLiteral("Lintra"));
    QVERIFY(!QFile::exists(QStringLiteral("PCIP.dat")));
    QVERIFY(m_statuses.isEmpty());
    QVERIFY(child<QPushButton>("Command2")->isEnabled());

    // A name of spaces is a name.
    child<QLineEdit>("Text1")->setText(QStringLiteral("  "));
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QVERIFY(QFile::exists(QStringLiteral("PCIP.dat")));
}

void tst_Form1::missingFileShowsBothBoxes()
{
    child<QLineEdit>("Text1")->setText(QStringLiteral("ゲスト"));
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QCOMPARE(m_box.texts(),
             (QStringList{QStringLiteral("接続先の設定をしてから「接続/参加」ボタンを押してください"),
                          QStringLiteral("接続先の設定を確認してください")}));
    QCOMPARE(m_box.shown[0].title, QStringLiteral("Lintra"));
    QCOMPARE(m_box.shown[1].title, QStringLiteral("Lintra(接続できませんでした)"));
    QCOMPARE(QFileInfo(QStringLiteral("PCIP.dat")).size(), 0);
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
    QCOMPARE(child<QLabel>("SB")->text(), QString());
}

void tst_Form1::noMarkedDestination()
{
    writeDestinations({destination(VBFalse, QStringLiteral("off"), QStringLiteral("127.0.0.31")),
                       destination(1, QStringLiteral("one"), QStringLiteral("127.0.0.31"))});
    child<QLineEdit>("Text1")->setText(QStringLiteral("ゲスト"));
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QCOMPARE(m_box.texts(), QStringList{QStringLiteral("接続先の設定を確認してください")});
    QCOMPARE(m_statuses, QStringList{QString()});
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
}

void tst_Form1::joinSendRefreshExactBytes()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.32"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral(" 本社 "), QStringLiteral("127.0.0.32"))});
    QVERIFY(joinAs(QStringLiteral(" ゲ/*/~スト "), server));
    QCOMPARE(m_statuses.first(), QStringLiteral("「Harrox」本社に接続中"));
    QCOMPARE(child<QLabel>("SB")->text(), QStringLiteral(" 接続できました！通信できます。"));
    QVERIFY(!child<QPushButton>("Command2")->isEnabled());
    QVERIFY(child<QPushButton>("Command3")->isEnabled());
    QVERIFY(child<QLineEdit>("Text2")->isEnabled());
    QCOMPARE(m_window->link().LinkUp, VBTrue);
    const QString join = joinRequest(QStringLiteral(" ゲ/*/~スト "), server);
    QTRY_COMPARE(server.received(), Cp932::encode(join));

    const QString me = server.peer()->peerAddress().toString();
    auto *text2 = child<QLineEdit>("Text2");
    QTest::keyClicks(text2, QStringLiteral(" a/**/b "));
    QTest::keyClick(text2, Qt::Key_Return);
    QCOMPARE(text2->text(), QString());
    QString expected = join + QStringLiteral("NormalTel a/**/b /*/~") + me + QStringLiteral("/**/10");
    QTRY_COMPARE(server.received(), Cp932::encode(expected));

    child<QComboBox>("Combo4")->setEditText(QStringLiteral("x 7"));
    QTest::mouseClick(child<QPushButton>("Command1"), Qt::LeftButton);
    QTest::keyClick(text2, Qt::Key_Enter);
    expected += (QStringLiteral("/Reflesh//*/~") + me + QStringLiteral("/**/x 7")).repeated(2);
    QTRY_COMPARE(server.received(), Cp932::encode(expected));
    QCOMPARE(child<QComboBox>("Combo4")->currentText(), QStringLiteral("x 7"));
    QVERIFY(m_box.shown.isEmpty());
}

void tst_Form1::repliesReplaceBothAreas()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.33"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.33"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    auto *text3 = child<QPlainTextEdit>("Text3");
    auto *text4 = child<QPlainTextEdit>("Text4");

    server.reply(Cp932::encode(QStringLiteral("太郎\r\n<b>花子</b>/*/1\r\n2\n3\r4/*/<img src=x>")));
    QTRY_COMPARE(text3->toPlainText(), QStringLiteral("1\n2\n3\n4/*/<img src=x>"));
    QCOMPARE(text4->toPlainText(), QStringLiteral("太郎\n<b>花子</b>"));

    server.reply("no separator");
    QTRY_COMPARE(text3->toPlainText(), QStringLiteral("no separator"));
    QCOMPARE(text4->toPlainText(), QString());
}

void tst_Form1::doubleByteSplitAcrossReads()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.34"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.34"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    auto *text3 = child<QPlainTextEdit>("Text3");
    server.reply("L/*/R\x83");
    QTRY_COMPARE(text3->toPlainText(), QStringLiteral("R"));
    server.reply("\x51/*/x");
    QTRY_COMPARE(text3->toPlainText(), QStringLiteral("x"));
    QCOMPARE(child<QPlainTextEdit>("Text4")->toPlainText(), QStringLiteral("ゲ"));
}

void tst_Form1::walkOrderSkipsUnmarkedAndPartial()
{
    CaptureServer unmarked, oddFlag, partial, live;
    QVERIFY(unmarked.listen(QStringLiteral("127.0.0.35"), Port));
    QVERIFY(oddFlag.listen(QStringLiteral("127.0.0.36"), Port));
    QVERIFY(live.listen(QStringLiteral("127.0.0.37"), Port));
    QVERIFY(partial.listen(QStringLiteral("127.0.0.38"), Port));
    const QByteArray partialRecord =
        destination(VBTrue, QStringLiteral("p"), QStringLiteral("127.0.0.38")).toBytes().first(36);
    writeDestinations({destination(VBFalse, QStringLiteral("u"), QStringLiteral("127.0.0.35")),
                       destination(1, QStringLiteral("o"), QStringLiteral("127.0.0.36")),
                       destination(VBTrue, QStringLiteral("live"), QStringLiteral("127.0.0.37   "))},
                      partialRecord);
    QVERIFY(joinAs(QStringLiteral("a"), live));
    QCOMPARE(unmarked.connections(), 0);
    QCOMPARE(oddFlag.connections(), 0);
    QCOMPARE(partial.connections(), 0);
    QCOMPARE(m_statuses.first(), QStringLiteral("「Harrox」liveに接続中"));
}

void tst_Form1::refusedDestinationWaitsItsTurn()
{
    // Nothing listens on 127.0.0.39: the error event comes at once, yet the
    // walk gives the destination its whole-second wait.
    writeDestinations({destination(VBTrue, QStringLiteral("none"), QStringLiteral("127.0.0.39"))});
    child<QLineEdit>("Text1")->setText(QStringLiteral("a"));
    const QDateTime start = m_clock->now();
    QDateTime boxTime;
    QObject::connect(m_window.get(), &form1::statusTextChanged, this, [&](const QString &t) {
        if (t.isEmpty() && !boxTime.isValid())
            boxTime = m_clock->now();
    });
    m_ticker.start();
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    m_ticker.stop();
    QCOMPARE(start.secsTo(boxTime), 3);
    QCOMPARE(m_statuses.size(), 3);
    QCOMPARE(m_statuses[0], QStringLiteral("「Harrox」noneに接続中"));
    // The error event's description, in the toolkit's Japanese.
    QVERIFY(!m_statuses[1].isEmpty());
    QCOMPARE(m_statuses[1], QStringLiteral("接続を拒否されました"));
    QCOMPARE(m_statuses[2], QString());
    QCOMPARE(m_box.texts(), QStringList{QStringLiteral("接続先の設定を確認してください")});
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
}

void tst_Form1::silentDestinationThenNext()
{
    SilentListener silent;
    QVERIFY(silent.listen("127.0.0.40", Port));
    CaptureServer live;
    QVERIFY(live.listen(QStringLiteral("127.0.0.41"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("silent"), QStringLiteral("127.0.0.40")),
                       destination(VBTrue, QStringLiteral("live"), QStringLiteral("127.0.0.41"))});
    const QDateTime start = m_clock->now();
    QDateTime secondAttempt;
    QObject::connect(m_window.get(), &form1::statusTextChanged, this, [&](const QString &t) {
        if (t.contains(QStringLiteral("live")))
            secondAttempt = m_clock->now();
    });
    m_ticker.start();
    QVERIFY(joinAs(QStringLiteral("a"), live));
    m_ticker.stop();
    QCOMPARE(start.secsTo(secondAttempt), 3);
    QVERIFY(m_box.shown.isEmpty());
}

void tst_Form1::secondWalkDuringWaitStartsNothing()
{
    SilentListener silent;
    QVERIFY(silent.listen("127.0.0.42", Port));
    writeDestinations({destination(VBTrue, QStringLiteral("silent"), QStringLiteral("127.0.0.42"))});
    child<QLineEdit>("Text1")->setText(QStringLiteral("a"));
    auto *command2 = child<QPushButton>("Command2");
    int nestedClicks = 0;
    QTimer::singleShot(50, this, [&] {
        QVERIFY(m_window->link().isWalking());
        command2->setEnabled(true); // as the error event would
        QTest::mouseClick(command2, Qt::LeftButton);
        ++nestedClicks;
        m_ticker.start();
    });
    QTest::mouseClick(command2, Qt::LeftButton);
    m_ticker.stop();
    QCOMPARE(nestedClicks, 1);
    QCOMPARE(m_statuses.count(QStringLiteral("「Harrox」silentに接続中")), 1);
    QCOMPARE(m_box.texts(), QStringList{QStringLiteral("接続先の設定を確認してください")});
}

void tst_Form1::serverClosesLink()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.43"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.43"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    server.reply("m/*/last words");
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("last words"));
    server.peer()->close();
    QTRY_COMPARE(child<QLabel>("SB")->text(), QStringLiteral("Harrox側がプログラムを閉じました"));
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
    QVERIFY(!child<QPushButton>("Command1")->isEnabled());
    QVERIFY(!child<QPushButton>("Command3")->isEnabled());
    QVERIFY(!child<QLineEdit>("Text2")->isEnabled());
    QCOMPARE(m_window->link().LinkUp, VBFalse);
    QCOMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("last words"));

    // Joining again works, under the name typed since.
    QVERIFY(joinAs(QStringLiteral("b"), server));
    QTRY_COMPARE(server.received(1), Cp932::encode(joinRequest(QStringLiteral("b"), server, 1)));
}

void tst_Form1::serverClosingAtOnceLeavesNoSendButton()
{
    CaptureServer server;
    server.closeAtOnce = true;
    QVERIFY(server.listen(QStringLiteral("127.0.0.44"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.44"))});
    child<QLineEdit>("Text1")->setText(QStringLiteral("a"));
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QTRY_COMPARE(child<QLabel>("SB")->text(), QStringLiteral("Harrox側がプログラムを閉じました"));
    QVERIFY(!child<QPushButton>("Command1")->isEnabled());
    QVERIFY(child<QPushButton>("Command2")->isEnabled());
    // A send now reports nothing and stops nothing.
    m_window->link().Command1_Click();
}

void tst_Form1::automaticRefresh()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.45"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.45"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    QTRY_VERIFY(!server.received().isEmpty());
    const QByteArray afterJoin = server.received();
    const QByteArray refresh =
        "/Reflesh//*/~" + server.peer()->peerAddress().toString().toLatin1() + "/**/10";
    ChatLink &link = m_window->link();

    menuItem(QStringLiteral("10秒で更新"))->trigger();
    QVERIFY(menuItem(QStringLiteral("10秒で更新"))->isChecked());
    QVERIFY(!menuItem(QStringLiteral("自動で更新しない"))->isChecked());
    QCOMPARE(link.RefreshSeconds, qint16(10));
    for (int second = 1; second <= 10; ++second) {
        m_clock->advance(1);
        link.Timer1_Timer();
    }
    QTest::qWait(50);
    QCOMPARE(server.received(), afterJoin); // 10 seconds is not more than 10
    m_clock->advance(1);
    link.Timer1_Timer();
    QTRY_COMPARE(server.received(), afterJoin + refresh);
    for (int second = 1; second <= 11; ++second) {
        m_clock->advance(1);
        link.Timer1_Timer();
    }
    QTRY_COMPARE(server.received(), afterJoin + refresh + refresh);

    menuItem(QStringLiteral("自動で更新しない"))->trigger();
    m_clock->advance(100);
    link.Timer1_Timer();
    QTest::qWait(50);
    QCOMPARE(server.received(), afterJoin + refresh + refresh);
}

void tst_Form1::automaticRefreshAfterLongIdle()
{
    ChatLink &link = m_window->link();
    menuItem(QStringLiteral("1分で更新"))->trigger();
    m_clock->advance(10 * 3600); // far past what 16 bits can count
    link.Timer1_Timer();         // the link is down: nothing moves
    QCOMPARE(link.LastRefresh.secsTo(m_clock->now()), 10 * 3600);

    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.46"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.46"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    link.Timer1_Timer();
    QCOMPARE(link.LastRefresh, m_clock->now());
    QTRY_VERIFY(server.received().endsWith("/Reflesh//*/~127.0.0.1/**/10"));
}

void tst_Form1::leaveClosesSocketAndWindow()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.47"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.47"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    QTRY_VERIFY(!server.received().isEmpty());
    const QByteArray sent = server.received();
    QSignalSpy gone(server.peer(), &QTcpSocket::disconnected);
    QTest::mouseClick(child<QPushButton>("Command3"), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
    QTRY_COMPARE(gone.size(), 1);
    QCOMPARE(server.received(), sent); // nothing is said on leaving
}

void tst_Form1::menuDisconnectWhileIdle()
{
    menuItem(QStringLiteral("切断"))->trigger();
    QVERIFY(!m_window->isVisible());
}

void tst_Form1::closeDuringWait()
{
    SilentListener silent;
    QVERIFY(silent.listen("127.0.0.48", Port));
    writeDestinations({destination(VBTrue, QStringLiteral("silent"), QStringLiteral("127.0.0.48"))});
    child<QLineEdit>("Text1")->setText(QStringLiteral("a"));
    QTimer::singleShot(50, m_window.get(), &QWidget::close);
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->link().isWalking());
    QVERIFY(m_box.shown.isEmpty());
}

void tst_Form1::imeCommitDoesNotSend()
{
    CaptureServer server;
    QVERIFY(server.listen(QStringLiteral("127.0.0.49"), Port));
    writeDestinations({destination(VBTrue, QStringLiteral("s"), QStringLiteral("127.0.0.49"))});
    QVERIFY(joinAs(QStringLiteral("a"), server));
    QTRY_VERIFY(!server.received().isEmpty());
    const QByteArray afterJoin = server.received();
    auto *text2 = child<QLineEdit>("Text2");
    text2->setFocus();

    QInputMethodEvent composing(QStringLiteral("にほん"), {});
    QApplication::sendEvent(text2, &composing);
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(text2, &commit); // the Enter that confirms
    QTest::qWait(50);
    QCOMPARE(server.received(), afterJoin);
    QCOMPARE(text2->text(), QStringLiteral("日本"));

    QTest::keyClick(text2, Qt::Key_Return);
    QTRY_VERIFY(server.received().startsWith(afterJoin + Cp932::encode(QStringLiteral("NormalTel日本"))));
}

void tst_Form1::textSizePick()
{
    auto *combo3 = child<QComboBox>("Combo3");
    auto *text3 = child<QPlainTextEdit>("Text3");
    auto *text4 = child<QPlainTextEdit>("Text4");
    const qreal before = text3->font().pointSizeF();
    combo3->setEditText(QStringLiteral("30")); // typing picks nothing
    QCOMPARE(text3->font().pointSizeF(), before);
    combo3->setFocus();
    QTest::keyClick(combo3, Qt::Key_Down); // picks "10" after "9"
    QCOMPARE(text3->font().pointSizeF(), 10.0);
    QCOMPARE(text4->font().pointSizeF(), 10.0);
    QCOMPARE(child<QLineEdit>("Text1")->font().pointSizeF(), before);
}

void tst_Form1::accessibleNamesAndTabOrder()
{
    for (const char *name : {"Text1", "Text2", "Text3", "Text4", "Combo3", "Combo4", "Command1",
                             "Command2", "Command3", "SB"})
        QVERIFY2(!child<QWidget>(name)->accessibleName().isEmpty(), name);
    QCOMPARE(child<QLineEdit>("Text1")->accessibleName(), QStringLiteral("名前"));
    QCOMPARE(child<QComboBox>("Combo4")->accessibleName(), QStringLiteral("表示行数(行)"));

    // Not connected: the disabled message box and send button are skipped.
    QApplication::setActiveWindow(m_window.get());
    child<QLineEdit>("Text1")->setFocus();
    QStringList order;
    for (int k = 0; k < 6; ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *w = QApplication::focusWidget();
        while (w && w->objectName().isEmpty())
            w = w->parentWidget(); // the line edit inside a combo box
        order.append(w ? w->objectName() : QString());
    }
    QCOMPARE(order, (QStringList{QStringLiteral("Text3"), QStringLiteral("Command2"),
                                 QStringLiteral("Text4"), QStringLiteral("Combo3"),
                                 QStringLiteral("Combo4"), QStringLiteral("Text1")}));
}

int main(int argc, char *argv[])
{
    LintraApplication app(argc, argv);
    app.installToolkitTranslations();
    tst_Form1 test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"

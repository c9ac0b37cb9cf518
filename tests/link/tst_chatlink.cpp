// The chat link without a window: a recording view, test servers on
// loopback addresses, a stepped clock and a recording message box.
#include "chatlink.h"
#include "wire/cp932.h"

#include "fakes.h"
#include "silentlistener.h"
#include "support/captureserver.h"
#include "support/recordingview.h"
#include "support/records.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <netinet/tcp.h>

namespace {

constexpr quint16 Port = 5001;
const QString CheckDestinations = QStringLiteral("接続先の設定を確認してください");
const QString Connected = QStringLiteral(" 接続できました！通信できます。");
const QString Closed = QStringLiteral("Harrox側がプログラムを閉じました");
const QString LinesBack = QStringLiteral("（届かなかった文を送信文に戻しました）");

} // namespace

class tst_ChatLink : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        m_box.shown.clear();
        m_clock = std::make_unique<FakeClock>(QDateTime(QDate(2001, 3, 5), QTime(15, 7, 0)));
        m_view = std::make_unique<RecordingView>();
        m_link = std::make_unique<ChatLink>(*m_view, m_box, *m_clock, m_buffer,
                                            QStringLiteral("PCIP.dat"));
        m_link->setPollInterval(5);
        m_ticker.setInterval(20);
        connect(&m_ticker, &QTimer::timeout, this, [this] { m_clock->advance(1); });
    }

    void cleanup()
    {
        m_ticker.stop();
        m_ticker.disconnect();
        m_link.reset();
        QDir::setCurrent(m_oldDir);
        m_dir.reset();
    }

    void refusedBeforeTheWalk_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("markedNone");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("titles");
        const QString lintra = QStringLiteral("Lintra"), failed = QStringLiteral("Lintra(接続できませんでした)");
        QTest::newRow("no name") << QString() << false << QStringList{QStringLiteral("名前を入力してください")}
                                 << QStringList{lintra};
        QTest::newRow("no file") << QStringLiteral("  ") << false
                                 << QStringList{QStringLiteral("接続先の設定をしてから「接続/参加」ボタンを押してください"),
                                                CheckDestinations}
                                 << QStringList{lintra, failed};
        QTest::newRow("none marked") << QStringLiteral("a") << true << QStringList{CheckDestinations} << QStringList{failed};
    }

    void refusedBeforeTheWalk()
    {
        QFETCH(QString, name);
        QFETCH(bool, markedNone);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, titles);
        if (markedNone)
            writeDestinations({destination(VBFalse, QStringLiteral("off"), QStringLiteral("127.0.0.31")),
                               destination(1, QStringLiteral("odd"), QStringLiteral("127.0.0.31"))});
        m_view->name = name;
        m_link->Command2_Click();
        QCOMPARE(m_box.texts(), boxes);
        for (int k = 0; k < titles.size(); ++k)
            QCOMPARE(m_box.shown[k].title, titles[k]);
        // Without a name nothing is touched; a name of spaces is a name.
        QCOMPARE(QFile::exists(QStringLiteral("PCIP.dat")), !name.isEmpty());
        QVERIFY(m_view->join);
        QCOMPARE(m_view->statuses, name.isEmpty() ? QStringList() : QStringList{QString()});
    }

    void walkSkipsRecordsNotToTry()
    {
        CaptureServer unmarked, oddFlag, partial, live;
        QVERIFY(unmarked.listen(QStringLiteral("127.0.0.35"), Port));
        QVERIFY(oddFlag.listen(QStringLiteral("127.0.0.36"), Port));
        QVERIFY(live.listen(QStringLiteral("127.0.0.37"), Port));
        QVERIFY(partial.listen(QStringLiteral("127.0.0.38"), Port));
        // Each address group is decimal, leading zeros and all: 037 is not 31.
        writeDestinations({destination(VBFalse, QStringLiteral("u"), QStringLiteral("127.0.0.35")),
                           destination(1, QStringLiteral("o"), QStringLiteral("127.0.0.36")),
                           destination(VBTrue, QStringLiteral(" live "), QStringLiteral("127.000.0.037  "))},
                          destination(VBTrue, QStringLiteral("p"), QStringLiteral("127.0.0.38")).toBytes().first(36));
        m_view->name = QStringLiteral("a");
        m_link->Command2_Click();
        QVERIFY(live.connections() == 1 && m_view->send);
        QCOMPARE(unmarked.connections() + oddFlag.connections() + partial.connections(), 0);
        QCOMPARE(m_view->statuses.first(), QStringLiteral("「Harrox」liveに接続中"));
        QCOMPARE(m_view->focused, 1); // the cursor waits in the message box
    }

    void joinSendRefreshExactBytes()
    {
        CaptureServer server;
        QVERIFY(server.listen(QStringLiteral("127.0.0.32"), Port));
        writeDestinations({destination(VBTrue, QStringLiteral(" 本社 "), QStringLiteral("127.0.0.32"))});
        m_view->name = QStringLiteral(" ゲ/*/~スト ");
        m_link->Command2_Click();
        QCOMPARE(m_view->statuses, (QStringList{QStringLiteral("「Harrox」本社に接続中"), Connected}));
        QVERIFY(!m_view->join && m_view->send && m_view->leave && m_view->messageBox);
        QCOMPARE(m_link->LinkUp, VBTrue);
        QByteArray expected = request("CanEnter?", m_view->name, server);
        QTRY_COMPARE(server.received(), expected);

        m_view->message = QStringLiteral(" a/**/b ¢£¬ ");
        m_link->Text2_Enter();
        QCOMPARE(m_view->message, QString());
        expected += request("NormalTel", QStringLiteral(" a/**/b ¢£¬ "), server);
        QTRY_COMPARE(server.received(), expected);
        QVERIFY(expected.contains("\x81\x91\x81\x92\x81\xCA"));

        // An empty message refreshes; the line count goes as typed.
        m_view->lineCount = QStringLiteral("x 7");
        m_link->Command1_Click();
        expected += request("/Reflesh/", QString(), server, QStringLiteral("x 7"));
        QTRY_COMPARE(server.received(), expected);
        QVERIFY(m_box.shown.isEmpty());
    }

    void repliesThenClose()
    {
        CaptureServer server;
        QVERIFY(join(server, QStringLiteral("127.0.0.33")));
        using Reply = QPair<QString, QString>;
        // The same conversation again is no news; a reply without names is.
        const QStringList sent{QStringLiteral("太郎/*/こんにちは"), QStringLiteral("x/*/こんにちは"), QStringLiteral("/*/bye")};
        const QList<Reply> shown{{QStringLiteral("太郎"), QStringLiteral("こんにちは")},
                                 {QStringLiteral("x"), QStringLiteral("こんにちは")},
                                 {QString(), QStringLiteral("bye")}};
        for (int k = 0; k < sent.size(); ++k) {
            server.reply(Cp932::encode(sent[k]));
            QTRY_COMPARE(m_view->replies.size(), k + 1);
            QCOMPARE(m_view->replies[k], shown[k]);
            QCOMPARE(m_view->unread, k == 2 ? 2 : 1);
        }
        // The reply sent right before the close is shown.
        server.reply("m/*/last words");
        server.peer()->disconnectFromHost();
        QTRY_COMPARE(m_view->statuses.last(), QStringLiteral("Harrox側がプログラムを閉じました"));
        QCOMPARE(m_view->replies.value(3), Reply(QStringLiteral("m"), QStringLiteral("last words")));
        QVERIFY(m_view->join && !m_view->send && !m_view->leave && !m_view->messageBox);
        QCOMPARE(m_link->LinkUp, VBFalse);

        // Joining again works, under the name typed since.
        m_view->name = QStringLiteral("b");
        m_link->Command2_Click();
        QVERIFY(m_view->send);
        QTRY_COMPARE(server.received(1), request("CanEnter?", QStringLiteral("b"), server, QStringLiteral("10"), 1));
    }

    void postedLineKeptUntilShown_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("silent"); // the server stops answering, else it closes
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        const QString noReply = QStringLiteral("Harroxから応答がありません");
        QTest::newRow("silent") << QString() << true << noReply + LinesBack << QStringLiteral("お\tはよう 次");
        QTest::newRow("closed") << QString() << false << Closed + LinesBack << QStringLiteral("お\tはよう");
        QTest::newRow("shown, closed") << QStringLiteral("a/*/x\r\n03/05 15:07 a(2)> お はよう") << false << Closed << QString();
        QTest::newRow("not stored") << QStringLiteral("a/*/（保存できなかったため送信されていません）お はよう") << false << Closed << QString();
        QTest::newRow("answered: no timeout") << QStringLiteral("a/*/x") << true << Connected << QString();
    }

    void postedLineKeptUntilShown()
    {
        QFETCH(QString, reply);
        QFETCH(bool, silent);
        QFETCH(QString, status);
        QFETCH(QString, message);
        CaptureServer server;
        QVERIFY(join(server, QStringLiteral("127.0.0.46")));
        m_view->message = QStringLiteral("お\tはよう");
        m_link->Command1_Click();
        if (!reply.isEmpty())
            server.reply(Cp932::encode(reply));
        QTRY_COMPARE(m_view->replies.size(), reply.isEmpty() ? 0 : 1);
        m_view->message = silent && !message.isEmpty() ? QStringLiteral("次") : QString(); // typed meanwhile
        m_clock->advance(15);
        m_link->Timer1_Timer();
        QCOMPARE(m_view->statuses.last(), Connected); // 15 s is not more than 15
        m_clock->advance(1);
        silent ? m_link->Timer1_Timer() : server.peer()->disconnectFromHost();
        QTRY_COMPARE(m_view->statuses.last(), status);
        QCOMPARE(m_view->message, message);
        QCOMPARE(m_view->send, status == Connected);
    }

    void endlessLineStaysCheap()
    {
        CaptureServer server;
        QVERIFY(join(server, QStringLiteral("127.0.0.47")));
        // A dead link is noticed by the kernel: unacknowledged data ends it in 12 s.
        unsigned timeout = 0;
        socklen_t size = sizeof timeout;
        QVERIFY(::getsockopt(int(m_link->findChild<QTcpSocket *>()->socketDescriptor()), IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, &size) == 0 && timeout == 12000);
        // 8 MB without a line break: the loop keeps turning while it comes.
        int beats = 0;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this, [&beats] { ++beats; });
        beat.start(0);
        server.reply("m/*/" + QByteArray(8 << 20, 'a'));
        server.peer()->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(m_view->statuses.last(), Closed, 20000);
        QCOMPARE(m_view->replies.last().second, QString(ReplyAssembler::MaxLineBytes - 4, u'a') + u'…');
        QVERIFY(beats > 32 && m_view->cut > 0 && m_view->replies.size() < 8); // shown whole, not piece by piece
    }

    void attemptWaits_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<int>("movedOn"); // the status that comes after the whole wait
        const QString none = QStringLiteral("「Harrox」noneに接続中");
        // Nothing listens on .39: the error comes at once, yet the walk gives the
        // destination its whole wait. .40 never answers; the walk then goes on.
        QTest::newRow("refused") << false << QStringList{none, QStringLiteral("接続を拒否されました"), QString()}
                                 << 2;
        QTest::newRow("silent, then next") << true << QStringList{none, QStringLiteral("「Harrox」liveに接続中"), Connected} << 1;
    }

    void attemptWaits()
    {
        QFETCH(bool, silent);
        QFETCH(QStringList, statuses);
        QFETCH(int, movedOn);
        SilentListener quiet;
        CaptureServer live;
        QVERIFY(!silent || (quiet.listen("127.0.0.40", Port) && live.listen(QStringLiteral("127.0.0.41"), Port)));
        writeDestinations({destination(VBTrue, QStringLiteral("none"), silent ? QStringLiteral("127.0.0.40") : QStringLiteral("127.0.0.39")),
                           destination(silent ? VBTrue : VBFalse, QStringLiteral("live"), QStringLiteral("127.0.0.41"))});
        const QDateTime start = m_clock->now();
        QList<QDateTime> at;
        m_view->onStatus = [&](const QString &) {
            // A second click during the wait starts no walk inside this one.
            if (at.isEmpty())
                QMetaObject::invokeMethod(
                        m_link.get(), [this] { m_link->Command2_Click(); }, Qt::QueuedConnection);
            at.append(m_clock->now());
        };
        m_ticker.start();
        m_view->name = QStringLiteral("a");
        m_link->Command2_Click();
        m_ticker.stop();
        QCOMPARE(m_view->statuses, statuses);
        QCOMPARE(start.secsTo(at[movedOn]), 3); // more than 2 whole seconds
        QCOMPARE(m_box.texts(), silent ? QStringList() : QStringList{CheckDestinations});
        QCOMPARE(m_view->join, !silent);
    }

    void closeRightAfterConnectLeavesNoSendButton()
    {
        // The close event comes between the connect event and the walk's look.
        m_view->onLineCount = [this] { m_link->ChatDisable(); };
        CaptureServer server;
        QVERIFY(!join(server, QStringLiteral("127.0.0.44")));
        QVERIFY(server.connections() == 1 && !m_view->send);
        m_link->Command1_Click(); // a send now reports nothing and stops nothing
    }

    void automaticRefresh()
    {
        // With the link down nothing moves, however long: past what 16 bits count.
        m_link->set333_Click(1); // 10 seconds: sends at the 11th
        QCOMPARE(m_view->refreshChecked, 1);
        m_clock->advance(10 * 3600);
        m_link->Timer1_Timer();
        QCOMPARE(m_link->LastRefresh.secsTo(m_clock->now()), 10 * 3600);

        CaptureServer server;
        QVERIFY(join(server, QStringLiteral("127.0.0.45")));
        const QByteArray refresh = request("/Reflesh/", QString(), server);
        const QByteArray joined = request("CanEnter?", QStringLiteral("a"), server);
        auto tick = [this](int seconds) {
            for (int k = 0; k < seconds; ++k) {
                m_clock->advance(1);
                m_link->Timer1_Timer();
            }
        };
        tick(1); // up again: the first tick sends
        QCOMPARE(m_link->LastRefresh, m_clock->now());
        tick(10);
        QCOMPARE(m_link->LastRefresh.secsTo(m_clock->now()), 10); // 10 is not more than 10
        tick(1);
        QCOMPARE(m_link->LastRefresh, m_clock->now());
        QTRY_COMPARE(server.received(), joined + refresh + refresh);

        // Answered, so nothing is awaited: only the interval could send.
        QSignalSpy answered(m_link->findChild<ChatSocket *>(), &ChatSocket::received);
        server.peer()->write("a/*/\r\n");
        QVERIFY(answered.wait());
        m_link->set333_Click(0);
        m_clock->advance(100);
        m_link->Timer1_Timer();
        QCOMPARE(m_link->LastRefresh.secsTo(m_clock->now()), 100);
        QCOMPARE(m_view->caption, QStringLiteral("Lintra時刻は平成13年3月6日(火)午前1時8分"));

        // Leaving closes the socket and the window and says nothing.
        QSignalSpy gone(server.peer(), &QTcpSocket::disconnected);
        m_link->Command3_Click();
        QVERIFY(m_view->closed);
        QTRY_COMPARE(gone.size(), 1);
        QCOMPARE(server.received(), joined + refresh + refresh);
    }

private:
    void writeDestinations(const QList<PCIPRecord> &records, const QByteArray &tail = {})
    {
        QByteArray bytes;
        for (const PCIPRecord &r : records)
            bytes += r.toBytes();
        QVERIFY(writeFile(QStringLiteral("PCIP.dat"), bytes + tail));
    }

    // Lists a server at the address as the one destination and joins it.
    bool join(CaptureServer &server, const QString &address, const QString &name = QStringLiteral("a"))
    {
        if (!server.listen(address, Port))
            return false;
        writeDestinations({destination(VBTrue, QStringLiteral("s"), address)});
        m_view->name = name;
        m_link->Command2_Click();
        return server.connections() > 0 && m_view->send;
    }

    QByteArray request(const char *verb, const QString &payload, CaptureServer &server,
                       const QString &lines = QStringLiteral("10"), int index = 0)
    {
        return Cp932::encode(QLatin1String(verb) + payload + QStringLiteral("/*/~")
                             + server.peer(index)->peerAddress().toString() + QStringLiteral("/**/")
                             + lines);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    RecordingMessageBox m_box;
    std::unique_ptr<FakeClock> m_clock;
    PCIPRecord m_buffer;
    std::unique_ptr<RecordingView> m_view;
    std::unique_ptr<ChatLink> m_link;
    QTimer m_ticker; // moves the clock on while a walk waits
};

QTEST_GUILESS_MAIN(tst_ChatLink)
#include "tst_chatlink.moc"

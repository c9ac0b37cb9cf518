// The destination editor through its real widgets, checked byte for byte
// against PCIP.dat, with a recording message box.
#include "app/module1.h"
#include "destinations/form2.h"
#include "destinations/form2window.h"
#include "destinations/pcipfile.h"
#include "mainwin/form1.h"

#include "support/captureserver.h"
#include "support/fakes.h"
#include "support/records.h"
#include "support/silentlistener.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {

const QString File = QStringLiteral("PCIP.dat");


QByteArray fileBytes()
{
    QFile f(File);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void type(Form2Window &w, const QString &name, const QStringList &groups)
{
    w.Text1->setText(name);
    QLineEdit *boxes[] = {w.Text2, w.Text3, w.Text4, w.Text5};
    for (int k = 0; k < 4; ++k) {
        boxes[k]->clear();
        QTest::keyClicks(boxes[k], groups.value(k));
    }
}

QStringList row(Form2Window &w, int k)
{
    const QTreeWidgetItem *item = w.ListView1->topLevelItem(k - 1);
    return item ? QStringList{item->text(0), item->text(1), item->text(2)} : QStringList();
}

void clickRow(Form2Window &w, int k)
{
    QTreeWidget *list = w.ListView1;
    const QRect r = list->visualItemRect(list->topLevelItem(k - 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

} // namespace

class tst_Form2 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openingWithoutFileCreatesIt();
    void addRoundTrip();
    void rowClickModifyRoundTrip();
    void deleteMiddleRowAndCancel();
    void modifyAndDeleteNeedAClickedRow();
    void rejectionInModifyModeKeepsMode();
    void selectedRowSurvivesReopen();
    void selectedRowPastTheEndDoesNothing();
    void oddFlagAndShortAddressRows();
    void fontEnlarge_data();
    void fontEnlarge();
    void unreadableFileIsReported();
    void failingWriteKeepsTheFile();
    void helpOpensTheEditorsFile();
    void editorDuringAWaitingWalk();

private:
    // Opens the editor, runs actions inside it, then closes it.
    void withEditor(const std::function<void(Form2Window &)> &actions);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    RecordingMessageBox m_box;
    RecordingShellOpen m_shell;
    Module1 m_module;
    std::unique_ptr<Form2> m_editor;
};

void tst_Form2::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_oldDir = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    m_box.shown.clear();
    m_box.answer = MessageBox::Answer::Ok;
    m_module = Module1();
    m_module.DisplayFontSize = 9;
    m_editor = std::make_unique<Form2>(m_module, m_box, m_shell);
}

void tst_Form2::cleanup()
{
    m_editor.reset();
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_Form2::withEditor(const std::function<void(Form2Window &)> &actions)
{
    bool ran = false;
    const auto c = connect(m_editor.get(), &Form2::opened, this, [&](Form2Window *w) {
        QTimer::singleShot(0, w, [&, w] {
            QVERIFY(QTest::qWaitForWindowExposed(w));
            actions(*w);
            ran = true;
            w->f11->trigger(); // 設定完了
        });
    });
    m_editor->show();
    disconnect(c);
    QVERIFY(ran);
    QVERIFY(!m_editor->window());
}

void tst_Form2::openingWithoutFileCreatesIt()
{
    withEditor([](Form2Window &w) {
        QCOMPARE(w.windowTitle(), QStringLiteral("Lintra"));
        QCOMPARE(w.ListView1->topLevelItemCount(), 0);
        QCOMPARE(w.ListView1->headerItem()->text(1), QStringLiteral("接続先PC"));
        QCOMPARE(w.Frame5->title(), QStringLiteral("Harrox接続先リストへ追加"));
        QVERIFY(w.Option1->isChecked());
        QVERIFY(w.Command1->isEnabled() && w.Command2->isEnabled() && w.Command3->isEnabled());
        QVERIFY(w.isModal());
        QVERIFY(!w.parentWidget());
    });
    QVERIFY(QFile::exists(File));
    QCOMPARE(QFileInfo(File).size(), 0);
}

void tst_Form2::addRoundTrip()
{
    withEditor([](Form2Window &w) {
        type(w, QStringLiteral("本社"), {"127", "0", "0", "1E2"});
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QCOMPARE(row(w, 1), (QStringList{"する", "本社", "127.0.0.1e2"}));
        QCOMPARE(w.Text1->text(), QString()); // back to add mode, boxes empty
        QTest::mouseClick(w.Option2, Qt::LeftButton);
        type(w, QStringLiteral("abcdefghijklmnopqrstuvwxy"), {"127", "0", "0", "2"});
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        // The new row shows the name as typed until the list is rebuilt.
        QCOMPARE(row(w, 2), (QStringList{"しない", "abcdefghijklmnopqrstuvwxy", "127.0.0.2"}));
        QVERIFY(w.Option1->isChecked());
    });
    QCOMPARE(fileBytes(),
             destination(VBTrue, QStringLiteral("本社"), QStringLiteral("127.0.0.1e2")).toBytes()
                 + destination(VBFalse, QStringLiteral("abcdefghijklmnopqrst"), QStringLiteral("127.0.0.2"))
                       .toBytes());
    QCOMPARE(m_editor->SelectedRow, qint16(0));
    withEditor([](Form2Window &w) {
        QCOMPARE(row(w, 2), (QStringList{"しない", "abcdefghijklmnopqrst", "127.0.0.2"}));
    });
}

void tst_Form2::rowClickModifyRoundTrip()
{
    QVERIFY(PCIPFile::rewrite(File, {destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1")),
                                     destination(VBFalse, QStringLiteral("b"), QStringLiteral("127.0.0.2"))}));
    withEditor([this](Form2Window &w) {
        clickRow(w, 2);
        QCOMPARE(m_editor->SelectedRow, qint16(2));
        QCOMPARE(w.Frame5->title(), QStringLiteral("接続先リストの修正または削除"));
        QVERIFY(!w.Command1->isEnabled());
        QVERIFY(w.Option2->isChecked());
        QCOMPARE(w.Text1->text(), QStringLiteral("b"));
        QCOMPARE((QStringList{w.Text2->text(), w.Text3->text(), w.Text4->text(), w.Text5->text()}),
                 (QStringList{"127", "0", "0", "2"}));
        QTest::mouseClick(w.Option1, Qt::LeftButton);
        type(w, QStringLiteral("支社"), {"127", "0", "0", "1E2"});
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QCOMPARE(m_editor->SelectedRow, qint16(-1));
        QVERIFY(w.Command1->isEnabled());
        QCOMPARE(row(w, 2), (QStringList{"する", "支社", "127.0.0.1E2"})); // no lower-casing
    });
    QCOMPARE(fileBytes(),
             destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1")).toBytes()
                 + destination(VBTrue, QStringLiteral("支社"), QStringLiteral("127.0.0.1E2")).toBytes());
}

void tst_Form2::deleteMiddleRowAndCancel()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const PCIPRecord b = destination(VBFalse, QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    const PCIPRecord c = destination(VBTrue, QStringLiteral("c"), QStringLiteral("127.0.0.3"));
    QVERIFY(PCIPFile::rewrite(File, {a, b, c}));
    m_box.answer = MessageBox::Answer::Cancel;
    withEditor([](Form2Window &w) {
        clickRow(w, 2);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QCOMPARE(w.ListView1->topLevelItemCount(), 3);
    });
    QCOMPARE(m_box.shown.size(), 1);
    QCOMPARE(m_box.shown[0].text, QStringLiteral("接続先リストで選択された項目を削除してもよいですか？"));
    QCOMPARE(m_box.shown[0].buttons, MessageBox::Buttons::OkCancel);
    QCOMPARE(fileBytes(), a.toBytes() + b.toBytes() + c.toBytes());

    m_box.answer = MessageBox::Answer::Ok;
    withEditor([this](Form2Window &w) {
        clickRow(w, 2);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QCOMPARE(w.ListView1->topLevelItemCount(), 2);
        QCOMPARE(row(w, 2), (QStringList{"する", "c", "127.0.0.3"}));
        QCOMPARE(m_editor->SelectedRow, qint16(-1));
    });
    QCOMPARE(fileBytes(), a.toBytes() + c.toBytes());

    withEditor([](Form2Window &w) {
        clickRow(w, 1);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        clickRow(w, 1);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
    });
    QCOMPARE(QFileInfo(File).size(), 0);
}

void tst_Form2::modifyAndDeleteNeedAClickedRow()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    QVERIFY(PCIPFile::rewrite(File, {a, a}));
    withEditor([](Form2Window &w) {
        type(w, QStringLiteral("x"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        clickRow(w, 1);
        QTest::mouseClick(w.Command2, Qt::LeftButton); // deletes row 1
        QTest::mouseClick(w.Command2, Qt::LeftButton); // SelectedRow is -1 now
        type(w, QStringLiteral("x"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QCOMPARE(w.ListView1->topLevelItemCount(), 1);
    });
    QCOMPARE(m_box.shown.size(), 1); // the one delete question
    QCOMPARE(fileBytes(), a.toBytes());
}

void tst_Form2::rejectionInModifyModeKeepsMode()
{
    QVERIFY(PCIPFile::rewrite(File, {destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"))}));
    const QByteArray before = fileBytes();
    withEditor([this](Form2Window &w) {
        clickRow(w, 1);
        w.Text3->setText(QStringLiteral("1a"));
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QCOMPARE(m_box.texts(),
                 QStringList{QStringLiteral("接続先の名前、IPアドレスを入力しなおしてください")});
        for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5})
            QVERIFY(box->text().isEmpty());
        QCOMPARE(m_editor->SelectedRow, qint16(1));
        QVERIFY(!w.Command1->isEnabled());
        QCOMPARE(w.Frame5->title(), QStringLiteral("接続先リストの修正または削除"));
    });
    QCOMPARE(fileBytes(), before);
}

void tst_Form2::selectedRowSurvivesReopen()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    const PCIPRecord b = destination(VBTrue, QStringLiteral("b"), QStringLiteral("127.0.0.2"));
    QVERIFY(PCIPFile::rewrite(File, {a, b}));
    withEditor([](Form2Window &w) { clickRow(w, 2); });
    QCOMPARE(m_editor->SelectedRow, qint16(2));
    withEditor([](Form2Window &w) {
        QVERIFY(w.Command1->isEnabled()); // a fresh window is in add mode
        QTest::mouseClick(w.Command2, Qt::LeftButton);
    });
    QCOMPARE(m_box.shown.size(), 1);
    QCOMPARE(fileBytes(), a.toBytes());
}

void tst_Form2::selectedRowPastTheEndDoesNothing()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    QVERIFY(PCIPFile::rewrite(File, {a, a, a}));
    withEditor([](Form2Window &w) { clickRow(w, 3); });
    QVERIFY(PCIPFile::rewrite(File, {a})); // the list shrank meanwhile
    withEditor([](Form2Window &w) {
        type(w, QStringLiteral("x"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
    });
    QVERIFY(m_box.shown.isEmpty());
    QCOMPARE(fileBytes(), a.toBytes());
}

void tst_Form2::oddFlagAndShortAddressRows()
{
    const PCIPRecord odd = destination(1, QStringLiteral("odd"), QStringLiteral("127.0.0.1"));
    const PCIPRecord shortAddress = destination(VBTrue, QStringLiteral("s"), QStringLiteral("host"));
    QVERIFY(PCIPFile::rewrite(File, {odd, shortAddress}));
    withEditor([](Form2Window &w) {
        QCOMPARE(row(w, 1), (QStringList{"しない", "odd", "127.0.0.1"}));
        QCOMPARE(row(w, 2), (QStringList{"する", "s", "host"}));
        clickRow(w, 2);
        QCOMPARE((QStringList{w.Text2->text(), w.Text3->text(), w.Text4->text(), w.Text5->text()}),
                 (QStringList{"host", "", "", ""}));
    });
    QCOMPARE(fileBytes(), odd.toBytes() + shortAddress.toBytes()); // untouched
}

void tst_Form2::fontEnlarge_data()
{
    QTest::addColumn<int>("displaySize");
    QTest::newRow("small") << 9;
    QTest::newRow("medium") << 14;
    QTest::newRow("large") << 18;
}

void tst_Form2::fontEnlarge()
{
    QFETCH(int, displaySize);
    m_module.DisplayFontSize = qint16(displaySize);
    withEditor([displaySize](Form2Window &w) {
        const bool enlarged = displaySize != 9;
        const int base = QApplication::font().pointSize();
        QCOMPARE(w.Frame1->font().pointSize(), enlarged ? 15 : base);
        QCOMPARE(w.Frame3->font().pointSize(), enlarged ? 14 : base);
        QCOMPARE(w.Frame5->font().pointSize(), enlarged ? 15 : base);
        QCOMPARE(w.Command2->font().pointSize(), enlarged ? 15 : base);
        QCOMPARE(w.Text3->font().pointSize(), enlarged ? 13 : base);
        for (QPushButton *b : {w.Command2, w.Command3})
            QVERIFY(b->height() >= b->fontMetrics().height());
        for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5})
            QVERIFY(box->height() >= box->fontMetrics().height());
        QCOMPARE(w.ListView1->columnWidth(0), int(w.ListView1->width() * 0.33));
    });
}

void tst_Form2::unreadableFileIsReported()
{
    QVERIFY(QDir().mkdir(File)); // a folder in the file's place
    withEditor([](Form2Window &w) {
        QCOMPARE(w.ListView1->topLevelItemCount(), 0);
        type(w, QStringLiteral("x"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QCOMPARE(w.Text1->text(), QStringLiteral("x")); // kept to try again
        QCOMPARE(w.ListView1->topLevelItemCount(), 0);
    });
    QCOMPARE(m_box.shown.size(), 3); // read at opening, write, read again
    QVERIFY(m_box.shown[0].text.startsWith(QStringLiteral("接続先リスト(PCIP.dat)を読み込めませんでした。")));
    QVERIFY(m_box.shown[1].text.startsWith(QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。")));
    QCOMPARE(m_box.shown[1].title, QStringLiteral("Lintra"));
    QVERIFY(QFileInfo(File).isDir());
}

void tst_Form2::failingWriteKeepsTheFile()
{
    const PCIPRecord a = destination(VBTrue, QStringLiteral("a"), QStringLiteral("127.0.0.1"));
    QVERIFY(PCIPFile::rewrite(File, {a, a}));
    const QByteArray before = fileBytes();
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    withEditor([&](Form2Window &w) {
        rlimit limited = saved;
        limited.rlim_cur = 30; // shorter than one record: every write fails
        setrlimit(RLIMIT_FSIZE, &limited);
        type(w, QStringLiteral("x"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        clickRow(w, 1);
        type(w, QStringLiteral("y"), {"1", "2", "3", "4"});
        QTest::mouseClick(w.Command3, Qt::LeftButton);
        clickRow(w, 1);
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(w.ListView1->topLevelItemCount(), 2); // reloaded from what is on disk
    });
    std::signal(SIGXFSZ, oldHandler);
    QCOMPARE(fileBytes(), before);
    QCOMPARE(QDir().entryList(QDir::Files), QStringList{File}); // no temporary left
    int failures = 0;
    for (const auto &shown : m_box.shown)
        failures += shown.text.startsWith(QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。"));
    QCOMPARE(failures, 3);
}

void tst_Form2::helpOpensTheEditorsFile()
{
    withEditor([](Form2Window &w) { w.h11->trigger(); });
    QCOMPARE(m_shell.opened,
             QStringList{QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ドゥヴェッタ.chm"))});
}

void tst_Form2::editorDuringAWaitingWalk()
{
    // The walk waits on a silent destination with the file open; meanwhile
    // the editor deletes the live destination. The walk keeps the list it
    // opened and still reaches it; the file holds the editor's list.
    SilentListener silent;
    QVERIFY(silent.listen("127.0.0.90", 5001));
    CaptureServer live;
    QVERIFY(live.listen(QStringLiteral("127.0.0.91"), 5001));
    const PCIPRecord first = destination(VBTrue, QStringLiteral("silent"), QStringLiteral("127.0.0.90"));
    const PCIPRecord second = destination(VBTrue, QStringLiteral("live"), QStringLiteral("127.0.0.91"));
    QVERIFY(PCIPFile::rewrite(File, {first, second}));

    FakeClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 0)));
    form1 window(m_module, m_box, clock, m_shell);
    window.setDestinationEditor(m_editor.get());
    window.link().setPollInterval(5);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("a"));

    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { clock.advance(1); });
    const auto c = connect(m_editor.get(), &Form2::opened, this, [&](Form2Window *w) {
        QTimer::singleShot(0, w, [&, w] {
            clickRow(*w, 2);
            QTest::mouseClick(w->Command2, Qt::LeftButton);
            w->close();
            ticker.start(20);
        });
    });
    QTimer::singleShot(30, this, [&] {
        QVERIFY(window.link().isWalking());
        for (QAction *a : window.menuBar()->findChildren<QAction *>())
            if (a->text() == QStringLiteral("接続先を設定する"))
                a->trigger();
    });
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command2")), Qt::LeftButton);
    ticker.stop();
    disconnect(c);
    QCOMPARE(live.connections(), 1);
    QVERIFY(window.link().LinkUp == VBTrue);
    QCOMPARE(fileBytes(), first.toBytes());
    window.close();
}

QTEST_MAIN(tst_Form2)
#include "tst_form2.moc"

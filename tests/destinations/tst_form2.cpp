// The destination editor through its real widgets, checked byte for byte
// against its list file, with a recording message box.
#include "app/module1.h"
#include "destinations/form2.h"
#include "destinations/form2window.h"
#include "destinations/pcipfile.h"

#include "support/fakes.h"
#include "support/records.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

const QString ModifyCaption = QStringLiteral("接続先リストの修正または削除");
const QString Rejected = QStringLiteral("接続先の名前、IPアドレスを入力しなおしてください");
const QString WriteFailed = QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。変更は保存されていません。\n");

void type(Form2Window &w, const QString &name, const QStringList &groups)
{
    w.Text1->setText(name);
    QLineEdit *boxes[] = {w.Text2, w.Text3, w.Text4, w.Text5};
    for (int k = 0; k < 4; ++k) {
        boxes[k]->clear();
        QTest::keyClicks(boxes[k], groups.value(k));
    }
}

void clickRow(Form2Window &w, int k)
{
    const QRect r = w.ListView1->visualItemRect(w.ListView1->topLevelItem(k - 1));
    QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, {}, r.center());
}

QStringList rows(Form2Window &w)
{
    QStringList texts;
    for (int k = 0; k < w.ListView1->topLevelItemCount(); ++k) {
        const QTreeWidgetItem *row = w.ListView1->topLevelItem(k);
        texts.append(row->text(0) + u'|' + row->text(1) + u'|' + row->text(2));
    }
    return texts;
}

} // namespace

class tst_Form2 : public QObject
{
    Q_OBJECT

    Form2Window *openEditor()
    {
        m_editor->open();
        Form2Window *w = m_editor->window();
        return w && QTest::qWaitForWindowExposed(w) ? w : nullptr;
    }
    void useList(const QString &path) { m_editor = std::make_unique<Form2>(m_module, m_box, m_shell, path); }

    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingMessageBox m_box;
    RecordingShellOpen m_shell;
    Module1 m_module;
    std::unique_ptr<Form2> m_editor;
    rlimit m_limit{};

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("PCIP.dat"));
        m_box = RecordingMessageBox();
        m_module = Module1();
        m_module.DisplayFontSize = 9;
        useList(m_path);
        getrlimit(RLIMIT_FSIZE, &m_limit);
        std::signal(SIGXFSZ, SIG_IGN);
    }

    void cleanup()
    {
        setrlimit(RLIMIT_FSIZE, &m_limit);
        m_editor.reset();
        umount(QFile::encodeName(m_dir->filePath(QStringLiteral("ro"))));
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void addRoundTrip()
    {
        Form2Window *w = openEditor();
        QVERIFY(w);
        QCOMPARE(fileBytes(m_path), QByteArray("")); // created empty
        QVERIFY(w->isModal() && !w->parentWidget());
        type(*w, QStringLiteral("本社"), {"127", "0", "0", "1E2"});
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QTest::mouseClick(w->Option2, Qt::LeftButton);
        type(*w, QStringLiteral("abcdefghijklmnopqrstuvwxy"), {"127", "0", "0", "2"});
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        // The new row shows the name as typed until the list is rebuilt.
        QCOMPARE(rows(*w), (QStringList{"する|本社|127.0.0.1e2", "しない|abcdefghijklmnopqrstuvwxy|127.0.0.2"}));
        QVERIFY(w->Option1->isChecked() && w->Text1->text().isEmpty() && w->Command1->isEnabled());
        w->h11->trigger();
        QCOMPARE(m_shell.opened, QStringList{QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ドゥヴェッタ.chm"))});
        w->f11->trigger();
        QCOMPARE(fileBytes(m_path), destination(VBTrue, QStringLiteral("本社"), QStringLiteral("127.0.0.1e2")).toBytes()
                     + destination(VBFalse, QStringLiteral("abcdefghijklmnopqrst"), QStringLiteral("127.0.0.2")).toBytes());
        QVERIFY((w = openEditor()));
        QCOMPARE(rows(*w).last(), QStringLiteral("しない|abcdefghijklmnopqrst|127.0.0.2"));
    }

    void selectedRow_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("after");
        const QByteArray abc = records("abc");
        const QByteArray beyond = longList(PCIPFile::MaxRecords + 10);
        QTest::newRow("click, modify") << abc << "click 2, modify" << records("aXc");
        QTest::newRow("key down, modify") << abc << "click 1, down, modify" << records("aXc");
        QTest::newRow("key up, delete") << abc << "click 3, up, delete" << records("ac");
        QTest::newRow("key down, delete keeps foreign bytes") << records("fab") << "click 1, down, delete" << records("fb");
        QTest::newRow("cancel") << abc << "click 2, cancel" << abc;
        QTest::newRow("nothing chosen") << abc << "modify, delete" << abc;
        QTest::newRow("twice") << abc << "click 2, delete, delete, modify" << records("ac");
        QTest::newRow("rejected, still modify mode") << abc << "click 2, reject, modify" << records("aXc");
        QTest::newRow("kept across reopening") << abc << "click 2, reopen, delete" << records("ac");
        QTest::newRow("32,777 records, delete") << beyond << "click 1, delete" << beyond.mid(37);
        QTest::newRow("32,777 records, modify") << beyond << "click 1, modify" << records("X") + beyond.mid(37);
    }

    void selectedRow()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, steps);
        QFETCH(QByteArray, after);
        QVERIFY(writeFile(m_path, before));
        Form2Window *w = openEditor();
        QVERIFY(w);
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            if (step.startsWith(u"click"))
                clickRow(*w, step.back().digitValue());
            else if (step == u"down" || step == u"up")
                QTest::keyClick(w->ListView1, step == u"up" ? Qt::Key_Up : Qt::Key_Down);
            else if (step == u"reopen")
                w->f11->trigger(), w = openEditor();
            else if (step == u"reject")
                w->Text3->setText(QStringLiteral("1a")), QTest::mouseClick(w->Command3, Qt::LeftButton);
            else if (step == u"modify")
                type(*w, QStringLiteral("X"), {"127", "0", "0", "9"}), w->Option2->click(),
                    QTest::mouseClick(w->Command3, Qt::LeftButton);
            else
                m_box.answer = step == u"cancel" ? MessageBox::Answer::Cancel : MessageBox::Answer::Ok,
                QTest::mouseClick(w->Command2, Qt::LeftButton);
            QVERIFY(w);
            if (step.startsWith(u"click") || step == u"down" || step == u"up") {
                // What is highlighted is selected, and shown in the boxes.
                QTreeWidgetItem *current = w->ListView1->currentItem();
                QCOMPARE(w->ListView1->selectedItems(), QList<QTreeWidgetItem *>{w->ListView1->currentItem()});
                QCOMPARE(m_editor->SelectedRow, w->ListView1->indexOfTopLevelItem(current) + 1);
                QCOMPARE(w->Text1->text() + u'.' + w->Text5->text(), current->text(1) + u'.' + current->text(2).section(u'.', 3));
            }
            if (step == u"reject") {
                QCOMPARE(m_box.texts().last(), Rejected);
                QVERIFY(w->Text1->text().isEmpty() && !w->Command1->isEnabled());
                QCOMPARE(w->Frame5->title(), ModifyCaption);
            }
        }
        QCOMPARE(fileBytes(m_path), after);
        for (const QString &text : m_box.texts())
            QVERIFY(!text.startsWith(WriteFailed.first(10)));
    }

    void writeFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("reason");
        const QString diskFull = QStringLiteral("ディスクに空きがありません。");
        QTest::newRow("full list") << "full" << "add" << QStringLiteral("接続先リストは32767件で一杯です。");
        QTest::newRow("disk full, add") << "limit" << "add" << diskFull;
        QTest::newRow("disk full, modify") << "limit" << "modify" << diskFull;
        QTest::newRow("disk full, delete") << "limit" << "delete" << diskFull;
        QTest::newRow("read-only disk") << "ro" << "modify" << QStringLiteral("PCIP.datのあるディスクは読み取り専用です。");
        QTest::newRow("missing folder") << "gone" << "add" << QStringLiteral("PCIP.datを置くフォルダがありません。");
        QTest::newRow("a folder in its place") << "folder" << "add" << QStringLiteral("PCIP.datと同じ名前のフォルダがあります。");
    }

    void writeFailureSaysWhy()
    {
        QFETCH(QString, setup);
        QFETCH(QString, action);
        QFETCH(QString, reason);
        const QByteArray ro = QFile::encodeName(m_dir->filePath(QStringLiteral("ro")));
        if (setup == u"ro" && (!QDir().mkdir(ro) || mount("tmpfs", ro, "tmpfs", 0, "size=64k") != 0))
            QSKIP("a read-only disk needs root, to mount one");
        if (setup == u"ro" || setup == u"gone")
            useList(m_dir->filePath(setup + QStringLiteral("/PCIP.dat")));
        const QString path = setup == u"ro" || setup == u"gone" ? m_dir->filePath(setup + QStringLiteral("/PCIP.dat")) : m_path;
        QVERIFY(setup == u"folder" ? QDir().mkdir(path) : setup == u"gone" || writeFile(path, setup == u"full" ? records("a").repeated(PCIPFile::MaxRecords) : records("ab")));
        QVERIFY(setup != u"ro" || mount("tmpfs", ro, "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        const QStringList files = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const QByteArray before = fileBytes(path);
        Form2Window *w = openEditor();
        QVERIFY(w);
        const int shown = w->ListView1->topLevelItemCount();
        const rlimit limited{30, m_limit.rlim_max}; // less than one record
        QVERIFY(setup != u"limit" || setrlimit(RLIMIT_FSIZE, &limited) == 0);
        if (action != u"add")
            clickRow(*w, 1);
        type(*w, QStringLiteral("X"), {"127", "0", "0", "9"});
        QTest::mouseClick(action == u"add" ? static_cast<QWidget *>(w->Command1)
                          : action == u"modify" ? w->Command3 : w->Command2, Qt::LeftButton);
        QVERIFY(m_box.texts().contains(WriteFailed + reason));
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), files);
        // The list shows the file again; the entry waits to be tried again.
        QCOMPARE(w->ListView1->topLevelItemCount(), shown);
        QCOMPARE(w->Text1->text(), QStringLiteral("X"));
        QCOMPARE(m_editor->SelectedRow, action == u"add" ? 0 : 1);
    }

    void layout_data()
    {
        QTest::addColumn<int>("displaySize");
        QTest::newRow("小さい") << 9;
        QTest::newRow("中くらい") << 14;
        QTest::newRow("大きい") << 18;
    }

    void layout()
    {
        QFETCH(int, displaySize);
        m_module.DisplayFontSize = qint16(displaySize);
        Form2Window *w = openEditor();
        QVERIFY(w);
        const int base = displaySize == 9 ? QApplication::font().pointSize() : 0;
        QCOMPARE(w->Frame3->font().pointSize(), base ? base : 14);
        QCOMPARE(w->Command2->font().pointSize(), base ? base : 15);
        QCOMPARE(w->Text3->font().pointSize(), base ? base : 13);
        // Every control wholly visible: none lies under a later sibling
        // (controls stand over frames), and each is one line of its font high.
        const QList<QWidget *> controls = w->ListView1->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = 0; i < controls.size(); ++i)
            for (qsizetype j = i + 1; j < controls.size(); ++j)
                QVERIFY2(qobject_cast<QGroupBox *>(controls[i]) || !controls[i]->geometry().intersects(controls[j]->geometry()),
                         qPrintable(controls[i]->objectName() + u'/' + controls[j]->objectName()));
        for (QWidget *c : std::initializer_list<QWidget *>{w->Command2, w->Command3, w->Text1, w->Text2, w->Text5})
            QVERIFY(c->height() >= c->fontMetrics().height());
    }
};

QTEST_MAIN(tst_Form2)
#include "tst_form2.moc"

// The destination editor through its real widgets, checked byte for byte
// against its list file, with a recording message box.
#include "form2.h"
#include "form2window.h"
#include "module1.h"
#include "pcipfile.h"

#include "fakes.h"
#include "support/records.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

const QString WriteFailed = QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。変更は保存されていません。\n");

void clickRow(Form2Window &w, int k)
{
    const QRect r = w.ListView1->visualItemRect(w.ListView1->topLevelItem(k - 1));
    QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, {}, r.center());
}

} // namespace

class tst_Form2 : public QObject
{
    Q_OBJECT

    Form2Window *openEditor()
    {
        m_editor->open();
        return QTest::qWaitForWindowExposed(m_editor->window()) ? m_editor->window() : nullptr;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder; // the list's
    RecordingMessageBox m_box;
    RecordingShellOpen m_shell;
    Module1 m_module;
    std::unique_ptr<Form2> m_editor;
    rlimit m_limit{};

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_folder = m_dir->filePath(QStringLiteral("list"));
        m_box = RecordingMessageBox();
        m_shell.opened.clear();
        m_module.DisplayFontSize = 9;
        m_editor = std::make_unique<Form2>(m_module, m_box, m_shell, m_folder + QStringLiteral("/PCIP.dat"));
        getrlimit(RLIMIT_FSIZE, &m_limit);
        std::signal(SIGXFSZ, SIG_IGN);
    }

    void cleanup()
    {
        setrlimit(RLIMIT_FSIZE, &m_limit);
        m_editor.reset();
        umount(QFile::encodeName(m_folder));
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void edits_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("failure"); // the reason the box gives
        // Steps, in order: size n (the display size, before opening), read-only
        // (the list's disk), gone (its folder), limit (the file size: a full
        // disk), click n, down, up, end, add, modify, reject, delete, cancel, reopen.
        const QByteArray abc = records("abc"), beyond = longList(PCIPFile::MaxRecords + 10),
                         full = records("a").repeated(PCIPFile::MaxRecords);
        const QString diskFull = QStringLiteral("ディスクに空きがありません。");
        QTest::newRow("opening creates the file") << QByteArray() << "" << QByteArray("") << "";
        QTest::newRow("add over a partial record") << abc + "XY"
                                                   << "add" << records("abcX") << "";
        QTest::newRow("delete the only one") << records("a") << "click 1, delete" << QByteArray("") << "";
        QTest::newRow("中くらい, modify") << abc << "size 14, click 2, modify" << records("aXc") << "";
        QTest::newRow("大きい, delete") << abc << "size 18, click 2, delete" << records("ac") << "";
        QTest::newRow("click, modify") << abc << "click 2, modify" << records("aXc") << "";
        QTest::newRow("key down, modify") << abc << "click 1, down, modify" << records("aXc") << "";
        QTest::newRow("key up, delete") << abc << "click 3, up, delete" << records("ac") << "";
        QTest::newRow("key down, delete keeps foreign bytes") << records("fab") << "click 1, down, delete" << records("fb") << "";
        QTest::newRow("cancel") << abc << "click 2, cancel" << abc << "";
        QTest::newRow("help") << abc << "help" << abc << "";
        QTest::newRow("nothing chosen") << abc << "modify, delete" << abc << "";
        QTest::newRow("twice") << abc << "click 2, delete, delete, modify" << records("ac") << "";
        QTest::newRow("rejected, still modify mode") << abc << "click 2, reject, modify" << records("aXc") << "";
        QTest::newRow("kept across reopening") << abc << "click 2, reopen, delete" << records("ac") << "";
        QTest::newRow("32,777 records, delete") << beyond << "click 1, delete" << beyond.mid(37) << "";
        QTest::newRow("32,777 records, delete the last shown") << beyond << "click 1, end, delete"
                                                               << beyond.first((PCIPFile::MaxRecords - 1) * 37) + beyond.mid(PCIPFile::MaxRecords * 37) << "";
        QTest::newRow("32,777 records, modify") << beyond << "click 1, modify" << records("X") + beyond.mid(37) << "";
        QTest::newRow("full list") << full << "add" << full << QStringLiteral("接続先リストは32767件で一杯です。");
        QTest::newRow("disk full, add") << abc << "limit, add" << abc << diskFull;
        QTest::newRow("disk full, modify") << abc << "click 1, limit, modify" << abc << diskFull;
        QTest::newRow("disk full, delete") << abc << "click 1, limit, delete" << abc << diskFull;
        QTest::newRow("read-only disk") << abc << "read-only, click 1, modify" << abc
                                        << QStringLiteral("PCIP.datのあるディスクは読み取り専用です。");
        QTest::newRow("missing folder") << QByteArray() << "gone, add" << QByteArray()
                                        << QStringLiteral("PCIP.datを置くフォルダがありません。");
    }

    void edits()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, steps);
        QFETCH(QByteArray, after);
        QFETCH(QString, failure);
        const QByteArray folder = QFile::encodeName(m_folder);
        const bool readOnly = steps.startsWith(u"read-only"), gone = steps.startsWith(u"gone");
        QVERIFY(gone || QDir().mkdir(m_folder));
        if (readOnly && mount("tmpfs", folder, "tmpfs", 0, "size=64k") != 0)
            QSKIP("a read-only disk needs root, to mount one");
        QVERIFY(before.isNull() || writeFile(m_folder + QStringLiteral("/PCIP.dat"), before));
        QVERIFY(!readOnly || mount("tmpfs", folder, "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        const int size = steps.startsWith(u"size") ? steps.sliced(5, 2).toInt() : 9;
        m_module.DisplayFontSize = qint16(size);
        Form2Window *w = openEditor();
        QVERIFY(w && w->isModal() && !w->parentWidget());
        QCOMPARE(w->Command2->font().pointSize(), size == 9 ? QApplication::font().pointSize() : 15);
        // Every control wholly visible: none lies under a later sibling
        // (controls stand over frames), and each is one line of its font high.
        const QList<QWidget *> controls = w->ListView1->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        for (qsizetype i = 0; i < controls.size(); ++i)
            for (qsizetype j = i + 1; j < controls.size(); ++j)
                QVERIFY2(qobject_cast<QGroupBox *>(controls[i]) || !controls[i]->geometry().intersects(controls[j]->geometry()),
                         qPrintable(controls[i]->objectName() + u'/' + controls[j]->objectName()));
        for (QWidget *c : std::initializer_list<QWidget *>{w->Command2, w->Command3, w->Text1, w->Text2, w->Text5})
            QVERIFY(c->height() >= c->fontMetrics().height());
        for (const QString &step : steps.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
            QVERIFY(w);
            m_box.answer = step == u"cancel" ? MessageBox::Answer::Cancel : MessageBox::Answer::Ok;
            const rlimit limited{30, m_limit.rlim_max}; // less than one record
            if (step.startsWith(u"click"))
                clickRow(*w, step.back().digitValue());
            else if (step == u"down" || step == u"up" || step == u"end")
                QTest::keyClick(w->ListView1, step == u"up" ? Qt::Key_Up : step == u"end" ? Qt::Key_End
                                                                                          : Qt::Key_Down);
            else if (step == u"limit")
                QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            else if (step == u"help")
                w->h11->trigger();
            else if (step == u"reopen")
                w->f11->trigger(), w = openEditor();
            else if (step == u"reject")
                w->Text3->setText(QStringLiteral("1a")), QTest::mouseClick(w->Command3, Qt::LeftButton);
            else if (step == u"delete" || step == u"cancel")
                QTest::mouseClick(w->Command2, Qt::LeftButton);
            else if (step == u"add" || step == u"modify") {
                QTest::mouseClick(w->Option2, Qt::LeftButton); // the entry X of records()
                QLineEdit *boxes[] = {w->Text1, w->Text2, w->Text3, w->Text4, w->Text5};
                for (int k = 0; k < 5; ++k)
                    boxes[k]->setText(QStringList{"X", "127", "0", "0", "9"}[k]);
                QTest::mouseClick(step == u"add" ? static_cast<QWidget *>(w->Command1) : w->Command3, Qt::LeftButton);
            }
            QTreeWidgetItem *row = w->ListView1->currentItem();
            if (step.startsWith(u"click") || step == u"down" || step == u"up" || step == u"end") {
                // What is highlighted is what is selected and in the boxes.
                QCOMPARE(w->ListView1->selectedItems(), QList<QTreeWidgetItem *>{row});
                QCOMPARE(m_editor->SelectedRow, w->ListView1->indexOfTopLevelItem(row) + 1);
                QCOMPARE(w->Text1->text() + w->Text5->text(), row->text(1) + row->text(2).section(u'.', 3));
            }
            if (step == u"reject")
                QVERIFY(w->Text1->text().isEmpty() && !w->Command1->isEnabled() && m_editor->SelectedRow == 2);
        }
        QCOMPARE(fileBytes(m_folder + QStringLiteral("/PCIP.dat")), after);
        QCOMPARE(m_shell.opened, steps == u"help" ? QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/ドゥヴェッタ.chm")} : QStringList());
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), gone ? QStringList() : QStringList{"PCIP.dat"});
        QCOMPARE(m_box.texts().filter(WriteFailed), failure.isEmpty() ? QStringList() : QStringList{WriteFailed + failure});
        if (!failure.isEmpty()) // the boxes keep the entry to try again
            QVERIFY(!w->Text1->text().isEmpty() && m_editor->SelectedRow == steps.contains(u"click"));
    }
};

QTEST_MAIN(tst_Form2)
#include "tst_form2.moc"

#include "destinations/form2.h"

#include "app/module1.h"
#include "destinations/entrycheck.h"
#include "destinations/form2window.h"
#include "destinations/pcipfile.h"
#include "platform/messagebox.h"
#include "platform/shellopen.h"
#include "platform/twips.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>

namespace {

const QString FileName = QString::fromLatin1(PCIPFile::DefaultName);
const QString Lintra = QStringLiteral("Lintra");
const QString Tried = QStringLiteral("する");
const QString NotTried = QStringLiteral("しない");
const QString AddCaption = QStringLiteral("Harrox接続先リストへ追加");
const QString ModifyCaption = QStringLiteral("接続先リストの修正または削除");
const QString EntryRejected = QStringLiteral("接続先の名前、IPアドレスを入力しなおしてください");
const QString DeleteQuestion =
    QStringLiteral("接続先リストで選択された項目を削除してもよいですか？");
const QString ReadFailed = QStringLiteral("接続先リスト(PCIP.dat)を読み込めませんでした。");
const QString WriteFailed =
    QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。変更は保存されていません。");
const QString HelpFile = QStringLiteral("ドゥヴェッタ.chm");
constexpr double ColumnShare = 0.33;
constexpr int SmallDisplay = 9;

void setPointSize(QWidget *w, int points)
{
    QFont font = w->font();
    font.setPointSize(points);
    w->setFont(font);
}

} // namespace

Form2::Form2(Module1 &module, MessageBox &messageBox, ShellOpen &shell, QObject *parent)
    : QObject(parent), m_module(module), m_messageBox(messageBox), m_shell(shell)
{
}

Form2::~Form2() = default;

void Form2::show()
{
    if (m_window)
        return; // already open
    m_window = std::make_unique<Form2Window>();
    Form2Window &w = *m_window;
    connect(w.Command1, &QToolButton::clicked, this, &Form2::Command1_Click);
    connect(w.Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(w.Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(w.ListView1, &QTreeWidget::itemClicked, this, &Form2::ListView1_ItemClick);
    connect(w.ListView1, &QTreeWidget::itemActivated, this, &Form2::ListView1_ItemClick);
    connect(w.f11, &QAction::triggered, &w, &QDialog::reject);
    connect(w.h11, &QAction::triggered, this, &Form2::h11_Click);
    Form_Load();
    w.setWindowModality(Qt::ApplicationModal);
    emit opened(&w);
    w.exec();
    m_window.reset(); // closing discards the controls; SelectedRow stays
}

void Form2::Form_Load()
{
    ListLoad();
    m_window->Option1->setChecked(true);
    FontEnlarge();
}

void Form2::ListLoad()
{
    QTreeWidget *list = m_window->ListView1;
    list->clear();
    list->setHeaderLabels({QStringLiteral("接続の試み"), QStringLiteral("接続先PC"),
                           QStringLiteral("IPアドレス")});
    const int columnWidth = int(list->width() * ColumnShare);
    for (int c = 0; c < 3; ++c)
        list->setColumnWidth(c, columnWidth);

    QList<PCIPRecord> records;
    QString error;
    if (!PCIPFile::readAll(FileName, m_module.PCIPBuffer, records, &error))
        reportFileFailure(ReadFailed, error);
    for (const PCIPRecord &r : records) {
        // A flag other than -1 is not tried by the walk: it shows "しない",
        // so that row k still shows record k.
        list->addTopLevelItem(new QTreeWidgetItem(
            {r.TryConnect == VBTrue ? Tried : NotTried, r.trimmedName(),
             r.trimmedAddress()}));
    }
}

void Form2::EntryReset()
{
    Form2Window &w = *m_window;
    w.Option1->setChecked(true);
    w.Command1->setEnabled(true);
    for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5})
        box->clear();
    w.Frame5->setTitle(AddCaption);
}

void Form2::FontEnlarge()
{
    if (m_module.DisplayFontSize == SmallDisplay)
        return;
    Form2Window &w = *m_window;
    setPointSize(w.Frame1, 15);
    setPointSize(w.Frame2, 15);
    setPointSize(w.Frame3, 14);
    for (QWidget *c : std::initializer_list<QWidget *>{w.Frame4, w.Option1, w.Option2, w.Command1,
                                                       w.Command2, w.Command3})
        setPointSize(c, 15);
    // The design asks for 30 twips; a button keeps at least one line of
    // its caption.
    for (QPushButton *b : {w.Command2, w.Command3})
        b->resize(b->width(), std::max(Twips::toPixels(30, w.dpi()), b->sizeHint().height()));
    // Single-line boxes keep the height of one line of their font.
    for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5}) {
        setPointSize(box, 13);
        box->resize(box->width(), std::max(Twips::toPixels(13, w.dpi()), box->sizeHint().height()));
    }
    setPointSize(w.Frame5, 15);
    for (QGroupBox *frame : {w.Frame1, w.Frame2})
        frame->resize(frame->width(), Twips::toPixels(900, w.dpi()));
}

std::array<QString, 4> Form2::groups() const
{
    const Form2Window &w = *m_window;
    return {w.Text2->text(), w.Text3->text(), w.Text4->text(), w.Text5->text()};
}

bool Form2::TextCheck()
{
    if (EntryCheck::check(m_window->Text1->text(), groups()) == EntryCheck::Verdict::Accepted)
        return true;
    EntryReject();
    return false;
}

void Form2::EntryReject()
{
    m_messageBox.exclamation(EntryRejected, Lintra);
    Form2Window &w = *m_window;
    for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5})
        box->clear();
}

void Form2::Command1_Click()
{
    if (!TextCheck())
        return;
    Form2Window &w = *m_window;
    const bool tried = w.Option1->isChecked();
    const std::array<QString, 4> g = groups();
    const QString address = QStringList{g[0].toLower(), g[1].toLower(), g[2].toLower(),
                                        g[3].toLower()}
                                .join(u'.');
    PCIPRecord &buffer = m_module.PCIPBuffer;
    buffer.TryConnect = tried ? VBTrue : VBFalse;
    buffer.setName(w.Text1->text());
    buffer.setAddress(address);
    QString error;
    if (!PCIPFile::appendTo(FileName, buffer, &error)) {
        // The entry stays in the boxes to try again.
        reportFileFailure(WriteFailed, error);
        ListLoad();
        return;
    }
    w.ListView1->addTopLevelItem(
        new QTreeWidgetItem({tried ? Tried : NotTried, w.Text1->text(), address}));
    EntryReset();
}

bool Form2::selectedRowIsValid() const
{
    // 0 (no row clicked yet) and -1 (after a modify or delete) select
    // nothing; a row number kept from an earlier opening may also lie past
    // the end of a list that has become shorter since.
    return SelectedRow >= 1 && SelectedRow <= m_window->ListView1->topLevelItemCount();
}

void Form2::Command3_Click()
{
    if (!selectedRowIsValid())
        return;
    if (!TextCheck())
        return;
    Form2Window &w = *m_window;
    const std::array<QString, 4> g = groups();
    PCIPRecord &buffer = m_module.PCIPBuffer;
    buffer.TryConnect = w.Option1->isChecked() ? VBTrue : VBFalse;
    buffer.setName(w.Text1->text());
    buffer.setAddress(QStringList{g.begin(), g.end()}.join(u'.'));
    QString error;
    if (!PCIPFile::overwrite(FileName, SelectedRow, buffer, &error)) {
        reportFileFailure(WriteFailed, error);
        ListLoad();
        return;
    }
    ListLoad();
    SelectedRow = -1;
    EntryReset();
}

void Form2::Command2_Click()
{
    if (!selectedRowIsValid())
        return;
    if (m_messageBox.exclamation(DeleteQuestion, Lintra, MessageBox::Buttons::OkCancel)
        != MessageBox::Answer::Ok)
        return;
    QTreeWidget *list = m_window->ListView1;
    delete list->takeTopLevelItem(SelectedRow - 1);
    QList<PCIPRecord> records;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = list->topLevelItem(i);
        PCIPRecord &buffer = m_module.PCIPBuffer;
        buffer.TryConnect = row->text(0) == Tried ? VBTrue : VBFalse;
        buffer.setName(row->text(1));
        buffer.setAddress(row->text(2));
        records.append(buffer);
    }
    QString error;
    if (!PCIPFile::rewrite(FileName, records, &error)) {
        reportFileFailure(WriteFailed, error);
        ListLoad();
        return;
    }
    SelectedRow = -1;
    EntryReset();
}

void Form2::ListView1_ItemClick(QTreeWidgetItem *item)
{
    if (!item)
        return;
    Form2Window &w = *m_window;
    SelectedRow = qint16(w.ListView1->indexOfTopLevelItem(item) + 1);
    w.Command1->setEnabled(false);
    w.Command2->setEnabled(true);
    w.Command3->setEnabled(true);
    w.Frame5->setTitle(ModifyCaption);
    if (item->text(0) == Tried)
        w.Option1->setChecked(true);
    else
        w.Option2->setChecked(true);
    w.Text1->setText(item->text(1));
    const std::array<QString, 4> g = EntryCheck::splitAddress(item->text(2));
    w.Text2->setText(g[0]);
    w.Text3->setText(g[1]);
    w.Text4->setText(g[2]);
    w.Text5->setText(g[3]);
}

void Form2::h11_Click()
{
    m_shell.open(QDir::toNativeSeparators(
        QDir(QCoreApplication::applicationDirPath()).filePath(HelpFile)));
}

void Form2::reportFileFailure(const QString &what, const QString &detail)
{
    m_messageBox.exclamation(what + u'\n' + detail, Lintra);
}

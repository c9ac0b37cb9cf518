#include "form2.h"

#include "entrycheck.h"
#include "form2window.h"
#include "messagebox.h"
#include "module1.h"
#include "pcipfile.h"
#include "shellopen.h"
#include "twips.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>

namespace {

const QString Lintra = QStringLiteral("Lintra");
const QString Tried = QStringLiteral("する");
const QString NotTried = QStringLiteral("しない");
const QString AddCaption = QStringLiteral("Harrox接続先リストへ追加");
const QString ModifyCaption = QStringLiteral("接続先リストの修正または削除");
const QString EntryRejected = QStringLiteral("接続先の名前、IPアドレスを入力しなおしてください");
const QString DeleteQuestion = QStringLiteral("接続先リストで選択された項目を削除してもよいですか？");
const QString ReadFailed = QStringLiteral("接続先リスト(PCIP.dat)を読み込めませんでした。");
const QString WriteFailed =
        QStringLiteral("接続先リスト(PCIP.dat)に書き込めませんでした。変更は保存されていません。");
const QString HelpFile = QStringLiteral("ドゥヴェッタ.chm");
constexpr double ColumnShare = 0.33;

// The user's words for why the file could not be used; the system's own
// text only where none of these applies.
QString failureReason(const PCIPError &error)
{
    using Kind = PCIPError::Kind;
    switch (error.kind) {
    case Kind::ListFull:
        return QStringLiteral("接続先リストは%1件で一杯です。").arg(PCIPFile::MaxRecords);
    case Kind::NoRecord:
        return QStringLiteral("選択された項目は接続先リストにもうありません。");
    case Kind::NoPermission:
        return QStringLiteral("PCIP.datに書き込む権限がありません。");
    case Kind::DiskFull:
        return QStringLiteral("ディスクに空きがありません。");
    case Kind::ReadOnly:
        return QStringLiteral("PCIP.datのあるディスクは読み取り専用です。");
    case Kind::MissingFolder:
        return QStringLiteral("PCIP.datを置くフォルダがありません。");
    case Kind::IsFolder:
        return QStringLiteral("PCIP.datと同じ名前のフォルダがあります。");
    case Kind::None:
    case Kind::Other:
        break;
    }
    return error.detail;
}

constexpr int SmallDisplay = 9;
// FontEnlarge: point sizes, and heights in twips.
constexpr int EnlargedPoints = 15;
constexpr int ListFramePoints = 14;
constexpr int BoxPoints = 13;
constexpr double ButtonHeight = 30; // ～修正～ and ×削除×
constexpr double BoxHeight = 13; // the five boxes
constexpr double EnlargedFrameHeight = 900; // 接続先の名前 and IPｱﾄﾞﾚｽ

void setPointSize(QWidget *w, int points)
{
    QFont font = w->font();
    font.setPointSize(points);
    w->setFont(font);
}

} // namespace

Form2::Form2(Module1 &module, MessageBox &messageBox, ShellOpen &shell, QString listPath,
             QObject *parent)
    : QObject(parent),
      m_module(module),
      m_messageBox(messageBox),
      m_shell(shell),
      m_listPath(std::move(listPath))
{
}

Form2::~Form2() = default;

void Form2::show()
{
    if (m_window)
        return; // already open
    open();
    if (m_window)
        m_window->exec();
}

void Form2::open()
{
    if (m_window)
        return;
    m_window = std::make_unique<Form2Window>();
    Form2Window &w = *m_window;
    connect(w.Command1, &QToolButton::clicked, this, &Form2::Command1_Click);
    connect(w.Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(w.Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(w.ListView1, &QTreeWidget::itemClicked, this, &Form2::ListView1_ItemClick);
    connect(w.ListView1, &QTreeWidget::itemActivated, this, &Form2::ListView1_ItemClick);
    connect(w.ListView1, &QTreeWidget::itemSelectionChanged, this, &Form2::ListView1_SelectionChange);
    connect(w.f11, &QAction::triggered, &w, &QDialog::reject);
    connect(w.h11, &QAction::triggered, this, &Form2::h11_Click);
    // Closing discards the controls (SelectedRow stays); not at once, as
    // the window is still inside its own signal.
    connect(&w, &QDialog::finished, this, [this] { m_window.release()->deleteLater(); });
    Form_Load();
    w.setWindowModality(Qt::ApplicationModal);
    w.show();
    emit opened(&w);
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
    {
        const QSignalBlocker quiet(list); // emptying the list selects nothing
        list->clear();
    }
    list->setHeaderLabels(
            {QStringLiteral("接続の試み"), QStringLiteral("接続先PC"), QStringLiteral("IPアドレス")});
    const int columnWidth = int(list->width() * ColumnShare);
    for (int c = 0; c < 3; ++c)
        list->setColumnWidth(c, columnWidth);

    QList<PCIPRecord> records;
    PCIPError error;
    if (!PCIPFile::readAll(m_listPath, m_module.PCIPBuffer, records, &error))
        reportFileFailure(ReadFailed, error);
    QList<QTreeWidgetItem *> rows;
    rows.reserve(records.size());
    for (const PCIPRecord &r : records) {
        // A flag other than -1 is not tried by the walk: it shows "しない",
        // so that row k still shows record k.
        rows.append(new QTreeWidgetItem(
                {r.TryConnect == VBTrue ? Tried : NotTried, r.trimmedName(), r.trimmedAddress()}));
    }
    list->addTopLevelItems(rows);
    showSelectedRow();
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
    setPointSize(w.Frame1, EnlargedPoints);
    setPointSize(w.Frame2, EnlargedPoints);
    setPointSize(w.Frame3, ListFramePoints);
    for (QWidget *c : std::initializer_list<QWidget *>{w.Frame4, w.Option1, w.Option2, w.Command1,
                                                       w.Command2, w.Command3})
        setPointSize(c, EnlargedPoints);
    // The design asks for 30 twips, far below one line of the caption; the
    // buttons take their natural height, but no more than the room above
    // the list, which would otherwise hide their lower edge.
    for (QPushButton *b : {w.Command2, w.Command3}) {
        const int room = w.ListView1->y() - b->y();
        b->resize(b->width(),
                  std::max(Twips::toPixels(ButtonHeight, w.dpi()),
                           std::min(b->sizeHint().height(), room)));
    }
    // Single-line boxes keep the height of one line of their font.
    for (QLineEdit *box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5}) {
        setPointSize(box, BoxPoints);
        box->resize(box->width(),
                    std::max(Twips::toPixels(BoxHeight, w.dpi()), box->sizeHint().height()));
    }
    setPointSize(w.Frame5, EnlargedPoints);
    for (QGroupBox *frame : {w.Frame1, w.Frame2})
        frame->resize(frame->width(), Twips::toPixels(EnlargedFrameHeight, w.dpi()));
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
    const QString address =
            QStringList{g[0].toLower(), g[1].toLower(), g[2].toLower(), g[3].toLower()}.join(u'.');
    PCIPRecord &buffer = m_module.PCIPBuffer;
    buffer.TryConnect = toVB(tried);
    buffer.setName(w.Text1->text());
    buffer.setAddress(address);
    // The new row shows the name as typed until the list is next rebuilt.
    const QStringList row{tried ? Tried : NotTried, w.Text1->text(), address};
    commit([&](PCIPError &e) { return PCIPFile::appendTo(m_listPath, buffer, &e); },
           [&] { w.ListView1->addTopLevelItem(new QTreeWidgetItem(row)); });
}

bool Form2::selectedRowIsValid() const
{
    // 0 (no row chosen yet) and -1 (after a modify or delete) select
    // nothing; a row number kept from an earlier opening may also lie past
    // the end of a list that has become shorter since.
    return SelectedRow >= 1 && SelectedRow <= m_window->ListView1->topLevelItemCount();
}

void Form2::Command3_Click()
{
    if (!selectedRowIsValid() || !TextCheck())
        return;
    Form2Window &w = *m_window;
    const std::array<QString, 4> g = groups();
    PCIPRecord &buffer = m_module.PCIPBuffer;
    buffer.TryConnect = toVB(w.Option1->isChecked());
    buffer.setName(w.Text1->text());
    buffer.setAddress(QStringList{g.begin(), g.end()}.join(u'.'));
    const int row = SelectedRow;
    commit([&](PCIPError &e) { return PCIPFile::overwrite(m_listPath, row, buffer, &e); },
           [this] {
               SelectedRow = -1;
               ListLoad();
           });
}

void Form2::Command2_Click()
{
    if (!selectedRowIsValid())
        return;
    if (m_messageBox.exclamation(DeleteQuestion, Lintra, MessageBox::Buttons::OkCancel)
        != MessageBox::Answer::Ok)
        return;
    // The record goes from the file's bytes, not from the rows: records
    // past the list's end and bytes the rows cannot show are kept.
    const int row = SelectedRow;
    commit([&](PCIPError &e) { return PCIPFile::remove(m_listPath, row, &e); },
           [this, row] {
               SelectedRow = -1;
               const QSignalBlocker quiet(m_window->ListView1);
               delete m_window->ListView1->takeTopLevelItem(row - 1);
           });
}

void Form2::commit(const Write &write, const std::function<void()> &showChange)
{
    PCIPError error;
    if (!write(error)) {
        reportFileFailure(WriteFailed, error);
        ListLoad();
        return;
    }
    showChange();
    showSelectedRow();
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

void Form2::ListView1_SelectionChange()
{
    // The highlight is the selection: moved by the keys it selects its row
    // as a click would; taken away (Ctrl+click) it comes back to SelectedRow.
    const QList<QTreeWidgetItem *> selected = m_window->ListView1->selectedItems();
    if (selected.isEmpty())
        showSelectedRow();
    else
        ListView1_ItemClick(selected.first());
}

void Form2::showSelectedRow()
{
    QTreeWidget *list = m_window->ListView1;
    const QSignalBlocker quiet(list);
    if (selectedRowIsValid())
        list->setCurrentItem(list->topLevelItem(SelectedRow - 1));
    else
        list->clearSelection();
}

void Form2::h11_Click()
{
    m_shell.open(
            QDir::toNativeSeparators(QDir(QCoreApplication::applicationDirPath()).filePath(HelpFile)));
}

void Form2::reportFileFailure(const QString &what, const PCIPError &error)
{
    m_messageBox.exclamation(what + u'\n' + failureReason(error), Lintra);
}

#include "form1.h"

#include "form2.h"
#include "frmabout.h"
#include "inputmodefocus.h"
#include "module1.h"
#include "shellopen.h"
#include "statusline.h"
#include "twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>

namespace {

constexpr int TimerIntervalMs = 1000;
constexpr double DesignClientWidth = 6960;
constexpr double DesignClientHeight = 4992;
constexpr double DesignLeft = 2052;
constexpr double DesignTop = 1836;
constexpr double DesignStatusBarHeight = 276;
constexpr qint16 DisplayFontSizes[] = {18, 14, 9}; // set222: 大きい, 中くらい, 小さい
constexpr int SmallDisplay = 2;
const QStringList TextSizes = {QStringLiteral("9"),  QStringLiteral("10"), QStringLiteral("12"),
                               QStringLiteral("14"), QStringLiteral("16"), QStringLiteral("18"),
                               QStringLiteral("22")};
constexpr int LineCountSteps = 5;
// Combo4 shows the largest line count a server gives, 1000, whole.
constexpr int LineCountDigits = 4;

} // namespace

form1::form1(Module1 &module, MessageBox &messageBox, const Clock &clock, ShellOpen &shell,
             QWidget *parent)
    : QMainWindow(parent),
      m_module(module),
      m_shell(shell),
      m_link(*this, messageBox, clock, module.PCIPBuffer, module.PCIPPath)
{
    setObjectName(QStringLiteral("form1"));
    setWindowTitle(QStringLiteral("Lintra"));
    createControls();
    createMenus();
    Timer1.setParent(this);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(TimerIntervalMs);
    connect(&Timer1, &QTimer::timeout, &m_link, &ChatLink::Timer1_Timer);
    Form_Load();
    Timer1.start();

    const double dpi = logicalDpiY();
    const int statusHeight = Twips::toPixels(DesignStatusBarHeight, dpi);
    resize(Twips::toPixels(DesignClientWidth, dpi),
           Twips::toPixels(DesignClientHeight, dpi) - statusHeight + menuBar()->sizeHint().height()
                   + statusBar()->sizeHint().height());
    move(Twips::toPixels(DesignLeft, dpi), Twips::toPixels(DesignTop, dpi));
}

form1::~form1() = default;

void form1::setInputMode(InputMode &inputMode)
{
    new InputModeFocus(Text2, inputMode, InputMode::Mode::Hiragana);
}

void form1::createControls()
{
    auto *client = new QWidget(this);
    setCentralWidget(client);

    auto label = [client](const char *name, const QString &caption, QWidget *buddy) {
        auto *l = new QLabel(caption, client);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        buddy->setAccessibleName(caption);
        return l;
    };
    auto button = [client](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, client);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(caption);
        // Enter on the focused button presses it, as Space does.
        b->setAutoDefault(true);
        return b;
    };
    auto area = [client](const char *name, const QString &accessibleName) {
        auto *t = new QPlainTextEdit(client);
        t->setObjectName(QLatin1String(name));
        t->setReadOnly(true);
        t->setTabChangesFocus(true);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        t->setAccessibleName(accessibleName);
        return t;
    };
    auto combo = [client](const char *name) {
        auto *c = new QComboBox(client);
        c->setObjectName(QLatin1String(name));
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        return c;
    };

    Text1 = new QLineEdit(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text2 = new QLineEdit(client);
    Text2->setObjectName(QStringLiteral("Text2"));
    Command1 = button("Command1", QStringLiteral("送信/更新"));
    Command2 = button("Command2", QStringLiteral("接続/参加"));
    Command3 = button("Command3", QStringLiteral("切断/退室"));
    Text3 = area("Text3", QStringLiteral("会話"));
    Text4 = area("Text4", QStringLiteral("参加者"));
    Combo3 = combo("Combo3");
    Combo4 = combo("Combo4");
    Combo4->setMinimumContentsLength(LineCountDigits);
    Label1 = label("Label1", QStringLiteral("名前"), Text1);
    Label2 = label("Label2", QStringLiteral("送信文"), Text2);
    Label3 = label("Label3", QStringLiteral("文字サイズ(pt)"), Combo3);
    Label4 = label("Label4", QStringLiteral("表示行数(行)"), Combo4);

    m_controls = {Label1, Label2,   Label3,   Label4,   Text1,  Text2, Text3,
                  Text4,  Command1, Command2, Command3, Combo3, Combo4};

    m_statusText = new StatusLine(this);
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->setSizeGripEnabled(true);

    // The tab order of the design; labels and the status bar take no focus.
    QWidget *order[] = {Text1, Text2, Command1, Text3, Command2, Command3, Text4, Combo3, Combo4};
    for (size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);

    connect(Command1, &QPushButton::clicked, &m_link, &ChatLink::Command1_Click);
    connect(Command2, &QPushButton::clicked, &m_link, &ChatLink::Command2_Click);
    connect(Command3, &QPushButton::clicked, &m_link, &ChatLink::Command3_Click);
    connect(Text2, &QLineEdit::returnPressed, &m_link, &ChatLink::Text2_Enter);
    connect(Combo3, &QComboBox::activated, this, &form1::Combo3_Click);
}

void form1::createMenus()
{
    auto item = [](QMenu *menu, const QString &caption, QList<QAction *> &array, bool checkable,
                   auto handler) {
        QAction *action = menu->addAction(caption);
        action->setCheckable(checkable);
        const int index = int(array.size());
        array.append(action);
        QObject::connect(action, &QAction::triggered, action, [handler, index] { handler(index); });
    };

    QMenu *f1 = menuBar()->addMenu(QStringLiteral("終了"));
    item(f1, QStringLiteral("切断"), f11, false, [this](int i) { m_link.f11_Click(i); });

    QMenu *set1 = menuBar()->addMenu(QStringLiteral("設定"));
    item(set1, QStringLiteral("接続先を設定する"), set11, false, [this](int i) { set11_Click(i); });
    QMenu *set22 = set1->addMenu(QStringLiteral("全体の表示を変える"));
    for (const char *caption : {"大きい", "中くらい", "小さい"})
        item(set22, QString::fromUtf8(caption), set222, true, [this](int i) { set222_Click(i); });
    QMenu *set33 = set1->addMenu(QStringLiteral("内容の自動更新"));
    for (const char *caption :
         {"自動で更新しない", "10秒で更新", "30秒で更新", "1分で更新", "5分で更新", "10分で更新"})
        item(set33, QString::fromUtf8(caption), set333, true,
             [this](int i) { m_link.set333_Click(i); });

    QMenu *h1 = menuBar()->addMenu(QStringLiteral("ヘルプ"));
    for (const char *caption : {"バージョン情報", "ヘルプ"})
        item(h1, QString::fromUtf8(caption), h11, false, [this](int i) { h11_Click(i); });
}

void form1::Form_Load()
{
    m_link.ChatDisable();
    set222[SmallDisplay]->setChecked(true);
    set222_Click(SmallDisplay);
    m_link.LinkUp = VBFalse;
    m_link.Timer1_Timer(); // the title shows the start time before the first tick
    Combo3->addItems(TextSizes);
    Combo3->setEditText(TextSizes.first());
    for (int n = 1; n <= LineCountSteps; ++n)
        Combo4->addItem(QString::number(10 * n));
    Combo4->setEditText(QStringLiteral("10"));
    set333[0]->setChecked(true);
}

int form1::checkedDisplaySize() const
{
    for (int k = 0; k < set222.size(); ++k)
        if (set222[k]->isChecked())
            return k;
    return SmallDisplay;
}

QWidget *form1::withFont(DisplayLayout::Control c, int points) const
{
    QWidget *w = control(c);
    if (w->font().pointSize() != points) {
        QFont font = w->font();
        font.setPointSize(points);
        w->setFont(font);
    }
    return w;
}

float form1::labelWidth(DisplayLayout::Control label, int points) const
{
    return float(Twips::fromPixels(withFont(label, points)->sizeHint().width(), logicalDpiX()));
}

float form1::labelHeight(DisplayLayout::Control label, int points) const
{
    return float(Twips::fromPixels(withFont(label, points)->sizeHint().height(), logicalDpiY()));
}

float form1::lineBoxHeight(DisplayLayout::Control box, int points) const
{
    return float(Twips::fromPixels(withFont(box, points)->sizeHint().height(), logicalDpiY()));
}

float form1::comboHeight(DisplayLayout::Control combo, int points) const
{
    return float(Twips::fromPixels(withFont(combo, points)->sizeHint().height(), logicalDpiY()));
}

void form1::Form_Resize()
{
    DisplayLayout::Window window;
    if (!isMinimized()) {
        // The design's client area holds the status bar's strip too.
        const double dpiX = logicalDpiX();
        const double dpiY = logicalDpiY();
        window.width = float(Twips::fromPixels(centralWidget()->width(), dpiX));
        window.statusBarHeight = float(Twips::fromPixels(statusBar()->height(), dpiY));
        window.height =
                float(Twips::fromPixels(centralWidget()->height(), dpiY)) + window.statusBarHeight;
        window.outerWidth = float(Twips::fromPixels(frameGeometry().width(), dpiX));
    }
    m_lastPass = DisplayLayout::run(m_geometry, window, m_module.DisplayFontSize, checkedDisplaySize(),
                                    *this);
    applyGeometry();
}

void form1::applyGeometry()
{
    const double dpi = logicalDpiY();
    for (int c = 0; c < DisplayLayout::ControlCount; ++c) {
        const DisplayLayout::Place &p = m_geometry[c];
        const auto id = DisplayLayout::Control(c);
        if (p.fontPoints > 0)
            withFont(id, p.fontPoints);
        QRect rect = Twips::toPixels(QRectF(p.left, p.top, p.width, p.height), dpi);
        // The design's width cuts "1000" at every size; nothing lies to its right.
        if (id == DisplayLayout::Combo4)
            rect.setWidth(std::max(rect.width(), Combo4->sizeHint().width()));
        control(id)->setGeometry(rect);
    }
}

void form1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimising empties the client area and restoring brings it back:
    // both run a pass, as any resize does.
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void form1::set222_Click(int index)
{
    m_module.DisplayFontSize = DisplayFontSizes[index];
    for (int k = 0; k < set222.size(); ++k)
        set222[k]->setChecked(k == index);
    Form_Resize();
}

void form1::set11_Click(int)
{
    // Modal and without an owner; the timer and the socket keep running.
    if (m_editor)
        m_editor->show();
}

void form1::h11_Click(int index)
{
    if (index == 0)
        frmAbout::showModal();
    else if (index == 1)
        m_shell.open(QDir::toNativeSeparators(
                QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Duvetta.chm"))));
}

void form1::Combo3_Click()
{
    bool ok = false;
    const float size = Combo3->currentText().toFloat(&ok);
    if (!ok || size <= 0)
        return;
    for (QPlainTextEdit *area : {Text3, Text4}) {
        QFont font = area->font();
        font.setPointSizeF(size);
        area->setFont(font);
    }
}

QString form1::nameText() const
{
    return Text1->text();
}

QString form1::messageText() const
{
    return Text2->text();
}

void form1::setMessageText(const QString &text)
{
    Text2->setText(text);
}

QString form1::lineCountText() const
{
    return Combo4->currentText();
}

void form1::setStatusText(const QString &text)
{
    m_statusText->setStatus(text);
}

void form1::setSendEnabled(bool on)
{
    Command1->setEnabled(on);
}

void form1::setJoinEnabled(bool on)
{
    Command2->setEnabled(on);
}

void form1::setLeaveEnabled(bool on)
{
    Command3->setEnabled(on);
}

void form1::setMessageEnabled(bool on)
{
    Text2->setEnabled(on);
}

void form1::setRefreshChecked(int index)
{
    for (int k = 0; k < set333.size(); ++k)
        set333[k]->setChecked(k == index);
}

void form1::showReply(const QString &left, const QString &right, bool keepView)
{
    QScrollBar *bar = Text3->verticalScrollBar();
    const int at = bar->value();
    const bool atEnd = at == bar->maximum();
    // Each area's content is replaced whole, Text4 first; clearing them
    // first would only lay the documents out twice.
    // Every line end (CR LF, LF or a lone CR) is one line break of the text
    // area's own.
    Text4->setPlainText(left);
    Text3->setPlainText(right);
    if (keepView)
        bar->setValue(atEnd ? bar->maximum() : at);
}

void form1::warnCut()
{
    QApplication::beep();
}

void form1::notifyUnread()
{
    // The title stays as it is; the window system flashes the entry.
    if (!isActiveWindow())
        QApplication::alert(this);
}

void form1::focusMessage()
{
    Text2->setFocus();
}

void form1::closeEvent(QCloseEvent *event)
{
    // The socket goes first, and a waiting connect walk ends without
    // touching this window again.
    m_link.windowClosing();
    Timer1.stop();
    QMainWindow::closeEvent(event);
}

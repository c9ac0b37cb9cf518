#include "form2window.h"

#include "inputmodefocus.h"
#include "twips.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr double ClientWidth = 5664;
constexpr double ClientHeight = 5832;
constexpr int PictureSize = 32;
const QString GroupsCaption = QStringLiteral("IPｱﾄﾞﾚｽ（例:192.235・・・）");

} // namespace

Form2Window::Form2Window(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Lintra"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    auto *menus = new QMenuBar(this);
    QMenu *f1 = menus->addMenu(QStringLiteral("終了"));
    f11 = f1->addAction(QStringLiteral("設定完了"));
    QMenu *h1 = menus->addMenu(QStringLiteral("ヘルプ"));
    h11 = h1->addAction(QStringLiteral("ヘルプ"));
    const int menuHeight = menus->sizeHint().height();
    m_client = new QWidget(this);
    m_client->setGeometry(0, menuHeight, Twips::toPixels(ClientWidth, dpi()),
                          Twips::toPixels(ClientHeight, dpi()));
    menus->setGeometry(0, 0, m_client->width(), menuHeight);
    setFixedSize(m_client->width(), m_client->height() + menuHeight);

    auto frame = [this](const char *name, const QString &caption) {
        auto *g = new QGroupBox(caption, m_client);
        g->setObjectName(QLatin1String(name));
        return g;
    };
    auto box = [](const char *name, QWidget *parent, const QString &accessibleName) {
        auto *t = new QLineEdit(parent);
        t->setObjectName(QLatin1String(name));
        t->setAccessibleName(accessibleName);
        return t;
    };
    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, m_client);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(caption);
        b->setAutoDefault(false);
        return b;
    };

    Frame5 = frame("Frame5", QStringLiteral("Harrox接続先リストへ追加"));
    Frame4 = frame("Frame4", QStringLiteral("接続先に設定"));
    Frame1 = frame("Frame1", QStringLiteral("接続先の名前"));
    Frame2 = frame("Frame2", GroupsCaption);
    Frame3 = frame("Frame3", QStringLiteral("Harrox接続先リスト"));

    Command1 = new QToolButton(m_client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setText(QStringLiteral("∨新規追加∨"));
    Command1->setAccessibleName(Command1->text());
    Command1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Command1->setIcon(QIcon(QStringLiteral(":/icons/lintra-32.png")));
    Command1->setIconSize(QSize(PictureSize, PictureSize));

    Option1 = new QRadioButton(QStringLiteral("する"), Frame4);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("しない"), Frame4);
    Option2->setObjectName(QStringLiteral("Option2"));

    // The name box takes Japanese input; the group boxes take digits with
    // the input method off.
    Text1 = box("Text1", m_client, Frame1->title());
    Text2 = box("Text2", m_client, GroupsCaption + QStringLiteral(" 1"));
    Text3 = box("Text3", Frame2, GroupsCaption + QStringLiteral(" 2"));
    Text4 = box("Text4", Frame2, GroupsCaption + QStringLiteral(" 3"));
    Text5 = box("Text5", Frame2, GroupsCaption + QStringLiteral(" 4"));
    for (QLineEdit *group : {Text2, Text3, Text4, Text5}) {
        group->setAttribute(Qt::WA_InputMethodEnabled, false);
        group->setInputMethodHints(Qt::ImhPreferNumbers | Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
    }

    Command3 = button("Command3", QStringLiteral("～修正～"));
    Command2 = button("Command2", QStringLiteral("×削除×"));

    ListView1 = new QTreeWidget(m_client);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(Frame3->title());
    ListView1->setRootIsDecorated(false);
    ListView1->setSortingEnabled(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setSectionsMovable(false);

    place(Frame5, 120, 0, 5415, 3135);
    place(Command1, 360, 480, 1935, 2415);
    place(Frame4, 2400, 360, 2895, 735);
    place(Option1, 240, 360, 1215, 252);
    place(Option2, 1560, 360, 1215, 255);
    place(Frame1, 2400, 1200, 2895, 735);
    place(Text1, 2520, 1560, 2655, 270);
    place(Frame2, 2400, 2160, 2895, 735);
    place(Text2, 2520, 2520, 495, 270);
    place(Text3, 840, 360, 495, 264);
    place(Text4, 1560, 360, 495, 264);
    place(Text5, 2280, 360, 495, 264);
    place(Frame3, 120, 3240, 5400, 2535);
    place(Command3, 600, 3600, 1455, 375);
    place(Command2, 3600, 3600, 1455, 375);
    place(ListView1, 240, 4080, 5175, 1575);
    // Boxes that stand over a frame are drawn above it.
    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Text2),
                       static_cast<QWidget *>(Command3), static_cast<QWidget *>(Command2),
                       static_cast<QWidget *>(ListView1)})
        w->raise();

    // The tab order of the design.
    QWidget *order[] = {Option1, Text1,    Text2,     Text3,  Text4,  Text5,   Command1, Command3,
                        Frame1,  Command2, ListView1, Frame3, Frame4, Option2, Frame2,   Frame5};
    for (size_t k = 1; k < std::size(order); ++k)
        setTabOrder(order[k - 1], order[k]);
}

void Form2Window::setInputMode(InputMode &inputMode)
{
    new InputModeFocus(Text1, inputMode, InputMode::Mode::Hiragana);
    for (QLineEdit *group : {Text2, Text3, Text4, Text5})
        new InputModeFocus(group, inputMode, InputMode::Mode::Off);
    inputMode.request(InputMode::Mode::Hiragana);
}

void Form2Window::place(QWidget *control, double left, double top, double width, double height)
{
    control->setGeometry(Twips::toPixels(QRectF(left, top, width, height), dpi()));
}

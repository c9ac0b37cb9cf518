#pragma once

#include "chatlink.h"
#include "chatview.h"
#include "displaylayout.h"

#include <QList>
#include <QMainWindow>
#include <QTimer>

class Clock;
class MessageBox;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class StatusLine;
class Form2;
class InputMode;
class ShellOpen;
struct Module1;

// The main chat window. It builds the controls and menus of the design and
// hands every chat event to its ChatLink; the window itself only shows.
class form1 : public QMainWindow, public ChatView, private DisplayLayout::Metrics
{
    Q_OBJECT

public:
    // Where the last layout pass ended; tests and the benchmark read it.
    DisplayLayout::Reached lastPass() const { return m_lastPass; }
    // The layout pass, run on every resize and display-size pick.
    void Form_Resize();

    form1(Module1 &module, MessageBox &messageBox, const Clock &clock, ShellOpen &shell,
          QWidget *parent = nullptr);
    ~form1() override;

    ChatLink &link() { return m_link; }
    // The destination editor that 接続先を設定する opens.
    void setDestinationEditor(Form2 *editor) { m_editor = editor; }
    // From now on Text2 asks for hiragana each time it takes the focus.
    void setInputMode(InputMode &inputMode);

    // ChatView
    QString nameText() const override;
    QString messageText() const override;
    void setMessageText(const QString &text) override;
    QString lineCountText() const override;
    void setStatusText(const QString &text) override;
    void setCaption(const QString &text) override { setWindowTitle(text); }
    void setSendEnabled(bool on) override;
    void setJoinEnabled(bool on) override;
    void setLeaveEnabled(bool on) override;
    void setMessageEnabled(bool on) override;
    void setRefreshChecked(int index) override;
    void showReply(const QString &left, const QString &right, bool keepView) override;
    void warnCut() override;
    void notifyUnread() override;
    void focusMessage() override;
    void closeWindow() override { close(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void createMenus();
    void Form_Load();
    void applyGeometry();
    QWidget *control(DisplayLayout::Control c) const { return m_controls[c]; }
    int checkedDisplaySize() const;

    // DisplayLayout::Metrics, read from the real controls in their new font.
    float labelWidth(DisplayLayout::Control label, int points) const override;
    float labelHeight(DisplayLayout::Control label, int points) const override;
    float lineBoxHeight(DisplayLayout::Control box, int points) const override;
    float comboHeight(DisplayLayout::Control combo, int points) const override;
    QWidget *withFont(DisplayLayout::Control c, int points) const;
    // 全体の表示を変える: 0 大きい, 1 中くらい, 2 小さい; sets DisplayFontSize and lays out.
    void set222_Click(int index);
    // 接続先を設定する: opens the destination editor, modal.
    void set11_Click(int index);
    // ヘルプ menu: 0 opens the about window, 1 the main window's help file.
    void h11_Click(int index);
    // A text size picked in Combo3 applies to Text3 and Text4 only.
    void Combo3_Click();

    Module1 &m_module;
    ShellOpen &m_shell;
    Form2 *m_editor = nullptr;
    ChatLink m_link;
    DisplayLayout::Geometry m_geometry = DisplayLayout::designGeometry(); // twips
    QTimer Timer1; // title clock and automatic refresh, every second

    QLineEdit *Text1 = nullptr; // user name
    QLineEdit *Text2 = nullptr; // message; Enter sends
    QPlainTextEdit *Text3 = nullptr; // conversation: right part of each reply
    QPlainTextEdit *Text4 = nullptr; // side area: left part of each reply
    QPushButton *Command1 = nullptr; // 送信/更新
    QPushButton *Command2 = nullptr; // 接続/参加
    QPushButton *Command3 = nullptr; // 切断/退室
    QComboBox *Combo3 = nullptr; // text size of the two areas
    QComboBox *Combo4 = nullptr; // line count carried by every request
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    StatusLine *m_statusText = nullptr; // the one pane of SB
    std::array<QWidget *, DisplayLayout::ControlCount> m_controls{}; // by layout index

    QList<QAction *> f11;
    QList<QAction *> set11;
    QList<QAction *> set222; // 大きい, 中くらい, 小さい
    QList<QAction *> set333; // automatic refresh intervals
    QList<QAction *> h11; // バージョン情報, ヘルプ
    DisplayLayout::Reached m_lastPass = DisplayLayout::Reached::End;
};

#pragma once

#include <QDialog>

class InputMode;
class QAction;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QPushButton;
class QToolButton;
class QTreeWidget;

// The controls of the destination editor at their design places; built
// afresh for every opening. Form2 holds the editor's state and handlers.
class Form2Window : public QDialog
{
    Q_OBJECT

public:
    explicit Form2Window(QWidget *parent = nullptr);

    // Places a control at a design rectangle in twips, relative to its parent.
    void place(QWidget *control, double left, double top, double width, double height);
    double dpi() const { return logicalDpiY(); }
    // Asks for hiragana now, as the editor opens, and whenever the name box
    // takes the focus; the group boxes ask for the input method off.
    void setInputMode(InputMode &inputMode);

    QGroupBox *Frame1 = nullptr; // 接続先の名前
    QGroupBox *Frame2 = nullptr; // IPｱﾄﾞﾚｽ
    QGroupBox *Frame3 = nullptr; // Harrox接続先リスト
    QGroupBox *Frame4 = nullptr; // 接続先に設定
    QGroupBox *Frame5 = nullptr; // add mode or modify/delete mode
    QRadioButton *Option1 = nullptr; // する
    QRadioButton *Option2 = nullptr; // しない
    QLineEdit *Text1 = nullptr; // name
    QLineEdit *Text2 = nullptr; // address groups, left to right
    QLineEdit *Text3 = nullptr;
    QLineEdit *Text4 = nullptr;
    QLineEdit *Text5 = nullptr;
    QToolButton *Command1 = nullptr; // ∨新規追加∨
    QPushButton *Command2 = nullptr; // ×削除×
    QPushButton *Command3 = nullptr; // ～修正～
    QTreeWidget *ListView1 = nullptr; // one row per record, in file order
    QAction *f11 = nullptr; // 設定完了
    QAction *h11 = nullptr; // ヘルプ

private:
    QWidget *m_client = nullptr;
};

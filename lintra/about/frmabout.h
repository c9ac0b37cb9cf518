#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about window: the program's title and version. A new one is made for
// every opening and destroyed when it closes.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    // Shows a new about window modally, without an owner, until it closes.
    static void showModal();

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QPushButton *cmdOK = nullptr; // default (Enter) and cancel (Esc)
};

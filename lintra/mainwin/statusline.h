#pragma once

#include <QLabel>

// The one text pane of the status bar SB. Its text is what assistive
// technology reads, as its name and through a text interface, and every
// change is announced: connection results and socket errors appear nowhere
// else.
class StatusLine : public QLabel
{
    Q_OBJECT

public:
    explicit StatusLine(QWidget *parent = nullptr);

    void setStatus(const QString &text);
};

#pragma once

#include "inputmode.h"

#include <QObject>

class QWidget;

// Asks for a mode each time a text box takes the focus. Watches the box
// as an event filter and lives as its child, so one line wires a box.
class InputModeFocus : public QObject
{
    Q_OBJECT

public:
    InputModeFocus(QWidget *box, InputMode &inputMode, InputMode::Mode mode);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    InputMode &m_inputMode;
    InputMode::Mode m_mode;
};

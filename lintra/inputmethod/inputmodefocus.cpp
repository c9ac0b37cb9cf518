#include "inputmodefocus.h"

#include <QEvent>
#include <QWidget>

InputModeFocus::InputModeFocus(QWidget *box, InputMode &inputMode, InputMode::Mode mode)
    : QObject(box), m_inputMode(inputMode), m_mode(mode)
{
    box->installEventFilter(this);
}

bool InputModeFocus::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::FocusIn)
        m_inputMode.request(m_mode);
    return false; // the box handles its focus as usual
}

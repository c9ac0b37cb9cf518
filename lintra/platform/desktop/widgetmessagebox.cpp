#include "widgetmessagebox.h"

#include <QMessageBox>

MessageBox::Answer WidgetMessageBox::exclamation(const QString &text, const QString &title,
                                                 Buttons buttons)
{
    QMessageBox box(QMessageBox::Warning, title, text);
    box.setTextFormat(Qt::PlainText);
    if (buttons == Buttons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

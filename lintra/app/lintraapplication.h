#pragma once

#include <QApplication>

class MessageBox;

// The application object. An exception that escapes an event handler is
// caught where the event is dispatched, shown in a warning box titled
// "Lintra", and the program goes on.
class LintraApplication : public QApplication
{
    Q_OBJECT

public:
    LintraApplication(int &argc, char **argv);

    void setMessageBox(MessageBox *box) { m_messageBox = box; }
    bool notify(QObject *receiver, QEvent *event) override;

    // Japanese translations of the toolkit's own texts (socket errors,
    // standard buttons), as the rest of the window reads.
    void installToolkitTranslations();

private:
    void report(const QString &what);

    MessageBox *m_messageBox = nullptr;
    bool m_reporting = false;
};

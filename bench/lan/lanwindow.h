#pragma once

#include "fakebackedform1.h"
#include "pcipfile.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>

// Lintra's window on fakes, its PCIP.dat listing the LAN's server alone,
// joining there under a name as a user would.
struct LanWindow
{
    LanWindow(const QString &server, const QString &name)
    {
        PCIPRecord r;
        r.TryConnect = VBTrue;
        r.setName(QStringLiteral("lan"));
        r.setAddress(server);
        PCIPFile::rewrite(QStringLiteral("PCIP.dat"), {r});
        form.show();
        form.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(name);
        text2 = form.findChild<QLineEdit *>(QStringLiteral("Text2"));
        text3 = form.findChild<QPlainTextEdit *>(QStringLiteral("Text3"));
        combo4 = form.findChild<QComboBox *>(QStringLiteral("Combo4"));
        send = form.findChild<QPushButton *>(QStringLiteral("Command1"));
        form.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    }

    FakeBackedForm1<> desk;
    form1 &form = desk.window;
    QLineEdit *text2 = nullptr;
    QPlainTextEdit *text3 = nullptr;
    QComboBox *combo4 = nullptr;
    QPushButton *send = nullptr;
};

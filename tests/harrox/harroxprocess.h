#pragma once

#include "chatclient.h"

#include <QProcess>
#include <QRegularExpression>

// A real harrox on 127.0.0.1, for what only a process shows; its log is kept.
struct HarroxProcess
{
    HarroxProcess() { QObject::connect(&process, &QProcess::readyReadStandardError, [this] { log += QString::fromUtf8(process.readAllStandardError()); }); }
    ~HarroxProcess() { process.kill(), process.waitForFinished(); }
    // True once it listens; later arguments win.
    bool start(const QStringList &arguments)
    {
        log.clear();
        process.start(program, QStringList{QStringLiteral("--listen=127.0.0.1"), QStringLiteral("--port=0")} + arguments);
        static const QRegularExpression listening(QStringLiteral("listening on [^ ]*:(\\d+),"));
        QRegularExpressionMatch match;
        (void)QTest::qWaitFor([&] { return (match = listening.match(log)).hasMatch() || process.state() == QProcess::NotRunning; }, WaitMs);
        if (!match.hasMatch() && process.waitForFinished(WaitMs))
            log += QString::fromUtf8(process.readAllStandardError());
        port = quint16(match.captured(1).toUInt());
        return match.hasMatch();
    }
    // What a client that has not joined is shown.
    ChatProtocol::ReplyParts shown()
    {
        ChatClient look;
        return look.connectTo(port) ? divide(look.exchange(refresh("200"))) : ChatProtocol::ReplyParts{};
    }
    QStringList lines() { return shown().right.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts); }

    QString program = QStringLiteral(HARROX_PATH);
    QProcess process;
    QString log;
    quint16 port = 0;
};

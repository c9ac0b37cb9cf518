#include "statussocket.h"

#include <QDeadlineTimer>
#include <QLocalSocket>

StatusSocket::StatusSocket(std::function<QString()> report, QObject *parent)
    : QObject(parent), m_report(std::move(report))
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &StatusSocket::answer);
}

bool StatusSocket::listen(const QString &path)
{
    // What a killed server left behind; a live one is never replaced by this,
    // as the unit runs one server.
    QLocalServer::removeServer(path);
    return m_server.listen(path);
}

QString StatusSocket::servicePath()
{
    const QString runtime = qEnvironmentVariable("RUNTIME_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/harrox.sock");
}

bool StatusSocket::ask(const QString &path, QString *answer, int withinMs)
{
    // One bound for the whole answer: a server that sends a byte now and
    // then must not hold the command either.
    const QDeadlineTimer deadline(withinMs);
    QLocalSocket socket;
    socket.connectToServer(path, QIODevice::ReadOnly);
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        *answer = QStringLiteral("no harrox answers at %1: %2").arg(path, socket.errorString());
        return false;
    }
    QByteArray text;
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()
           && socket.waitForReadyRead(int(deadline.remainingTime())))
        text += socket.readAll();
    text += socket.readAll();
    *answer = QString::fromUtf8(text);
    if (socket.state() == QLocalSocket::ConnectedState)
        *answer += QStringLiteral("\n(no end of the answer within %1 s)").arg(withinMs / 1000.0);
    return !text.isEmpty();
}

void StatusSocket::answer()
{
    while (QLocalSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        client->write(m_report().toUtf8());
        client->disconnectFromServer();
    }
}

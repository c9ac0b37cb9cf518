#include "link/chatsocket.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <sys/ioctl.h>

namespace {

constexpr int MaxDrainRounds = 64;

} // namespace

ChatSocket::ChatSocket(QObject *parent) : QObject(parent)
{
    m_socket.setParent(this);
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_closeReported = false;
        emit connected();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &ChatSocket::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ChatSocket::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_closeReported) {
            m_closeReported = true;
            emit closed();
        }
    });
}

void ChatSocket::close()
{
    // Our own close is not an event of the socket.
    const QSignalBlocker blocker(m_socket);
    m_socket.abort();
    m_decoder.reset();
}

bool ChatSocket::connectToRemote()
{
    m_requestError.clear();
    // Only a literal address: a destination never causes a name look-up.
    const QHostAddress address(m_remoteHost);
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol) {
        m_requestError = QCoreApplication::translate("QAbstractSocket", "Host not found");
        return false;
    }
    m_decoder.reset();
    m_closeReported = false;
    m_socket.connectToHost(address, m_remotePort);
    return true;
}

QString ChatSocket::localAddress() const
{
    return m_socket.localAddress().toString();
}

void ChatSocket::send(const QString &text)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    m_socket.write(Cp932::encode(text));
}

bool ChatSocket::moreBytesArrived() const
{
    int pending = 0;
    const qintptr fd = m_socket.socketDescriptor();
    return fd >= 0 && ::ioctl(int(fd), FIONREAD, &pending) == 0 && pending > 0;
}

void ChatSocket::onReadyRead()
{
    // A large reply reaches us in several TCP segments. What has already
    // arrived behind the first one is taken along at once (never waiting),
    // so that one reply is one data event as far as the network allows.
    QByteArray bytes = m_socket.readAll();
    for (int round = 0; round < MaxDrainRounds && moreBytesArrived()
                        && m_socket.waitForReadyRead(0);
         ++round)
        bytes += m_socket.readAll();
    const QString text = m_decoder.decode(bytes);
    // A lone lead byte waits for the rest of its character.
    if (!text.isEmpty())
        emit dataArrival(text);
}

void ChatSocket::onError(QAbstractSocket::SocketError code)
{
    if (code == QAbstractSocket::RemoteHostClosedError) {
        // The peer closed: that is the close event, not an error. Data still
        // buffered is delivered first.
        if (m_socket.bytesAvailable() > 0)
            onReadyRead();
        if (!m_closeReported) {
            m_closeReported = true;
            emit closed();
        }
        return;
    }
    emit error(m_socket.errorString());
}

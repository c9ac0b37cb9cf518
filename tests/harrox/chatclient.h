#pragma once

#include "wire/chatprotocol.h"
#include "wire/cp932.h"

#include <QTcpSocket>
#include <QTest>

// A Lintra-like peer on loopback for the server's tests, bound to a chosen
// 127.0.0.x so that per-address limits can be told apart.
constexpr int WaitMs = 10000;

inline QByteArray request(QByteArrayView verb, const QString &payload, QByteArrayView count = "10")
{
    return verb.toByteArray() + Cp932::encode(payload) + "/*/~127.0.0.1/**/" + count.toByteArray();
}
inline QByteArray join(const QString &name)
{
    return request("CanEnter?", name);
}
inline QByteArray post(const QString &text)
{
    return request("NormalTel", text);
}
inline QByteArray refresh(QByteArrayView count = "10")
{
    return request("/Reflesh/", {}, count);
}
inline ChatProtocol::ReplyParts divide(const QByteArray &reply)
{
    return ChatProtocol::divideReply(Cp932::decode(ChatProtocol::withoutReplyEnd(reply)));
}

class ChatClient
{
public:
    explicit ChatClient(const char *from = "127.0.0.1")
    {
        socket.bind(QHostAddress(QString::fromLatin1(from)), 0);
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { m_received += socket.readBufferSize() ? QByteArray() : socket.readAll(); });
    }
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(WaitMs);
    }
    void send(const QByteArray &bytes) { socket.write(bytes), socket.flush(); }
    // The reply to one request, empty when none came; tests keep "/*/" out
    // of what they post, so each reply holds it once.
    QByteArray exchange(const QByteArray &bytes)
    {
        m_received.clear();
        send(bytes);
        return QTest::qWaitFor([this] { return m_received.contains("/*/"); }, WaitMs) ? m_received : QByteArray();
    }
    QByteArray received() const { return m_received; }
    // Leaves what arrives in the kernel: the server's writes pile up.
    void stopReading() { socket.setReadBufferSize(1), socket.disconnect(); }
    // Paused, it leaves what comes in the kernel until it goes on.
    void pause(bool on) { socket.setReadBufferSize(on), m_received += on ? QByteArray() : socket.readAll(); }

    QTcpSocket socket;

private:
    QByteArray m_received;
};

// What a client that has not joined is shown by the server on this port.
inline ChatProtocol::ReplyParts shownOn(quint16 port)
{
    ChatClient look;
    return look.connectTo(port) ? divide(look.exchange(refresh("200"))) : ChatProtocol::ReplyParts{};
}
inline QStringList linesOn(quint16 port)
{
    return shownOn(port).right.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

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
inline QByteArray join(const QString &name) { return request("CanEnter?", name); }
inline QByteArray post(const QString &text) { return request("NormalTel", text); }
inline QByteArray refresh(QByteArrayView count = "10") { return request("/Reflesh/", {}, count); }

inline ChatProtocol::ReplyParts divide(const QByteArray &reply)
{
    return ChatProtocol::divideReply(Cp932::decode(reply));
}

class ChatClient
{
public:
    explicit ChatClient(const char *from = "127.0.0.1")
    {
        m_socket.bind(QHostAddress(QString::fromLatin1(from)), 0);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] { m_received += m_socket.readAll(); });
    }
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(WaitMs);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    // Waits for n replies counted from the last call; tests keep "/*/" out
    // of what they post, so each reply holds it once.
    bool waitForReplies(int n)
    {
        const qsizetype target = m_seen + n;
        const auto count = [this] { return m_received.count(QByteArrayView("/*/")); };
        (void)QTest::qWaitFor([&] { return count() >= target; }, WaitMs);
        m_seen = count();
        return m_seen >= target;
    }
    // The reply to one request; empty when none came.
    QByteArray exchange(const QByteArray &bytes)
    {
        const qsizetype before = m_received.size();
        send(bytes);
        return waitForReplies(1) ? m_received.mid(before) : QByteArray();
    }
    bool waitForClose()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; },
                               WaitMs);
    }
    // Leaves what arrives in the kernel: the peer's writes pile up.
    void stopReading()
    {
        m_socket.setReadBufferSize(1);
        m_socket.disconnect();
    }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
    qsizetype m_seen = 0;
};

#pragma once

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A test server on one loopback address: keeps every byte each connection
// sends and lets the test answer or close.
class CaptureServer : public QObject
{
    Q_OBJECT

public:
    explicit CaptureServer(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = m_server.nextPendingConnection()) {
                const int index = int(m_peers.size());
                m_peers.append(peer);
                m_received.append(QByteArray());
                connect(peer, &QTcpSocket::readyRead, this,
                        [this, peer, index] { m_received[index] += peer->readAll(); });
            }
        });
    }

    bool listen(const QString &address, quint16 port)
    {
        return m_server.listen(QHostAddress(address), port);
    }
    int connections() const { return int(m_peers.size()); }
    QByteArray received(int index = 0) const { return m_received.value(index); }
    QTcpSocket *peer(int index = 0) const { return m_peers.value(index); }
    void reply(const QByteArray &bytes, int index = 0)
    {
        if (QTcpSocket *p = peer(index)) {
            p->write(bytes);
            p->flush();
        }
    }

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_peers;
    QList<QByteArray> m_received;
};

#pragma once

#include "lan.h"
#include "waituntil.h"
#include "wire/chatprotocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

#include <utility>

// The longest any step of the default run waits for the LAN.
constexpr int WaitMs = 60000;

// A raw client: joins (unless nameless), reads whatever comes and counts
// the replies' bytes. One that has not joined gets no pushes.
class Peer : public QObject
{
public:
    explicit Peer(const QString &name, int lines = ChatProtocol::DefaultLineCount)
        : m_name(name), m_lines(lines)
    {
        connect(&socket, &QTcpSocket::connected, this, [this] {
            if (!m_name.isEmpty())
                socket.write(request("CanEnter?", m_name, m_lines));
        });
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray more = socket.readAll();
            received += more.size();
            if (keep)
                inbox += more;
        });
        socket.connectToHost(QHostAddress(ServerAddress), ChatProtocol::Port);
    }
    bool waitConnected()
    {
        return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState; }, WaitMs);
    }
    void post(const QString &text)
    {
        socket.write(request("NormalTel", text, m_lines));
        socket.flush();
    }
    void refresh() { socket.write(request("/Reflesh/", QString(), m_lines)); }

    QTcpSocket socket;
    qint64 received = 0;
    bool keep = false; // inbox gathers what comes
    QByteArray inbox;

private:
    QString m_name;
    int m_lines;
};

// Everything that arrives until the connection has been quiet for quietMs.
inline QByteArray readReply(Peer &peer, int quietMs = 500)
{
    QByteArray whole;
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
            [&] {
                const QByteArray more = std::exchange(peer.inbox, {});
                if (!more.isEmpty())
                    quiet.restart();
                whole += more;
                return !whole.isEmpty() && quiet.elapsed() > quietMs;
            },
            WaitMs);
    return whole;
}

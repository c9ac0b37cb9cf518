#include "harroxserver.h"

#include "chatroom.h"
#include "clientconnection.h"
#include "storewriter.h"

#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {
// Connections waiting in the kernel for accept(); the event loop drains
// them quickly, this only absorbs a burst (everyone reconnecting at once).
constexpr int PendingConnections = 128;

void enableKeepAlive(qintptr fd)
{
    const int on = 1;
    const int idle = HarroxServer::KeepAliveIdleSeconds;
    const int interval = HarroxServer::KeepAliveIntervalSeconds;
    const int probes = HarroxServer::KeepAliveProbes;
    setsockopt(int(fd), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}
} // namespace

HarroxServer::HarroxServer(const ServerOptions &options, ChatRoom &room, StoreWriter &writer,
                           QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_room(room)
    , m_writer(writer)
    , m_pacer({options.replyGapMs(), options.pushBytesPerSecond(), options.live()},
              [this](quint64 id, int lines) {
                  ClientConnection *connection = m_connections.value(id);
                  return connection ? connection->writeReply(lines) : 0;
              })
{
    m_server.setMaxPendingConnections(PendingConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &HarroxServer::acceptPending);
    connect(&m_writer, &StoreWriter::stored, this, &HarroxServer::onStored);
}

bool HarroxServer::listen()
{
    m_server.setListenBacklogSize(PendingConnections);
    return m_server.listen(m_options.listenAddress(), m_options.port());
}

void HarroxServer::acceptPending()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = ClientConnection::describePeer(socket);
        if (!admit(socket, peer)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        enableKeepAlive(socket->socketDescriptor());
        const quint64 id = m_nextId++;
        auto *connection = new ClientConnection(id, socket, m_room,
                                                m_options.requestTimeoutMs(), this);
        m_connections.insert(id, connection);
        m_unjoined.insert(id);
        ++m_perHost[connection->host()];
        connect(connection, &ClientConnection::finished, this, &HarroxServer::forget);
        connect(connection, &ClientConnection::joined, this, [this](quint64 joined) {
            m_unjoined.erase(joined);
        });
        connect(connection, &ClientConnection::posting, &m_writer, &StoreWriter::write);
        connect(connection, &ClientConnection::replyWanted, &m_pacer, &ReplyPacer::request);
        connect(connection, &ClientConnection::roomChanged, &m_pacer, &ReplyPacer::roomChanged);
        qInfo("%s: connected (%lld clients)", qUtf8Printable(peer),
              qlonglong(m_connections.size()));
    }
}

bool HarroxServer::admit(QTcpSocket *socket, const QString &peer)
{
    if (!m_options.allowList().allows(socket->peerAddress())) {
        qWarning("%s: refused: not in an allowed network", qUtf8Printable(peer));
        return false;
    }
    const QString host = ClientConnection::hostOf(socket);
    // Members from there on servers sharing the conversation count too.
    const int fromHost = m_perHost.value(host) + int(m_room.members().othersFrom(host));
    if (fromHost >= m_options.maxPerHost()) {
        qWarning("%s: refused: already %d connections from its address (--max-per-host)",
                 qUtf8Printable(peer), fromHost);
        return false;
    }
    if (m_connections.size() < m_options.maxClients())
        return true;
    if (m_unjoined.empty()) {
        qWarning("%s: refused: already %d clients (--max-clients)", qUtf8Printable(peer),
                 m_options.maxClients());
        return false;
    }
    // drop() ends the connection, which forgets it at once.
    m_connections.value(*m_unjoined.begin())
        ->drop(QStringLiteral("never joined, and %1 needs its place (--max-clients)").arg(peer));
    return true;
}

void HarroxServer::forget(quint64 id)
{
    ClientConnection *connection = m_connections.take(id);
    m_pacer.remove(id);
    if (!connection)
        return;
    m_unjoined.erase(id);
    if (--m_perHost[connection->host()] <= 0)
        m_perHost.remove(connection->host());
    connection->deleteLater();
}

void HarroxServer::onStored(quint64 id, const StoredMessage &message, bool ok,
                            const QString &error)
{
    // Stored messages arrive in the order they were posted.
    if (ok) {
        m_room.addStored(message);
        m_pacer.roomChanged();
    }
    if (ClientConnection *connection = m_connections.value(id))
        connection->messageStored(ok, error);
    else if (!ok)
        qCritical("message of a closed connection not stored: %s", qUtf8Printable(error));
}

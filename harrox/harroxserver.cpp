#include "harroxserver.h"

#include "chatroom.h"
#include "clientconnection.h"
#include "storewriter.h"

#include <QTcpSocket>

namespace {
// Connections waiting in the kernel for accept(); the event loop drains
// them quickly, this only absorbs a burst (everyone reconnecting at once).
constexpr int PendingConnections = 128;
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
        if (!m_options.allowList().allows(socket->peerAddress())) {
            qWarning("%s: refused: not in an allowed network", qUtf8Printable(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_connections.size() >= m_options.maxClients()) {
            qWarning("%s: refused: already %d clients (--max-clients)", qUtf8Printable(peer),
                     m_options.maxClients());
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const quint64 id = m_nextId++;
        auto *connection = new ClientConnection(id, socket, m_room,
                                                m_options.requestTimeoutMs(), this);
        m_connections.insert(id, connection);
        connect(connection, &ClientConnection::finished, this, &HarroxServer::forget);
        connect(connection, &ClientConnection::posting, &m_writer, &StoreWriter::write);
        connect(connection, &ClientConnection::replyWanted, &m_pacer, &ReplyPacer::request);
        connect(connection, &ClientConnection::roomChanged, &m_pacer, &ReplyPacer::roomChanged);
        qInfo("%s: connected (%lld clients)", qUtf8Printable(peer),
              qlonglong(m_connections.size()));
    }
}

void HarroxServer::forget(quint64 id)
{
    m_pacer.remove(id);
    if (ClientConnection *connection = m_connections.take(id))
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

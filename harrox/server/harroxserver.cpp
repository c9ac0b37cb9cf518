#include "harroxserver.h"

#include "chatroom.h"
#include "clientconnection.h"
#include "serverlog.h"
#include "storewriter.h"

#include <QTimer>

#include <unordered_set>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Connections waiting in the kernel for accept(); the event loop drains
// them quickly, this only absorbs a burst (everyone reconnecting at once).
constexpr int PendingConnections = 128;

void enableKeepAlive(int fd)
{
    const int on = 1;
    const int idle = HarroxServer::KeepAliveIdleSeconds;
    const int interval = HarroxServer::KeepAliveIntervalSeconds;
    const int probes = HarroxServer::KeepAliveProbes;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}
} // namespace

HarroxServer::HarroxServer(const ServerSettings &settings, ChatRoom &room, StoreWriter &writer,
                           QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_room(room),
      m_writer(writer),
      m_server([this](int fd) { accept(fd); }),
      m_pacer(settings.pacing, [this](quint64 id, int lines) {
          ClientConnection *connection = m_connections.value(id);
          if (!connection)
              return qint64(0);
          if (!roomForReply(connection->replyCost(lines)))
              return ReplyPacer::Later;
          return connection->writeReply(lines);
      })
{
    m_pacer.setRoundScope([this](const std::function<void()> &deliveries) {
        SocketPoller::Batch batch(m_poller);
        deliveries();
    });
    m_pacer.setUntaken([this](quint64 id) {
        ClientConnection *connection = m_connections.value(id);
        return connection ? connection->untakenBytes() : 0;
    });
    connect(&m_writer, &StoreWriter::stored, this, &HarroxServer::onStored);
    applyRoomLimits();
}

void HarroxServer::applyRoomLimits()
{
    m_room.budget().setLimits(m_settings.postBudget);
    m_room.setCacheBytes(m_settings.replyCacheBytes);
}

HarroxServer::~HarroxServer()
{
    // Their sockets leave the poller, which goes before the children would.
    qDeleteAll(findChildren<ClientConnection *>(Qt::FindDirectChildrenOnly));
}

bool HarroxServer::listen()
{
    return m_server.listen(m_settings.listenAddress, m_settings.port, PendingConnections);
}

void HarroxServer::accept(int fd)
{
    sockaddr_storage from{};
    socklen_t size = sizeof from;
    QHostAddress address;
    quint16 port = 0;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&from), &size) == 0) {
        address.setAddress(reinterpret_cast<const sockaddr *>(&from));
        port = ntohs(from.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(from).sin6_port
                                                : reinterpret_cast<sockaddr_in &>(from).sin_port);
    }
    const QString peer = ClientConnection::describePeer(address, port);
    if (address.isNull() || !admit(address, peer)) {
        ::close(fd);
        return;
    }
    enableKeepAlive(fd);
    const quint64 id = m_nextId++;
    auto *connection = new ClientConnection(id, fd, address, port, m_poller, m_room,
                                            m_settings.requestTimeoutMs, this);
    m_connections.insert(id, connection);
    m_unjoined.insert(id);
    ++m_perHost[connection->host()];
    m_pacer.setHost(id, connection->host());
    connect(connection, &ClientConnection::finished, this, &HarroxServer::forget);
    connect(connection, &ClientConnection::joined, this,
            [this](quint64 joined) { m_unjoined.erase(joined); });
    connect(connection, &ClientConnection::posting, &m_writer, &StoreWriter::write);
    connect(connection, &ClientConnection::replyWanted, &m_pacer, &ReplyPacer::request);
    connect(connection, &ClientConnection::roomChanged, &m_pacer, &ReplyPacer::roomChanged);
    connect(connection, &ClientConnection::dropped, this,
            [this, peer](const QString &why) { emit turnedAway(peer, why); });
    qCInfo(lcServer, "%s: connected (%lld %s)", qUtf8Printable(peer), qlonglong(m_connections.size()),
           m_connections.size() == 1 ? "client" : "clients");
}

bool HarroxServer::admit(const QHostAddress &address, const QString &peer)
{
    if (!m_settings.allowList.allows(address))
        return refuse(peer, QStringLiteral("not in an allowed network"));
    const QString host = ClientConnection::hostOf(address);
    // Members from there on servers sharing the conversation count too.
    const int fromHost = m_perHost.value(host) + int(m_room.members().othersFrom(host));
    if (fromHost >= m_settings.maxPerHost)
        return refuse(peer,
                      QStringLiteral("already %1 connections from its address (--max-per-host)")
                              .arg(fromHost));
    if (m_connections.size() < m_settings.maxClients)
        return true;
    if (m_unjoined.empty())
        return refuse(peer,
                      QStringLiteral("already %1 clients (--max-clients)").arg(m_settings.maxClients));
    // drop() ends the connection, which forgets it at once.
    m_connections.value(*m_unjoined.begin())
            ->drop(QStringLiteral("never joined, and %1 needs its place (--max-clients)").arg(peer));
    return true;
}

bool HarroxServer::refuse(const QString &peer, const QString &why)
{
    qCWarning(lcServer, "%s: refused: %s", qUtf8Printable(peer), qUtf8Printable(why));
    emit turnedAway(peer, why);
    return false;
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
    // Its descriptor closes as it goes: one more to accept with.
    QTimer::singleShot(0, &m_server, &DescriptorServer::descriptorFreed);
}

void HarroxServer::onStored(quint64 id, const StoredMessage &message, bool ok, const QString &error)
{
    // Stored messages arrive in the order they were posted.
    if (ok) {
        m_room.addStored(message);
        m_pacer.roomChanged();
    }
    if (ClientConnection *connection = m_connections.value(id))
        connection->messageStored(ok, error);
    else if (!ok)
        qCCritical(lcServer, "message of a closed connection not stored: %s", qUtf8Printable(error));
}

qint64 HarroxServer::queuedBytes() const
{
    // A reply rendered once for many clients is kept once.
    std::unordered_set<const char *> counted;
    qint64 total = 0;
    for (const ClientConnection *connection : m_connections) {
        if (connection->queuedBytes() == 0)
            continue;
        for (const QByteArray &reply : connection->queuedReplies()) {
            if (counted.insert(reply.constData()).second)
                total += reply.size();
        }
    }
    return total;
}

bool HarroxServer::roomForReply(qint64 cost)
{
    if (cost <= QueueCheckBytes)
        return true;
    // One reply alone may be as long as the conversation makes it.
    const qint64 queued = queuedBytes();
    const bool room = queued == 0 || queued + cost <= m_settings.queuedBytesLimit;
    if (room == m_queueFull) {
        m_queueFull = !room;
        if (m_queueFull)
            qCWarning(lcServer,
                      "%lld MiB of replies wait for clients to take them (--queue-mib): "
                      "long replies wait for room",
                      qlonglong(queued / (1024 * 1024)));
        else
            qCInfo(lcServer, "room for long replies again");
    }
    return room;
}

QStringList HarroxServer::connectionLines() const
{
    QStringList lines;
    for (const ClientConnection *connection : m_connections) {
        const quint64 id = connection->id();
        lines.append(QStringLiteral("%1 %2").arg(connection->peer(),
                                                 m_room.members().contains(id)
                                                         ? m_room.members().nameOf(id)
                                                         : QStringLiteral("(not joined)")));
    }
    lines.sort();
    return lines;
}

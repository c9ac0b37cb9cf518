#pragma once

#include "descriptorserver.h"
#include "replypacer.h"
#include "serversettings.h"
#include "socketpoller.h"

#include <QHash>
#include <QObject>

#include <set>

class ChatRoom;
class ClientConnection;
class StoreWriter;
struct StoredMessage;

// Accepts connections for the room: only from allowed networks, up to a
// limit per address, and up to the client limit, at which a connection that
// never joined makes room for the newcomer. Each accepted one becomes a
// ClientConnection. Posted messages go to the writer and join the
// conversation once stored. Every reply goes out through the pacer.
class HarroxServer : public QObject
{
    Q_OBJECT

public:
    explicit HarroxServer(const ServerSettings &settings, ChatRoom &room, StoreWriter &writer,
                          QObject *parent = nullptr);
    ~HarroxServer() override;

    bool listen();
    // A reload: the allow-list and the limits apply to the next connection;
    // the address and the pacing stay as they were.
    void setSettings(const ServerSettings &settings) { m_settings = settings, applyRoomLimits(); }
    QString errorString() const { return m_server.errorString(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    qsizetype connectionCount() const { return m_connections.size(); }
    // One line a connection: its address and port, and its name once joined.
    QStringList connectionLines() const;
    // The room changed other than through our clients: a server sharing
    // the conversation posted, or its members changed.
    void roomChangedElsewhere() { m_pacer.roomChanged(); }

    // Idle time, probe interval and probes before the kernel drops a peer that
    // went away without a word (a laptop put to sleep): gone within 2 minutes.
    static constexpr int KeepAliveIdleSeconds = 60;
    static constexpr int KeepAliveIntervalSeconds = 10;
    static constexpr int KeepAliveProbes = 6;

signals:
    // A peer refused at the door or a connection dropped, and why.
    void turnedAway(const QString &peer, const QString &why);

private:
    // The room's limits from the settings, at the start and after a reload.
    void applyRoomLimits();
    void accept(int fd);
    bool admit(const QHostAddress &address, const QString &peer);
    bool refuse(const QString &peer, const QString &why);
    void forget(quint64 id);
    void onStored(quint64 id, const StoredMessage &message, bool ok, const QString &error);
    // The replies queued for all clients, each shared one once.
    qint64 queuedBytes() const;
    // Whether a reply that takes so much memory anew may be written now;
    // past the bound on queued replies a long one waits for clients to take
    // theirs (or for the stalled to be dropped), so that a few members who
    // ask for long replies and read none cannot take the memory.
    bool roomForReply(qint64 cost);
    // Shorter replies always go: no client is kept waiting for a few lines.
    static constexpr qint64 QueueCheckBytes = 1024 * 1024;

    ServerSettings m_settings;
    ChatRoom &m_room;
    StoreWriter &m_writer;
    SocketPoller m_poller;
    DescriptorServer m_server;
    QHash<quint64, ClientConnection *> m_connections;
    ReplyPacer m_pacer;
    // Connections that have not joined, oldest first: the first to go.
    std::set<quint64> m_unjoined;
    QHash<QString, int> m_perHost;
    quint64 m_nextId = 1;
    bool m_queueFull = false; // logged once each time it fills
};

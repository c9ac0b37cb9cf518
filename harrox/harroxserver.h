#pragma once

#include "replypacer.h"
#include "serveroptions.h"

#include <QHash>
#include <QObject>
#include <QTcpServer>

class ChatRoom;
class ClientConnection;
class StoreWriter;
struct StoredMessage;

// Accepts connections for the room: only from allowed networks and only up
// to the client limit; each accepted one becomes a ClientConnection. Posted
// messages go to the writer and join the conversation once stored. Every
// reply goes out through the pacer.
class HarroxServer : public QObject
{
    Q_OBJECT

public:
    explicit HarroxServer(const ServerOptions &options, ChatRoom &room, StoreWriter &writer,
                          QObject *parent = nullptr);

    bool listen();
    QString errorString() const { return m_server.errorString(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    qsizetype connectionCount() const { return m_connections.size(); }

private:
    void acceptPending();
    void forget(quint64 id);
    void onStored(quint64 id, const StoredMessage &message, bool ok, const QString &error);

    const ServerOptions &m_options;
    ChatRoom &m_room;
    StoreWriter &m_writer;
    QTcpServer m_server;
    QHash<quint64, ClientConnection *> m_connections;
    ReplyPacer m_pacer;
    quint64 m_nextId = 1;
};

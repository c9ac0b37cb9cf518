#pragma once

#include "pgfollower.h"
#include "storedmessage.h"

#include <QObject>
#include <QThread>

#include <memory>

class ChatRoom;
class HarroxServer;
class PgConversationStore;

// This server's room in a conversation shared through PostgreSQL: rows any
// server committed join the room in commit order, the other servers' members
// show beside ours, and ours are told to them. Lives on the room's thread.
class SharedConversation : public QObject
{
    Q_OBJECT

public:
    SharedConversation(PgConversationStore &store, ChatRoom &room, QObject *parent = nullptr);
    ~SharedConversation() override;

    // Once the server listens: its address names this server to the others,
    // and it is told whenever the room changes through them. Rows after
    // lastId are new.
    void follow(HarroxServer &server, const QString &conninfo, const PgFollower::Settings &settings,
                qint64 lastId);
    // What waits on the database gives up within graceMs; the follower ends.
    void stop(int graceMs);

private:
    void endFollower(int graceMs);
    void showRows(const QList<StoredMessage> &rows);

    PgConversationStore &m_store;
    ChatRoom &m_room;
    HarroxServer *m_server = nullptr;
    QThread m_followerThread;
    std::unique_ptr<PgFollower> m_follower;
};

#pragma once

#include "clientsocket.h"
#include "requestsplitter.h"
#include "storedmessage.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

class ChatRoom;
class SocketPoller;

// One client: cuts its byte stream into requests, has each answered by a
// paced reply, and drops it when it misbehaves. Each request must be whole
// within the request timeout of its first byte, and the first one within the
// timeout of connecting; a member who sends nothing is never dropped. While its message is being stored
// it reads nothing more, so its replies keep their order. Its work per event-loop turn is
// bounded, so a flooding client cannot starve the others.
class ClientConnection : public QObject
{
    Q_OBJECT

public:
    // Requests answered before yielding to the event loop.
    static constexpr int RequestsPerTurn = 16;
    // A client that does not read its replies is dropped past this many
    // bytes queued behind the reply it is taking.
    static constexpr qint64 MaxUnsentBytes = 1024 * 1024;
    // ...or when none of a reply is taken for this many request timeouts:
    // long enough for a link that drops or stalls for a while.
    static constexpr int StalledTimeouts = 10;
    static constexpr qint64 TakenAtLeastBytes = 16 * 1024;
    // Bytes taken from the socket at once: a flood stays in the kernel (and
    // TCP pushes back) while we catch up.
    static constexpr qint64 ReadChunkBytes = ClientSocket::ReadBufferBytes;

    // Takes ownership of fd, a socket connected to address:port.
    explicit ClientConnection(quint64 id, int fd, const QHostAddress &address, quint16 port,
                              SocketPoller &poller, ChatRoom &room, int requestTimeoutMs,
                              QObject *parent = nullptr);

    quint64 id() const { return m_id; }
    QString peer() const { return m_peer; }
    QString host() const { return m_host; }
    int descriptor() const { return m_socket.descriptor(); }

    // An address as logs and limits show it, IPv4-mapped addresses as IPv4.
    static QString hostOf(const QHostAddress &address);
    // "address:port".
    static QString describePeer(const QHostAddress &address, quint16 port);

    // The message it posted is stored (or not): reply and go on.
    void messageStored(bool ok, const QString &error);
    // The memory its next reply of so many lines would take anew.
    qsizetype replyCost(int lines) const;
    // Writes the reply now, with a pending not-stored notice; returns its bytes.
    qint64 writeReply(int lines);
    // Its replies that wait for the kernel to take them.
    qint64 queuedBytes() const { return m_socket.bytesToWrite(); }
    const QList<QByteArray> &queuedReplies() const { return m_socket.queued(); }
    // Bytes of its replies not taken yet; drops a client that takes none.
    qint64 untakenBytes();
    void drop(const QString &why);

signals:
    void joined(quint64 id);
    // Store this message, then call messageStored().
    void posting(quint64 id, const StoredMessage &message);
    // The connection is over; it has left the room.
    void finished(quint64 id);
    // Answer it with a reply of so many lines, as soon as its pace allows.
    void replyWanted(quint64 id, int lines, bool joined);
    // It joined, renamed itself or left.
    void roomChanged();
    // Ended by the server, for this reason; finished() follows.
    void dropped(const QString &why);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void work();
    void startRequestTimer();
    bool feedFromSocket();
    void queueWork();
    void answer(const Request &request);
    void wantReply(int lines);
    void requestTimedOut();
    void peerClosed();
    void end();

    quint64 m_id;
    ChatRoom &m_room;
    QString m_host;
    QString m_peer;
    ClientSocket m_socket;
    RequestSplitter m_splitter;
    // A timer id, not a QTimer: no object of its own for each client.
    QBasicTimer m_requestTimer;
    int m_requestTimeoutMs;
    QElapsedTimer m_takeProgress; // since its untaken bytes last fell
    qint64 m_untaken = 0; // when it last made progress
    bool m_answeredAny = false;
    int m_postedLines = 0;
    QString m_postedText;
    QString m_notice; // a post not stored, with why, for the next reply to its sender
    bool m_overBudget = false;
    bool m_awaitingStore = false;
    bool m_workQueued = false;
    bool m_ended = false;
};

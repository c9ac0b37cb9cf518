#include "clientconnection.h"

#include "chatroom.h"

#include <QDateTime>
#include <QTimerEvent>

namespace {

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QString verbName(Request::Verb verb)
{
    return QString::fromLatin1(Request::verbText(verb));
}

} // namespace

ClientConnection::ClientConnection(quint64 id, int fd, const QHostAddress &address, quint16 port,
                                   SocketPoller &poller, ChatRoom &room, int requestTimeoutMs,
                                   QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_room(room)
    , m_host(hostOf(address))
    , m_peer(describePeer(address, port))
    , m_socket(fd, poller, [this] { work(); })
    , m_requestTimeoutMs(requestTimeoutMs)
{
    // The first request is due within the timeout of connecting.
    startRequestTimer();
}

QString ClientConnection::hostOf(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

QString ClientConnection::describePeer(const QHostAddress &address, quint16 port)
{
    return QStringLiteral("%1:%2").arg(hostOf(address)).arg(port);
}

void ClientConnection::startRequestTimer()
{
    m_requestTimer.start(m_requestTimeoutMs, this);
}

void ClientConnection::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_requestTimer.timerId())
        return QObject::timerEvent(event);
    m_requestTimer.stop();
    requestTimedOut();
}

// Takes the next chunk from the socket; false when there was none.
bool ClientConnection::feedFromSocket()
{
    return m_socket.read(ReadChunkBytes, [this](QByteArrayView bytes) { m_splitter.feed(bytes); }) > 0;
}

void ClientConnection::queueWork()
{
    if (m_workQueued)
        return;
    m_workQueued = true;
    QMetaObject::invokeMethod(this, &ClientConnection::work, Qt::QueuedConnection);
}

void ClientConnection::work()
{
    m_workQueued = false;
    if (m_awaitingStore)
        return;
    for (int answered = 0; answered < RequestsPerTurn && !m_ended;) {
        Request request;
        switch (m_splitter.next(&request)) {
        case RequestSplitter::Status::Ready:
            // The next request's deadline runs from its first byte, which
            // may be here already; while a message is stored none runs.
            if (m_splitter.bufferedBytes() > 0)
                startRequestTimer();
            else
                m_requestTimer.stop();
            answer(request);
            ++answered;
            if (m_awaitingStore) {
                m_requestTimer.stop();
                return;
            }
            continue;
        case RequestSplitter::Status::NeedMore:
            break;
        case RequestSplitter::Status::UnknownVerb:
            drop(QStringLiteral("unknown verb (%1 bytes not understood)")
                     .arg(m_splitter.bufferedBytes()));
            return;
        case RequestSplitter::Status::Oversized:
            drop(QStringLiteral("request larger than %1 bytes")
                     .arg(RequestSplitter::MaxRequestBytes));
            return;
        case RequestSplitter::Status::MissingSeparators:
            return; // only finish() reports it
        }
        // Read only when every complete request is answered: the splitter
        // then never holds more than about one request and one chunk.
        if (!m_socket.mayHaveBytes() || !feedFromSocket()) {
            if (!m_socket.isOpen())
                peerClosed();
            return;
        }
        // Later bytes never move a deadline that runs already.
        if (!m_requestTimer.isActive() && m_splitter.bufferedBytes() > 0)
            startRequestTimer();
    }
    if (!m_ended)
        queueWork();
}

void ClientConnection::answer(const Request &request)
{
    if (!request.hasValidEncoding()) {
        qWarning("%s: %s with bytes that are not CP932 (shown as \"?\")",
                 qUtf8Printable(m_peer), qUtf8Printable(verbName(request.verb)));
    }
    m_answeredAny = true;
    const QString oldName = m_room.members().nameOf(m_id);
    const ChatRoom::Outcome outcome =
        m_room.handle(m_id, request, QDateTime::currentDateTimeUtc(), m_peer);
    if (outcome.effect == ChatRoom::Effect::Posting || outcome.effect == ChatRoom::Effect::Renamed)
        m_overBudget = false;
    switch (outcome.effect) {
    case ChatRoom::Effect::Joined:
        emit joined(m_id);
        qInfo("%s: join as %s (claims %s)", qUtf8Printable(m_peer),
              qUtf8Printable(quoted(request.text())),
              qUtf8Printable(QString::fromLatin1(request.address)));
        emit roomChanged();
        break;
    case ChatRoom::Effect::Renamed:
        qInfo("%s: rename %s to %s", qUtf8Printable(m_peer), qUtf8Printable(quoted(oldName)),
              qUtf8Printable(quoted(request.text())));
        emit roomChanged();
        break;
    case ChatRoom::Effect::Posting:
        // After a close nothing is answered, but the message is still kept.
        m_awaitingStore = m_socket.isOpen();
        m_postedLines = request.lines();
        m_postedText = outcome.message.body;
        emit posting(m_id, outcome.message);
        return;
    case ChatRoom::Effect::OverBudget:
        // Logged once each time it goes over, not for every post it sends.
        if (!std::exchange(m_overBudget, true))
            qWarning("%s: over its posting budget (--posts-per-minute, --kib-per-minute, --host-budget): "
                     "not stored until it slows down", qUtf8Printable(m_peer));
        m_notice = ChatRoom::OverBudgetNotice.toString() + MemberList::cleanText(request.text());
        break;
    case ChatRoom::Effect::NotJoined:
        qWarning("%s: message before joining, answered as a refresh and not stored",
                 qUtf8Printable(m_peer));
        break;
    case ChatRoom::Effect::Answered:
        break;
    }
    wantReply(request.lines());
}

void ClientConnection::messageStored(bool ok, const QString &error)
{
    if (!ok)
        qCritical("%s: message not stored: %s", qUtf8Printable(m_peer), qUtf8Printable(error));
    if (!m_awaitingStore)
        return;
    m_awaitingStore = false;
    // A post that was not stored comes back to its sender alone, once.
    if (!ok)
        m_notice = ChatRoom::NotStoredNotice.toString() + m_postedText;
    wantReply(m_postedLines);
    if (m_splitter.bufferedBytes() > 0)
        startRequestTimer();
    queueWork();
}

void ClientConnection::wantReply(int lines)
{
    if (!m_ended && m_socket.isOpen())
        emit replyWanted(m_id, lines, m_room.members().contains(m_id));
}

qint64 ClientConnection::writeReply(int lines)
{
    if (m_ended || !m_socket.isOpen())
        return 0;
    // Rendered now: a reply that waited shows the room as it is.
    const QByteArray reply = m_room.reply(lines, std::exchange(m_notice, {}));
    m_socket.write(reply);
    if (!m_socket.isOpen()) {
        // Gone: it says so on the next read, with what it sent before.
        queueWork();
    } else if (m_socket.bytesToWrite() > MaxUnsentBytes) {
        drop(QStringLiteral("not reading its replies (%1 bytes unsent)")
                 .arg(m_socket.bytesToWrite()));
    }
    return reply.size();
}

void ClientConnection::requestTimedOut()
{
    if (m_ended || m_awaitingStore)
        return;
    // Bytes that wait in the socket came in time: only a busy server has
    // not read them yet.
    if (m_socket.mayHaveBytes())
        feedFromSocket();
    Request request;
    const RequestSplitter::Status status = m_splitter.finish(&request);
    if (status == RequestSplitter::Status::Ready) {
        answer(request);
        if (m_splitter.bufferedBytes() > 0 && !m_awaitingStore)
            startRequestTimer();
        queueWork();
        return;
    }
    if (status == RequestSplitter::Status::MissingSeparators) {
        drop(QStringLiteral("request not complete within %1 ms (%2 bytes)")
                 .arg(m_requestTimeoutMs)
                 .arg(m_splitter.bufferedBytes()));
    } else if (!m_answeredAny) {
        drop(QStringLiteral("no request within %1 ms of connecting").arg(m_requestTimeoutMs));
    }
}

void ClientConnection::peerClosed()
{
    if (m_ended)
        return;
    // What arrived before the close still counts: a message sent right
    // before quitting is kept. Every complete request is answered already;
    // a last one whose end only the close shows is completed here.
    Request request;
    if (m_splitter.finish(&request) == RequestSplitter::Status::Ready)
        answer(request);
    end();
}

void ClientConnection::drop(const QString &why)
{
    if (m_ended)
        return;
    qWarning("%s: dropped: %s", qUtf8Printable(m_peer), qUtf8Printable(why));
    m_splitter.clear();
    end();
    m_socket.abort();
}

void ClientConnection::end()
{
    if (m_ended)
        return;
    m_ended = true;
    m_requestTimer.stop();
    m_splitter.clear();
    const QString name = m_room.members().nameOf(m_id);
    if (m_room.leave(m_id)) {
        qInfo("%s: leave %s", qUtf8Printable(m_peer), qUtf8Printable(quoted(name)));
        emit roomChanged();
    } else {
        qInfo("%s: closed without joining", qUtf8Printable(m_peer));
    }
    emit finished(m_id);
}

#include "clientconnection.h"

#include "chatroom.h"
#include "serverlog.h"

#include <QDateTime>
#include <QTimerEvent>

namespace {

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// What a client claims, cut: a 255-byte address would otherwise fill the
// log line, and a line break in it would start a forged one.
QString claimed(const QByteArray &address)
{
    constexpr qsizetype ClaimedChars = 64;
    const QString text = MemberList::cleanText(QString::fromLatin1(address));
    return text.size() > ClaimedChars ? text.left(ClaimedChars) + QStringLiteral("...") : text;
}

QString verbName(Request::Verb verb)
{
    return QString::fromLatin1(Request::verbText(verb));
}

} // namespace

ClientConnection::ClientConnection(quint64 id, int fd, const QHostAddress &address, quint16 port,
                                   SocketPoller &poller, ChatRoom &room, int requestTimeoutMs,
                                   QObject *parent)
    : QObject(parent),
      m_id(id),
      m_room(room),
      m_host(hostOf(address)),
      m_peer(describePeer(address, port)),
      m_socket(fd, poller, [this] { work(); }),
      m_requestTimeoutMs(requestTimeoutMs)
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
            drop(QStringLiteral("request larger than %1 bytes").arg(RequestSplitter::MaxRequestBytes));
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
        qCWarning(lcServer, "%s: %s with bytes that are not CP932 (shown as \"?\")",
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
        // The name as the room shows it: cleaned and cut.
        qCInfo(lcServer, "%s: join as %s (claims %s)", qUtf8Printable(m_peer),
               qUtf8Printable(quoted(m_room.members().nameOf(m_id))),
               qUtf8Printable(claimed(request.address)));
        emit roomChanged();
        break;
    case ChatRoom::Effect::Renamed:
        qCInfo(lcServer, "%s: rename %s to %s", qUtf8Printable(m_peer), qUtf8Printable(quoted(oldName)),
               qUtf8Printable(quoted(m_room.members().nameOf(m_id))));
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
            qWarning("%s: over its posting budget (--posts-per-minute, --kib-per-minute, "
                     "--host-budget): "
                     "not stored until it slows down",
                     qUtf8Printable(m_peer));
        m_notice = ChatRoom::OverBudgetNotice.toString() + MemberList::cleanText(request.text());
        break;
    case ChatRoom::Effect::NotJoined:
        qCWarning(lcServer, "%s: message before joining, answered as a refresh and not stored",
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
        qCCritical(lcServer, "%s: message not stored: %s", qUtf8Printable(m_peer),
                   qUtf8Printable(error));
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

qsizetype ClientConnection::replyCost(int lines) const
{
    return m_room.replyCost(lines, !m_notice.isEmpty());
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
    } else if (m_socket.bytesBehindFirst() > MaxUnsentBytes) {
        // The reply being taken does not count: on a slow link a long one
        // is mostly unsent for a while.
        drop(QStringLiteral("not reading its replies (%1 bytes unsent)")
                     .arg(m_socket.bytesBehindFirst()));
    }
    return reply.size();
}

qint64 ClientConnection::untakenBytes()
{
    const qint64 untaken = m_socket.untakenBytes();
    // More is a new reply; less by 16 KiB or more, progress. A full
    // receive buffer that the kernel compacts takes a few bytes now and then.
    if (untaken == 0 || untaken > m_untaken || untaken <= m_untaken - TakenAtLeastBytes
        || !m_takeProgress.isValid()) {
        m_takeProgress.start();
        m_untaken = untaken;
    }
    const qint64 stalledMs = qint64(StalledTimeouts) * m_requestTimeoutMs;
    if (untaken > 0 && m_takeProgress.elapsed() > stalledMs) {
        drop(QStringLiteral("not reading its replies (%1 bytes not taken in %2 ms)")
                     .arg(untaken)
                     .arg(stalledMs));
    }
    return untaken;
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
    qCWarning(lcServer, "%s: dropped: %s", qUtf8Printable(m_peer), qUtf8Printable(why));
    emit dropped(why);
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
        qCInfo(lcServer, "%s: leave %s", qUtf8Printable(m_peer), qUtf8Printable(quoted(name)));
        emit roomChanged();
    } else {
        qCInfo(lcServer, "%s: closed without joining", qUtf8Printable(m_peer));
    }
    emit finished(m_id);
}

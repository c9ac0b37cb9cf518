#include "chatsocket.h"

#include "socketerrortext.h"
#include "wire/cp932.h"

#include <QHostAddress>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

// Data not acknowledged for this long ends the link.
constexpr unsigned UserTimeoutMs = 12000;
// An idle link is probed after 20 s, then every 3 s; three probes
// unanswered end it: a dead idle link is noticed within half a minute.
constexpr int KeepIdleSeconds = 20;
constexpr int KeepIntervalSeconds = 3;
constexpr int KeepProbes = 3;
constexpr qint64 MicrosecondsPerMs = 1000;
constexpr int AddressGroups = 4;
constexpr int MaxGroupDigits = 3;
constexpr int MaxGroupValue = 255;
constexpr int BitsPerGroup = 8;
constexpr int DecimalBase = 10;

} // namespace

ChatSocket::ChatSocket(QObject *parent) : QObject(parent)
{
    m_socket.setParent(this);
    m_quiet.setParent(this);
    m_quiet.setSingleShot(true);
    m_quiet.setTimerType(Qt::PreciseTimer); // a coarse timer may fire 5 % early
    connect(&m_quiet, &QTimer::timeout, this, &ChatSocket::onQuiet);
    m_monotonic.start();
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_closeReported = false;
        watchLink();
        emit connected();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &ChatSocket::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ChatSocket::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &ChatSocket::reportClosed);
}

void ChatSocket::reportClosed()
{
    // The reply the peer sent last is shown before its close.
    if (m_socket.bytesAvailable() > 0)
        m_assembler.add(m_socket.readAll(), m_monotonic.elapsed());
    if (m_assembler.hasUnshown())
        deliver();
    if (!m_closeReported) {
        m_closeReported = true;
        emit closed();
    }
}

void ChatSocket::close()
{
    // Our own close is not an event of the socket.
    const QSignalBlocker blocker(m_socket);
    m_socket.abort();
    m_quiet.stop();
    m_assembler.reset();
}

void ChatSocket::watchLink()
{
    const int fd = int(m_socket.socketDescriptor());
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleSeconds, sizeof KeepIdleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalSeconds, sizeof KeepIntervalSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepProbes, sizeof KeepProbes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &UserTimeoutMs, sizeof UserTimeoutMs);
}

std::optional<quint32> ChatSocket::parseAddress(QStringView text)
{
    const QList<QStringView> groups = text.split(u'.');
    if (groups.size() != AddressGroups)
        return std::nullopt;
    quint32 address = 0;
    for (QStringView group : groups) {
        if (group.isEmpty() || group.size() > MaxGroupDigits)
            return std::nullopt;
        int value = 0;
        for (QChar c : group) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * DecimalBase + (c.unicode() - u'0');
        }
        if (value > MaxGroupValue)
            return std::nullopt;
        address = (address << BitsPerGroup) | quint32(value);
    }
    return address;
}

bool ChatSocket::connectToRemote()
{
    m_requestError.clear();
    // Only a literal address: a destination never causes a name look-up.
    const std::optional<quint32> address = parseAddress(m_remoteHost);
    if (!address) {
        m_requestError = socketErrorText(QAbstractSocket::HostNotFoundError);
        return false;
    }
    close();
    m_closeReported = false;
    m_socket.connectToHost(QHostAddress(*address), m_remotePort);
    return true;
}

QString ChatSocket::localAddress() const
{
    return m_socket.localAddress().toString();
}

bool ChatSocket::send(const QString &text, int lines)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return false;
    m_assembler.expect(lines);
    return m_socket.write(Cp932::encode(text)) >= 0;
}

bool ChatSocket::moreBytesArrived() const
{
    int pending = 0;
    const qintptr fd = m_socket.socketDescriptor();
    return fd >= 0 && ::ioctl(int(fd), FIONREAD, &pending) == 0 && pending > 0;
}

void ChatSocket::onReadyRead()
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(int(m_socket.socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) == 0)
        m_assembler.setRoundTrip(info.tcpi_rtt / MicrosecondsPerMs);
    emit received();
    if (m_assembler.add(m_socket.readAll(), m_monotonic.elapsed()))
        deliver();
    else
        m_quiet.start(int(m_assembler.quietMs())); // each piece restarts the quiet window
}

void ChatSocket::onQuiet()
{
    // A starved event loop can run this before the read that is already
    // waiting: bytes in the kernel mean the reply is still arriving.
    if (moreBytesArrived()) {
        m_quiet.start(int(m_assembler.quietMs()));
        return;
    }
    deliver();
}

void ChatSocket::deliver()
{
    m_quiet.stop();
    const ReplyAssembler::Reply reply = m_assembler.take();
    if (reply.cut)
        emit replyCut();
    emit dataArrival(Cp932::decode(reply.bytes), reply.continues);
}

void ChatSocket::onError(QAbstractSocket::SocketError code)
{
    if (code == QAbstractSocket::RemoteHostClosedError) {
        // The peer closed: that is the close event, not an error.
        reportClosed();
        return;
    }
    emit error(socketErrorText(code));
}

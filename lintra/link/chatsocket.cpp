#include "chatsocket.h"

#include "wire/chatprotocol.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <sys/ioctl.h>

namespace {

// A peer that never falls quiet still gets its text shown.
constexpr qint64 MaxGatherMs = 2000;
constexpr qsizetype MaxGatherBytes = 8 * 1024 * 1024;
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
    m_quiet.setInterval(ChatProtocol::ReplyQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &ChatSocket::onQuiet);
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_closeReported = false;
        emit connected();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &ChatSocket::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &ChatSocket::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &ChatSocket::reportClosed);
}

void ChatSocket::reportClosed()
{
    // The reply the peer sent last is shown before its close.
    m_gathered += m_socket.readAll();
    if (!m_gathered.isEmpty())
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
    m_decoder.reset();
    m_quiet.stop();
    m_gathered.clear();
    m_gathering.invalidate();
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
        m_requestError = QCoreApplication::translate("QAbstractSocket", "Host not found");
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

void ChatSocket::send(const QString &text)
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return;
    m_socket.write(Cp932::encode(text));
}

bool ChatSocket::moreBytesArrived() const
{
    int pending = 0;
    const qintptr fd = m_socket.socketDescriptor();
    return fd >= 0 && ::ioctl(int(fd), FIONREAD, &pending) == 0 && pending > 0;
}

void ChatSocket::onReadyRead()
{
    if (!m_gathering.isValid())
        m_gathering.start();
    m_gathered += m_socket.readAll();
    if (m_gathering.elapsed() >= MaxGatherMs || m_gathered.size() >= MaxGatherBytes)
        deliver();
    else
        m_quiet.start(); // each piece restarts the quiet window
}

void ChatSocket::onQuiet()
{
    // A starved event loop can run this before the read that is already
    // waiting: bytes in the kernel mean the reply is still arriving.
    if (moreBytesArrived() && m_gathering.elapsed() < MaxGatherMs) {
        m_quiet.start();
        return;
    }
    deliver();
}

void ChatSocket::deliver()
{
    m_quiet.stop();
    m_gathering.invalidate();
    const QString text = m_decoder.decode(m_gathered);
    m_gathered.clear();
    // A lone lead byte waits for the rest of its character.
    if (!text.isEmpty())
        emit dataArrival(text);
}

void ChatSocket::onError(QAbstractSocket::SocketError code)
{
    if (code == QAbstractSocket::RemoteHostClosedError) {
        // The peer closed: that is the close event, not an error.
        reportClosed();
        return;
    }
    emit error(m_socket.errorString());
}

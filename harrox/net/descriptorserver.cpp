#include "descriptorserver.h"

#include "netlog.h"

#include <QSocketNotifier>

#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

DescriptorServer::DescriptorServer(Accepted accepted, QObject *parent)
    : QObject(parent), m_accepted(std::move(accepted))
{
    m_retry.setParent(this);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &DescriptorServer::descriptorFreed);
}

DescriptorServer::~DescriptorServer()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DescriptorServer::listen(const QHostAddress &address, quint16 port, int backlog)
{
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_storage at{};
    socklen_t size = 0;
    if (v6) {
        auto &in6 = reinterpret_cast<sockaddr_in6 &>(at);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::copy(std::begin(bytes.c), std::end(bytes.c), in6.sin6_addr.s6_addr);
        size = sizeof in6;
    } else {
        auto &in = reinterpret_cast<sockaddr_in &>(at);
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = htonl(address.toIPv4Address());
        size = sizeof in;
    }
    const int on = 1;
    // "::" serves IPv4 peers too, whatever net.ipv6.bindv6only says: Lintra
    // connects over IPv4 alone.
    const int v6Only = 0;
    if (m_fd < 0 || ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || (address == QHostAddress::AnyIPv6
            && ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) != 0)
        || ::bind(m_fd, reinterpret_cast<sockaddr *>(&at), size) != 0 || ::listen(m_fd, backlog) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&at), &size) != 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    m_address.setAddress(reinterpret_cast<const sockaddr *>(&at));
    m_port = ntohs(v6 ? reinterpret_cast<sockaddr_in6 &>(at).sin6_port
                      : reinterpret_cast<sockaddr_in &>(at).sin_port);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DescriptorServer::acceptAll);
    return true;
}

bool DescriptorServer::accepting() const
{
    return m_notifier && m_notifier->isEnabled();
}

void DescriptorServer::descriptorFreed()
{
    if (!m_notifier || m_notifier->isEnabled())
        return;
    m_retry.stop();
    m_notifier->setEnabled(true);
    acceptAll();
}

void DescriptorServer::acceptAll()
{
    while (m_notifier->isEnabled()) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            m_accepted(fd);
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            qCWarning(lcNet, "out of open files (%s): not accepting until a connection closes",
                      qUtf8Printable(qt_error_string(errno)));
            m_notifier->setEnabled(false);
            m_retry.start(RetryMs);
        }
        // EAGAIN: all taken; ECONNABORTED and the like: that one gave up.
        if (errno != ECONNABORTED && errno != EINTR)
            return;
    }
}

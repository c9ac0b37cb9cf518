#include "allowlist.h"

AllowList AllowList::lanDefaults()
{
    AllowList list;
    for (const QString &range : lanDefaultRanges())
        list.add(range);
    return list;
}

QStringList AllowList::lanDefaultRanges()
{
    return {QStringLiteral("127.0.0.0/8"),    QStringLiteral("10.0.0.0/8"),
            QStringLiteral("172.16.0.0/12"),  QStringLiteral("192.168.0.0/16"),
            QStringLiteral("169.254.0.0/16"), QStringLiteral("::1/128")};
}

bool AllowList::add(const QString &cidr)
{
    const QString text = cidr.trimmed();
    QPair<QHostAddress, int> subnet;
    if (text.contains(QLatin1Char('/'))) {
        subnet = QHostAddress::parseSubnet(text);
        if (subnet.first.isNull() || subnet.second < 0)
            return false;
    } else {
        const QHostAddress host(text);
        if (host.isNull())
            return false;
        subnet = {host, host.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
    }
    // "::ffff:10.0.0.0/104" means an IPv4 range: keep it as one.
    bool isV4 = false;
    const quint32 v4 = subnet.first.toIPv4Address(&isV4);
    if (isV4 && subnet.first.protocol() == QAbstractSocket::IPv6Protocol) {
        constexpr int MappedPrefixBits = 96;
        if (subnet.second < MappedPrefixBits)
            return false;
        subnet = {QHostAddress(v4), subnet.second - MappedPrefixBits};
    }
    m_subnets.append(subnet);
    return true;
}

bool AllowList::allows(const QHostAddress &peer) const
{
    // A dual-stack socket reports IPv4 peers as ::ffff:a.b.c.d.
    QHostAddress address = peer;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    for (const auto &subnet : m_subnets) {
        if (address.isInSubnet(subnet))
            return true;
    }
    return false;
}

QStringList AllowList::ranges() const
{
    QStringList list;
    for (const auto &subnet : m_subnets)
        list.append(QStringLiteral("%1/%2").arg(subnet.first.toString()).arg(subnet.second));
    return list;
}

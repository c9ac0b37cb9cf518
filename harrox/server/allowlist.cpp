#include "allowlist.h"

#include <QRegularExpression>

namespace {
constexpr int IPv4Bits = 32;
constexpr int IPv6Bits = 128;
constexpr int MappedPrefixBits = 96;
constexpr int MappedMarker = 10; // bytes 10 and 11 are 0xff
} // namespace

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

bool AllowList::mappedIPv4(const QHostAddress &address, quint32 *v4)
{
    // Not QHostAddress::toIPv4Address(), which takes "::" and ::/96 for
    // IPv4 as well.
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < MappedMarker; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    if (bytes[MappedMarker] != 0xff || bytes[MappedMarker + 1] != 0xff)
        return false;
    *v4 = quint32(bytes[12]) << 24 | quint32(bytes[13]) << 16 | quint32(bytes[14]) << 8 | bytes[15];
    return true;
}

QString AllowList::add(const QString &cidr)
{
    static const QRegularExpression dotted(
            QStringLiteral("^(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}$"));
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    const QString text = cidr.trimmed();
    const qsizetype slash = text.indexOf(u'/');
    const QString host = text.left(slash);
    QHostAddress address;
    const bool v6 = host.contains(u':');
    if (!(v6 || dotted.match(host).hasMatch()) || !address.setAddress(host)
        || !address.scopeId().isEmpty())
        return QStringLiteral("not a network: %1 (an IPv4 address in four decimal parts, such as "
                              "192.168.1.0/24, or an IPv6 one)")
                .arg(text);
    const int bits = v6 ? IPv6Bits : IPv4Bits;
    int length = bits;
    if (slash >= 0) {
        const QString prefix = text.mid(slash + 1);
        length = digits.match(prefix).hasMatch() ? prefix.toInt() : -1;
        if (length < 0 || length > bits)
            return QStringLiteral("not a network: %1 (the length after \"/\" is 0 to %2)")
                    .arg(text)
                    .arg(bits);
    }
    // Qt masks the host bits; a range given with them is a typing mistake
    // whose meaning nobody can tell.
    const QPair<QHostAddress, int> subnet =
            QHostAddress::parseSubnet(address.toString() + u'/' + QString::number(length));
    if (subnet.first != address)
        return QStringLiteral("%1 has host bits set: the network of that length is %2/%3")
                .arg(text, subnet.first.toString())
                .arg(length);
    // "::ffff:10.0.0.0/104" means an IPv4 range: keep it as one.
    quint32 v4 = 0;
    if (mappedIPv4(address, &v4)) {
        if (length < MappedPrefixBits)
            return QStringLiteral("not a network: %1 (an IPv4-mapped range is /96 or longer)")
                    .arg(text);
        m_subnets.append({QHostAddress(v4), length - MappedPrefixBits});
    } else {
        m_subnets.append(subnet);
    }
    if (m_subnets.constLast().second == 0)
        m_warnings.append(
                QStringLiteral("--allow %1 lets every %2 address connect")
                        .arg(text,
                             m_subnets.constLast().first.protocol() == QAbstractSocket::IPv4Protocol
                                     ? QStringLiteral("IPv4")
                                     : QStringLiteral("IPv6")));
    return {};
}

bool AllowList::allows(const QHostAddress &peer) const
{
    // A dual-stack socket reports IPv4 peers as ::ffff:a.b.c.d.
    quint32 v4 = 0;
    const QHostAddress address = mappedIPv4(peer, &v4) ? QHostAddress(v4) : peer;
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

#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The networks whose peers may connect.
class AllowList
{
public:
    // Loopback, the private IPv4 ranges and IPv4 link-local: an office LAN.
    static AllowList lanDefaults();
    static QStringList lanDefaultRanges();

    // Accepts "a.b.c.d/len", "a.b.c.d" (a single host) and the IPv6 forms;
    // returns why not, or nothing. What people misread is refused rather
    // than guessed at: "10.1" (which libc reads as 10.0.0.1), "010" (octal),
    // host bits past the length.
    QString add(const QString &cidr);
    bool allows(const QHostAddress &peer) const;
    QStringList ranges() const;
    // Ranges taken that are likely mistakes (a /0 lets in the world).
    QStringList warnings() const { return m_warnings; }

    // The IPv4 address an IPv4-mapped IPv6 one (::ffff:a.b.c.d) stands for.
    static bool mappedIPv4(const QHostAddress &address, quint32 *v4);

private:
    QList<QPair<QHostAddress, int>> m_subnets;
    QStringList m_warnings;
};

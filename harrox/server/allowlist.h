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

    // Accepts "a.b.c.d/len", "a.b.c.d" (a single host) and the IPv6 forms.
    bool add(const QString &cidr);
    bool allows(const QHostAddress &peer) const;
    QStringList ranges() const;

private:
    QList<QPair<QHostAddress, int>> m_subnets;
};

#pragma once

#include "harroxprocess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>

// The shaped LAN the benchmarks run on (scripts/shaped-lan): harrox in its
// server namespace at ServerAddress, this process in its client namespace.

inline const QString ServerAddress = QStringLiteral("127.77.0.2");
// The conversation's size in lines, and a text to fill each.
constexpr int Lines = 1000;
inline const QString Fill =
        QStringLiteral("本日の会議は15時から会議室Ａで行います。資料は各自ご持参ください。");

// A request as the client at the LAN's other end sends it.
QByteArray request(const char *verb, const QString &payload, int lines);

// One shaped LAN, made on construction and removed again when this goes.
class ShapedLan
{
public:
    // shape: the `up` arguments after the name (--rate, --delay, --loss ...).
    explicit ShapedLan(const QString &name, const QStringList &shape = {});
    ~ShapedLan();
    ShapedLan(const ShapedLan &) = delete;
    ShapedLan &operator=(const ShapedLan &) = delete;

    bool isMade() const { return m_made; }
    const QString &name() const { return m_name; }
    // Moves this process into the client namespace; sockets made from then
    // on are on the LAN. Harrox is started through `ip netns exec`, so only
    // this process moves.
    bool enterClient() const;
    // Back to the namespace this process started in.
    static bool enterHome();
    // Cuts the link, or restores it (a LAN with a switch only).
    bool cut() const;

private:
    QString m_name;
    bool m_made = false;
};

// Harrox in the server namespace of a LAN, stopped when this goes.
class LanHarrox
{
public:
    LanHarrox(const QString &lan, const QString &db, const QStringList &more = {},
              const QString &binary = QStringLiteral(HARROX_PATH));
    ~LanHarrox();
    LanHarrox(const LanHarrox &) = delete;
    LanHarrox &operator=(const LanHarrox &) = delete;

    bool isUp() const { return m_up; }
    // CPU seconds of all its threads so far.
    double cpuSeconds() const;
    // User and system CPU seconds so far, in clock ticks' resolution.
    std::pair<double, double> userSystem() const;

private:
    HarroxProcess m_harrox;
    bool m_up = false;
};
